// service_browse_bench: what a machine browse costs per entry.
//
// Listings of 10k, 100k and 1M generated entries (names of 16 to 24 bytes)
// from the simulated daemon, browsed through a service instance in both
// modes: into the XML response, and streamed to a requester's socket that a
// thread reads. The baseline: the same reply bytes received as one frame
// over a loopback channel, not decoded. Prints time per entry of each (the
// median of several rounds) and the peak resident-memory growth per entry
// of each browse (the peak is reset before each), and each mode's peak
// growth as a multiple of the reply's size; then one "result:" line per size
// and mode, the blob's time over the mode's.
//
//   service_browse_bench [rounds, default 3]
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AppMsgs.h"
#include "BenchServiceClient.h"
#include "BenchSupport.h"
#include "ClProxyConnection.h"
#include "ClProxyPayload.h"
#include "ClServiceMsgs.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimServiceDaemon.h"
#include "service/ProxyServices.h"

namespace {

const int32_t kClient = 5;

// Resets the peak resident size to the current one (Linux: clear_refs 5).
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  return 0;
}

long CurrentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return 0;
}

struct Result {
  double seconds = -1;
  long peakGrowthKiB = 0;
};

Result Browse(ProxyServices& handle, bool response) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return Result();
  CWqSocket requester;
  requester.AttachConnectedSocket(CWqSocketDescriptor(pair[0]));
  std::thread reader([fd = pair[1]] {
    char block[65536];
    while (::read(fd, block, sizeof block) > 0) {
    }
  });
  App::MachineBrowseResp resp;
  App::GenericResp generic;
  std::string path = "/";
  ::malloc_trim(0);  // what an earlier round freed must not hide this one's growth
  const long before = CurrentKiB();
  ResetPeak();
  const auto start = std::chrono::steady_clock::now();
  CWqError result = handle.machineBrowse(&path[0], requester, 1, 0, response, &resp, &generic, nullptr);
  Result out;
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.peakGrowthKiB = PeakKiB() - before;
  requester.Close();
  reader.join();
  ::close(pair[1]);
  if (result.IsError()) {
    bench::Fail("browse", result);
    out.seconds = -1;
  }
  return out;
}

Result OneBlob(const std::vector<uint8_t>& bytes) {
  ClProxyConnection sending, receiving;
  if (!bench::MakePair(sending.getConnectionSocket(), receiving.getConnectionSocket())) return Result();
  ::malloc_trim(0);
  const long before = CurrentKiB();
  ResetPeak();
  const auto start = std::chrono::steady_clock::now();
  std::thread sender([&] {
    ClProxyConnection::writeFrame(sending.getConnectionSocket(), FILE_DATA_MSG, bytes.data(),
                                  static_cast<uint32_t>(bytes.size()));
  });
  ClProxyMsg* raw = nullptr;
  CWqError result = receiving.recvMessage(raw, FILE_DATA_MSG, 60);
  delete raw;
  sender.join();
  Result out;
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.peakGrowthKiB = PeakKiB() - before;
  if (result.IsError()) out.seconds = -1;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  if (rounds <= 0) rounds = 3;
  g_ptrLogWriter->SetLevel(-1);
  ScopedSettingsRoot settingsRoot;
  KXPlatformInfo settings;
  settings.setNumber("ProxyTimeouts", "TIMEOUT_BROWSE_REPLY", 120);
  SimServiceDaemon daemon;
  if (daemon.Start().IsError()) return 1;
  RecordRegistry& records = RecordRegistry::Instance();
  bench::AddServiceClient(kClient, daemon.GetPort());
  ClClientManager::SetHooks(std::make_shared<bench::PassingInstallCheck>());
  ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
  if (!handle) {
    std::fprintf(stderr, "no service instance for client %d\n", kClient);
    return 1;
  }

  std::printf("%-9s %10s %12s %12s %12s %12s %12s %12s %12s %12s\n", "entries", "reply MiB", "blob ns/e",
              "resp ns/e", "stream ns/e", "blob B/e", "resp B/e", "stream B/e", "resp/reply", "stream/reply");
  std::vector<std::pair<std::string, std::vector<double>>> results;
  for (size_t entries : {10000u, 100000u, 1000000u}) {
    daemon.SetGeneratedListing(entries);
    std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t> listing(entries);
    for (size_t i = 0; i < entries; ++i) {
      listing[i].name = "entry-" + std::to_string(i);
      listing[i].name.resize(16 + i % 9, 'x');
    }
    std::vector<uint8_t> scratch;
    ClProxyPayloadView view;
    const ClClientBrowseRepMsg message(listing);  // the view points into it
    message.encodePayload(scratch, view);
    const std::vector<uint8_t> bytes(view.data, view.data + view.size);
    std::vector<double> blob, resp, stream;
    long blobPeak = 0, respPeak = 0, streamPeak = 0;
    for (int round = 0; round < rounds; ++round) {
      const Result b = OneBlob(bytes), r = Browse(*handle, true), s = Browse(*handle, false);
      if (b.seconds < 0 || r.seconds < 0 || s.seconds < 0) return 1;
      blob.push_back(b.seconds);
      resp.push_back(r.seconds);
      stream.push_back(s.seconds);
      blobPeak = std::max(blobPeak, b.peakGrowthKiB);
      respPeak = std::max(respPeak, r.peakGrowthKiB);
      streamPeak = std::max(streamPeak, s.peakGrowthKiB);
    }
    const double perEntry = 1e9 / static_cast<double>(entries);
    // The lines scripts/bench.sh reads: the blob's time over each mode's.
    for (const auto& mode : {std::make_pair("response", &resp), std::make_pair("stream", &stream)}) {
      std::vector<double> ratios;
      for (size_t i = 0; i < blob.size(); ++i) ratios.push_back(blob[i] / (*mode.second)[i]);
      results.push_back({"browse " + std::to_string(entries) + " entries, " + mode.first, ratios});
    }
    const double reply = static_cast<double>(bytes.size());
    std::printf("%-9zu %10.1f %12.1f %12.1f %12.1f %12.1f %12.1f %12.1f %12.2f %12.2f\n", entries, reply / 1048576.0,
                bench::Median(blob) * perEntry, bench::Median(resp) * perEntry, bench::Median(stream) * perEntry,
                blobPeak * 1024.0 / entries, respPeak * 1024.0 / entries, streamPeak * 1024.0 / entries,
                respPeak * 1024.0 / reply, streamPeak * 1024.0 / reply);
  }
  for (const auto& result : results) bench::PrintResult(result.first, result.second, -1, -1);
  handle.reset();
  ProxyServicesCache::Reset();
  ClClientManager::SetHooks(nullptr);
  daemon.Stop();
  records.Reset();
  return 0;
}
