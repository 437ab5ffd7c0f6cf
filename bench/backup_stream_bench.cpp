// backup_stream_bench: the backup phase's hot path against plain sockets.
//
// The subject: a host's recvData loop on a real ProxyBackup taking one file
// of FILE_DATA_MSG blocks from the simulated backup program BKP.EXE (its bulk
// mode) over loopback, after the job start and the collect-file
// announcement, as a backup host runs it; every buffer recvData hands out is
// the host's and is freed. The baseline: the same bytes in blocks of the
// same size through send()/recv() on a raw loopback pair. Both run in
// alternating order for several rounds with the two threads pinned to two
// CPUs; prints the median MB/s of each, the median ratio, CPU seconds per
// GiB of both and the heap allocations per block of the host's loop.
//
//   backup_stream_bench [megabytes per round, default 64] [rounds, default 8]
//
// (the defaults move 512 MiB per size and side).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "BenchPhaseLink.h"
#include "ClJobStartMsg.h"
#include "ClProxyConnection.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "SimBackupProgram.h"
#include "SimPeer.h"
#include "SimRecord.h"
#include "SimStopSignal.h"
#include "backup/ProxyBackup.h"

namespace {

using BenchBackup = BenchPhaseLink<ProxyBackup>;

int StatusOf(const CWqError& result) {
  if (!result.IsError()) return 0;
  return FXErrorUtil::IsInt(result) ? FXErrorUtil::GetInt(result) : -1;
}

bool HostLoop(BenchBackup& phase, size_t blockSize, size_t count, double& allocationsPerBlock) {
  CWqError result = phase.StartJob();
  if (!result.IsError()) result = phase.sendCollectFile(1, 0);
  if (!result.IsError()) result = phase.recvNextFile();
  if (result.IsError()) return bench::Fail("job start, announcement or header", result);
  char* buf = nullptr;
  unsigned int size = 0;
  size_t blocks = 0;
  const uint64_t before = bench::AllocationCount();
  for (;;) {
    result = phase.recvData(buf, size, nullptr, nullptr);
    if (result.IsError()) break;
    if (size != blockSize) {
      std::fprintf(stderr, "a block of %u bytes, not %zu\n", size, blockSize);
      break;
    }
    ++blocks;
    std::free(buf);  // the host's, as a pipeline would release it
    buf = nullptr;
  }
  allocationsPerBlock = static_cast<double>(bench::AllocationCount() - before) / (blocks ? blocks : 1);
  std::free(buf);
  if (StatusOf(result) != RECV_STATUS_GOOD_EOF || blocks != count) {
    std::fprintf(stderr, "%zu of %zu blocks, then: %s\n", blocks, count, result.AsString().c_str());
    return false;
  }
  result = phase.recvNextFile();
  if (StatusOf(result) != RECV_STATUS_COLLECT_DONE) return bench::Fail("end of the collect file", result);
  result = phase.sendJobComplete();
  if (result.IsError()) return bench::Fail("job completion", result);
  phase.CloseLink();  // the program's run ends when the proxy closes
  return true;
}

bench::Sample RunBackup(const bench::CpuPair& cpus, size_t blockSize, size_t count, double& allocationsPerBlock) {
  BenchBackup phase;
  std::unique_ptr<ClProxyConnection> program(new ClProxyConnection);
  if (!bench::MakePair(program->getConnectionSocket(), phase.NewLink())) return bench::Sample();
  SimRecorder recorder([] {});
  SimStopSignal stop;
  SimPeer peer(std::move(program), recorder, stop, [] {});
  const SimScript script = SimBackupProgram::Bulk(count, static_cast<uint32_t>(blockSize));
  return bench::Measure(
      cpus,
      [&] {
        peer.Run(script);
        return true;
      },
      [&] { return HostLoop(phase, blockSize, count, allocationsPerBlock); });
}

}  // namespace

int main(int argc, char** argv) {
  g_ptrLogWriter->SetLevel(-1);  // the phase's per-job lines would interleave with the table
  return bench::CompareWithRaw(argc, argv, "ProxyBackup::recvData from BKP.EXE", RunBackup, 64, 8);
}
