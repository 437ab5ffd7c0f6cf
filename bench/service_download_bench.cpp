// service_download_bench: a log download against plain sockets and a plain
// file.
//
// The subject: the services' download receiver taking one log file of
// FILE_DATA_MSG blocks over loopback (header, the blocks sent from one
// buffer, the job completion) and writing it into a folder, as
// downloadLogFiles does. The baseline: the same bytes in blocks of the same
// size through send()/recv() on a raw loopback pair, written to a file in
// the same folder. Both in alternating rounds with pinned threads; prints
// median MB/s, the ratio, CPU seconds per GiB and allocations per block.
// The folder is /dev/shm when there is one, else $TMPDIR.
//
//   service_download_bench [megabytes per round, default 128] [rounds, default 8]
//
// (the defaults move 1 GiB per size and side).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ClBasicMsgs.h"
#include "ClProxyConnection.h"
#include "FXLogWriter.h"
#include "service/ServiceDownload.h"

namespace {

std::string Folder() {
  static std::string folder;
  if (!folder.empty()) return folder;
  struct stat st;
  std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "";
  if (base.empty()) base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  std::string pattern = base + "/service-download-bench-XXXXXX";
  if (::mkdtemp(&pattern[0])) folder = pattern;
  return folder;
}

bench::Sample RunDownload(const bench::CpuPair& cpus, size_t blockSize, size_t count, double& allocationsPerBlock) {
  ClProxyConnection client, proxy;
  if (!bench::MakePair(client.getConnectionSocket(), proxy.getConnectionSocket())) return bench::Sample();
  std::vector<uint8_t> block(blockSize, 0x5a);
  const std::string name = "bench.log";
  uint64_t before = 0;
  CWqError received;
  bench::Sample sample = bench::Measure(
      cpus,
      [&] {
        CWqSocket& socket = client.getConnectionSocket();
        const uint8_t* header = reinterpret_cast<const uint8_t*>(name.data());
        CWqError sent =
            ClProxyConnection::writeFrame(socket, FILE_HEADER_MSG, header, static_cast<uint32_t>(name.size()));
        for (size_t i = 0; i < count && !sent.IsError(); ++i)
          sent = ClProxyConnection::writeFrame(socket, FILE_DATA_MSG, block.data(), static_cast<uint32_t>(blockSize));
        ClEmptyMsg complete(JOB_COMPLETE_MSG);
        if (!sent.IsError()) sent = client.sendMessage(&complete);
        return !sent.IsError();
      },
      [&] {
        before = bench::AllocationCount();
        received = ReceiveDownload(proxy, true, Folder(), [] {});
        return !received.IsError();
      });
  allocationsPerBlock = static_cast<double>(bench::AllocationCount() - before) / static_cast<double>(count);
  if (received.IsError()) bench::Fail("download", received);
  ::unlink((Folder() + "/" + name).c_str());
  return sample;
}

bench::Sample RunRawToFile(const bench::CpuPair& cpus, size_t blockSize, size_t count, double&) {
  CWqSocket client, server;
  if (!bench::MakePair(client, server)) return bench::Sample();
  std::vector<uint8_t> out(blockSize, 0x5a), in(blockSize);
  const std::string path = Folder() + "/raw.log";
  bench::Sample sample = bench::Measure(
      cpus,
      [&] {
        for (size_t i = 0; i < count; ++i)
          if (!bench::SendAll(client.GetSocketDescriptor(), out.data(), blockSize)) return false;
        return true;
      },
      [&] {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        bool ok = true;
        for (size_t i = 0; i < count && ok; ++i)
          ok = bench::RecvAll(server.GetSocketDescriptor(), in.data(), blockSize) &&
               std::fwrite(in.data(), 1, blockSize, file) == blockSize;
        return std::fclose(file) == 0 && ok;
      });
  client.Clear();
  server.Clear();
  ::unlink(path.c_str());
  return sample;
}

}  // namespace

int main(int argc, char** argv) {
  g_ptrLogWriter->SetLevel(-1);
  if (Folder().empty()) return 1;
  std::printf("files in %s\n", Folder().c_str());
  const int status = bench::CompareWithBaseline(argc, argv, "log download into a folder", RunDownload, RunRawToFile,
                                                {64 * 1024, 1024 * 1024}, 128, 8);
  ::rmdir(Folder().c_str());
  return status;
}
