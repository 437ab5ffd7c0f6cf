// restore_send_bench: the restore phase's hot path against plain sockets.
//
// The subject: a host's sendData loop on a real ProxyRestore, after the job
// start and one file header (so its receiver thread runs), moving one file
// of blocks from one reused buffer to the simulated restore program RST.EXE
// in its drain mode over loopback, then the good end of file and the job's
// completion, as a restore host runs it. The baseline: the same bytes in
// blocks of the same size through send()/recv() on a raw loopback pair. Both
// run in alternating order for several rounds with the two threads pinned
// to two CPUs; prints the median MB/s of each, the median ratio, CPU seconds
// per GiB of both and the heap allocations per block of the host's loop.
// A second table repeats 64 KiB blocks with 100000 status records pending
// for other names, which the status check after every block must pass over;
// a third times the status check alone with records of other names and of
// the file's own name pending, against a bound per check (the program exits
// 1 when a median is above it). A table between them sets the sender's own
// CPU per GiB (the host's sendData loop) against a raw send() loop's, which
// does not depend on how fast the simulated program drains.
//
//   restore_send_bench [megabytes per round, default 64] [rounds, default 8]
//   restore_send_bench --profile <block KiB> <megabytes>   (one run, for a profiler)
//
// (the defaults move 512 MiB per size and side).
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CXFileHeader.h"
#include "BenchPhaseLink.h"
#include "ClJobStartMsg.h"
#include "ClProxyConnection.h"
#include "FXLogWriter.h"
#include "SimPeer.h"
#include "SimRecord.h"
#include "SimRestoreProgram.h"
#include "SimStopSignal.h"
#include "restore/ProxyRestore.h"

namespace {

const size_t kPendingForOthers = 100000;
const size_t kPendingOwn = 20000;
const double kCheckBoundNs = 1000;

// The phase with its link made here; the receiver stops before the phase goes.
class BenchRestore : public BenchPhaseLink<ProxyRestore> {
 public:
  ~BenchRestore() override { stopReceiverThread(); }
  // Results the host has not pulled, none of them for the file in progress.
  void PendForOthers(size_t count) { Pend(count, [](size_t i) { return "/other/" + std::to_string(i); }); }
  // Restored items of the file in progress itself, reported after its
  // header went out: no verdict on it, each of them.
  void PendForCurrent(size_t count) {
    Pend(count, [this](size_t) { return currentFileName; });
  }
  void SetCurrent(const std::string& name) {
    currentFileName = name;
    stampCurrentFile();
  }

 private:
  template <class Name>
  void Pend(size_t count, Name name) {
    auto_lock lock(&statusLock, true);
    for (size_t i = 0; i < count; ++i) {
      RestoreStatus status;
      status.itemName = name(i);
      status.itemStatus = 5;
      statusList.Append(status);
    }
  }
};

// The status check after a send, alone: nanoseconds per check with
// `others` restored items of other names and `same` of the file's own name
// pending. A check must not grow with them.
bool StatusCheckRow(size_t others, size_t same, double boundNs) {
  BenchRestore phase;
  phase.PendForOthers(others);
  phase.SetCurrent("/bench/data");
  phase.PendForCurrent(same);
  const int checks = 200000;
  std::vector<double> perCheck;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < checks; ++i) {
      CWqError result = phase.getMyFileStatus();
      if (result.IsError()) return bench::Fail("status check", result);
    }
    perCheck.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                       checks);
  }
  const double median = bench::Median(perCheck);
  std::printf("%8zu %8zu %12.1f %10.0f  %s\n", others, same, median, boundNs, median <= boundNs ? "ok" : "ABOVE BOUND");
  return median <= boundNs;
}

