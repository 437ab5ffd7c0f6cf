// db_reader_bench: the database file-backup phase's host loop against plain
// reads of the same files in the same run.
//
// The subject: DBProxyBackup connected to the simulated database file-backup
// server over loopback, the host's loop (recvNextFile, getCxHeader, recvData
// until the end, each block freed) over one large local file, then over many
// small files, each named by the server. The baseline: open, read in blocks
// of 2048 bytes and close of the same files. Alternating rounds; prints the
// median MB/s, files per second and the ratios (baseline time / subject
// time).
//
//   db_reader_bench [megabytes of the large file, default 256]
//                   [small files, default 10000] [rounds, default 3]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "BenchSupport.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimDBFileBackupServer.h"
#include "backup/DBProxyBackup.h"

namespace {

const char kHost[] = "127.0.0.1";

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool WriteFile(const std::string& path, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  size_t done = 0;
  while (done < size) {
    const size_t n = std::min(block.size(), size - done);
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
      ::close(fd);
      return false;
    }
    done += n;
  }
  return ::close(fd) == 0;
}

// The host's loop over every file the server names; -1 on a failure.
double RunSubject(const std::vector<std::string>& files, uint64_t& bytes) {
  std::vector<SimDBFileBackupServer::Answer> script;
  for (size_t i = 0; i < files.size(); ++i)
    script.push_back(SimDBFileBackupServer::Answer::File(files[i], "DB/" + std::to_string(i), i));
  SimDBFileBackupServer server(kHost);
  server.SetScript(script);
  CWqError started = server.Start();
  if (started.IsError()) {
    bench::Fail("starting the server", started);
    return -1;
  }
  DBProxyBackup phase(0, nullptr, nullptr);
  CWqError result = phase.init(2, 10, 5, 77, 1, 0, "", 0);
  if (result.IsError()) {
    bench::Fail("init", result);
    return -1;
  }
  std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
  bytes = 0;
  const double start = Now();
  phase.sendJobStart();
  for (;;) {
    result = phase.recvNextFile();
    if (FXErrorUtil::IsInt(result, RECV_STATUS_NO_MORE_FILES)) break;
    if (result.IsError() || phase.getCxHeader(*cx).IsError()) {
      bench::Fail("recvNextFile", result);
      return -1;
    }
    for (;;) {
      char* block = nullptr;
      uint32_t size = 0;
      result = phase.recvData(block, size);
      if (result.IsError()) break;
      bytes += size;
      std::free(block);
    }
    if (!FXErrorUtil::IsInt(result, RECV_STATUS_GOOD_EOF)) {
      bench::Fail("recvData", result);
      return -1;
    }
  }
  phase.sendJobComplete();
  return Now() - start;
}

double RunBaseline(const std::vector<std::string>& files, uint64_t& bytes) {
  std::vector<char> buffer(2048);
  bytes = 0;
  const double start = Now();
  for (const std::string& path : files) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    for (;;) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n <= 0) break;
      bytes += static_cast<uint64_t>(n);
    }
    ::close(fd);
  }
  return Now() - start;
}

bool Compare(const char* label, const std::vector<std::string>& files, int rounds) {
  std::vector<double> subject, baseline, ratios;
  uint64_t bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    uint64_t subjectBytes = 0, baselineBytes = 0;
    const bool subjectFirst = round % 2 == 0;
    double s = subjectFirst ? RunSubject(files, subjectBytes) : -1;
    const double b = RunBaseline(files, baselineBytes);
    if (!subjectFirst) s = RunSubject(files, subjectBytes);
    if (s <= 0 || b <= 0 || subjectBytes != baselineBytes) {
      std::printf("%s: a run failed (bytes %llu against %llu)\n", label,
                  static_cast<unsigned long long>(subjectBytes), static_cast<unsigned long long>(baselineBytes));
      return false;
    }
    bytes = subjectBytes;
    subject.push_back(s);
    baseline.push_back(b);
    ratios.push_back(b / s);
  }
  const double s = bench::Median(subject), b = bench::Median(baseline);
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("%-28s phase %9.1f MB/s %10.0f files/s | plain read %9.1f MB/s %10.0f files/s | ratio %.2f\n", label,
              mb / s, files.size() / s, mb / b, files.size() / b, b / s);
  bench::PrintResult(label, ratios, -1, -1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const size_t smallFiles = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  boost::shared_ptr<FXLogWriter> quiet(new FXLogWriter);
  quiet->SetQuiet(true);
  quiet->SetLevel(-2);
  g_ptrLogWriter = quiet;

  ScopedSettingsRoot settings;
  RecordRegistry& records = RecordRegistry::Instance();
  records.AddClient(5, "ibmi1", 118);
  records.SetClientValue(5, "NetworkHostname", std::string(kHost));
  records.AddSubclient(2, 10, 5);

  char pattern[] = "/tmp/db-reader-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string folder = pattern;
  const std::string large = folder + "/large.dat";
  std::vector<std::string> small;
  bool ok = WriteFile(large, megabytes << 20);
  for (size_t i = 0; ok && i < smallFiles; ++i) {
    small.push_back(folder + "/small" + std::to_string(i));
    ok = WriteFile(small.back(), 4096);
  }
  if (ok) {
    std::printf("db_reader_bench: %zu MiB file, %zu files of 4 KiB, %d rounds, medians\n", megabytes, smallFiles,
                rounds);
    ok = Compare("one large file", {large}, rounds) && Compare("small files of 4 KiB", small, rounds);
  }
  ::unlink(large.c_str());
  for (const std::string& path : small) ::unlink(path.c_str());
  ::rmdir(folder.c_str());
  return ok ? 0 : 1;
}