// `loopCpu`, when given, receives the CPU seconds of the sendData loop alone.
bool HostLoop(BenchRestore& phase, size_t blockSize, size_t count, double& allocationsPerBlock,
              double* loopCpu = nullptr) {
  CWqError result = phase.StartJob();
  std::unique_ptr<CXFileHeader> header(new CXFileHeader);
  const std::string name = "/bench/data";
  name.copy(header->name, name.size());
  header->mode = 0100644;
  header->size = static_cast<uint64_t>(blockSize) * count;
  if (!result.IsError()) result = phase.setCxHeader(*header);
  if (!result.IsError()) result = phase.sendHeader();
  if (result.IsError()) return bench::Fail("job start or header", result);
  std::vector<char> buffer(blockSize, 0x5a);
  const uint64_t before = bench::AllocationCount();
  const double cpuStart = bench::ThreadCpuSeconds();
  for (size_t i = 0; i < count; ++i) {
    result = phase.sendData(buffer.data(), static_cast<uint32_t>(blockSize));
    if (result.IsError()) return bench::Fail("sendData", result);
  }
  if (loopCpu) *loopCpu = bench::ThreadCpuSeconds() - cpuStart;
  allocationsPerBlock = static_cast<double>(bench::AllocationCount() - before) / (count ? count : 1);
  result = phase.sendGoodEOF();
  if (result.IsError()) return bench::Fail("end of file", result);
  result = phase.sendJobComplete();
  if (result.IsError()) return bench::Fail("job completion", result);
  phase.CloseLink();  // the program's run ends when the proxy closes
  return true;
}

bench::Sample RunRestore(const bench::CpuPair& cpus, size_t blockSize, size_t count, size_t pending,
                         double& allocationsPerBlock, double* loopCpu = nullptr) {
  BenchRestore phase;
  phase.PendForOthers(pending);
  std::unique_ptr<ClProxyConnection> program(new ClProxyConnection);
  if (!bench::MakePair(program->getConnectionSocket(), phase.NewLink())) return bench::Sample();
  SimRecorder recorder([] {});
  SimStopSignal stop;
  SimPeer peer(std::move(program), recorder, stop, [] {});
  std::shared_ptr<SimRestoreProgram::DrainCount> drained = std::make_shared<SimRestoreProgram::DrainCount>();
  const SimScript script = SimRestoreProgram::Drain(drained);
  bench::Sample sample = bench::Measure(
      cpus, [&] { return HostLoop(phase, blockSize, count, allocationsPerBlock, loopCpu); },
      [&] {
        peer.Run(script);
        return true;
      });
  if (drained->dataBlocks.load() != count || drained->dataBytes.load() != static_cast<uint64_t>(blockSize) * count) {
    std::fprintf(stderr, "RST.EXE drained %llu blocks, %llu bytes; %zu blocks were sent\n",
                 static_cast<unsigned long long>(drained->dataBlocks.load()),
                 static_cast<unsigned long long>(drained->dataBytes.load()), count);
    sample.seconds = -1;
  }
  return sample;
}

// The raw baseline's sender alone: the CPU seconds of its send() loop. Its
// receiver reads as the drain does, up to 256 KiB a call: how the receiving
// side reads changes the sender's time in the kernel (wake-ups, a full
// buffer), and only the sending side is compared here.
bool RunRawSender(const bench::CpuPair& cpus, size_t blockSize, size_t count, double& senderCpu) {
  CWqSocket client, server;
  if (!bench::MakePair(client, server)) return false;
  std::vector<uint8_t> out(blockSize, 0x5a);
  const int sendFd = client.GetSocketDescriptor(), recvFd = server.GetSocketDescriptor();
  bench::Sample sample = bench::Measure(
      cpus,
      [&] {
        const double start = bench::ThreadCpuSeconds();
        for (size_t i = 0; i < count; ++i)
          if (!bench::SendAll(sendFd, out.data(), blockSize)) return false;
        senderCpu = bench::ThreadCpuSeconds() - start;
        return true;
      },
      [&] {
        std::vector<uint8_t> big(256 * 1024);
        size_t total = blockSize * count;
        while (total > 0) {
          ssize_t n = recv(recvFd, big.data(), std::min(big.size(), total), 0);
          if (n <= 0) return false;
          total -= static_cast<size_t>(n);
        }
        return true;
      });
  client.Close();
  server.Close();
  return sample.seconds > 0;
}

// The sender's own CPU per GiB: the host's sendData loop against the raw
// send() loop, which tells the phase's cost apart from the receiving side's.
int SenderCpuTable(size_t megabytes, int rounds) {
  const bench::CpuPair cpus = bench::ChooseCpus();
  std::printf("\nsender's own CPU s/GiB, sendData loop against a raw send() loop (median of %d rounds)\n", rounds);
  std::printf("%-8s %12s %12s %8s\n", "size", "raw s/GiB", "phase s/GiB", "ratio");
  for (size_t size : {static_cast<size_t>(4 * 1024), static_cast<size_t>(64 * 1024)}) {
    const size_t count = megabytes * 1024 * 1024 / size;
    const double gib = static_cast<double>(size) * count / (1024.0 * 1024 * 1024);
    std::vector<double> raw, phase, ratio;
    for (int round = 0; round < rounds; ++round) {
      double rawCpu = 0, phaseCpu = 0, allocations = 0;
      const bool rawFirst = round % 2 == 0;
      if (rawFirst && !RunRawSender(cpus, size, count, rawCpu)) return 1;
      if (RunRestore(cpus, size, count, 0, allocations, &phaseCpu).seconds <= 0) return 1;
      if (!rawFirst && !RunRawSender(cpus, size, count, rawCpu)) return 1;
      raw.push_back(rawCpu / gib);
      phase.push_back(phaseCpu / gib);
      ratio.push_back(phaseCpu / rawCpu);
    }
    char label[16];
    std::printf("%-8s %12.3f %12.3f %8.2f\n", bench::SizeLabel(size, label, sizeof label), bench::Median(raw),
                bench::Median(phase), bench::Median(ratio));
  }
  return 0;
}

// --profile KiB MiB: one run of the phase alone, for a profiler.
int ProfileRun(size_t kib, size_t megabytes) {
  const size_t size = kib * 1024;
  double allocations = 0, loopCpu = 0;
  bench::Sample sample =
      RunRestore(bench::ChooseCpus(), size, megabytes * 1024 * 1024 / size, 0, allocations, &loopCpu);
  if (sample.seconds <= 0) return 1;
  std::printf("%zu KiB blocks, %zu MiB: %.0f MB/s, sendData loop %.3f CPU s/GiB, %.2f allocations per block\n", kib,
              megabytes, static_cast<double>(megabytes) * 1024 * 1024 / sample.seconds / 1e6,
              loopCpu / (static_cast<double>(megabytes) / 1024), allocations);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_ptrLogWriter->SetLevel(-1);  // the phase's per-job lines would interleave with the table
  if (argc == 4 && std::string(argv[1]) == "--profile")
    return ProfileRun(std::strtoul(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10));
  int status = bench::CompareWithRaw(
      argc, argv, "ProxyRestore::sendData to RST.EXE (drain)",
      [](const bench::CpuPair& cpus, size_t blockSize, size_t count, double& allocations) {
        return RunRestore(cpus, blockSize, count, 0, allocations);
      },
      64, 8);
  if (status != 0) return status;
  std::printf("\n");
  const bench::SubjectRun raw = [](const bench::CpuPair& cpus, size_t blockSize, size_t count, double&) {
    return bench::RunRaw(cpus, blockSize, count);
  };
  status = bench::CompareWithBaseline(
      argc, argv, "the same with 100000 status records pending for other names",
      [](const bench::CpuPair& cpus, size_t blockSize, size_t count, double& allocations) {
        return RunRestore(cpus, blockSize, count, kPendingForOthers, allocations);
      },
      raw, {64 * 1024}, 64, 8);
  if (status != 0) return status;
  const size_t megabytes = argc > 1 && std::strtoul(argv[1], nullptr, 10) ? std::strtoul(argv[1], nullptr, 10) : 64;
  const int rounds = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 8;
  status = SenderCpuTable(megabytes, rounds);
  if (status != 0) return status;
  // A check with records pending, against a bound far below a block's send
  // (a 4 KiB block takes some microseconds): median of five rounds.
  std::printf("\nstatus check after a send, records pending (median of 5 rounds of 200000 checks)\n");
  std::printf("%8s %8s %12s %10s\n", "others", "own", "ns/check", "bound ns");
  bool within = true;
  within = StatusCheckRow(0, 0, kCheckBoundNs) && within;
  within = StatusCheckRow(kPendingForOthers, 0, kCheckBoundNs) && within;
  within = StatusCheckRow(kPendingForOthers, kPendingOwn, kCheckBoundNs) && within;
  return within ? 0 : 1;
}
