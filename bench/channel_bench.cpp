// channel_bench: throughput of the message channel against plain sockets.
//
// For each blob size, moves the same bytes over loopback in several short
// rounds, each round once as FILE_DATA_MSG blobs through
// ClProxyConnection::sendMessage and recvMessage (the subject) and once as
// blocks of the same size through send()/recv() on a raw socket pair (the
// baseline), in alternating order, so that both see the same machine state.
// The sending and the receiving thread are pinned to two distinct CPUs when
// the process may use two, so that a run does not land on one core by
// chance. Prints the median MB/s of each, the median of the rounds' ratios,
// CPU seconds per GiB of each (both threads; it moves far less than wall
// time on a shared machine), and the heap allocations per channel message
// (counted by the operator new of bench/support).
//
//   channel_bench [megabytes per round, default 128] [rounds, default 9]
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "ClBasicMsgs.h"
#include "ClProxyConnection.h"

namespace {

// ----------------------------------------------------------- channel run

bench::Sample RunChannel(const bench::CpuPair& cpus, size_t blockSize, size_t count, double& allocationsPerMessage) {
  ClProxyConnection sending, receiving;
  if (!bench::MakePair(sending.getConnectionSocket(), receiving.getConnectionSocket())) return bench::Sample();
  std::vector<uint8_t> bytes(blockSize, 0x5a);
  ClBlobMsg blob(FILE_DATA_MSG, ClBlobMsg::Borrow, bytes.data(), static_cast<uint32_t>(blockSize));

  const uint64_t allocationsBefore = bench::AllocationCount();
  CWqError sendResult, recvResult;
  bench::Sample sample = bench::Measure(
      cpus,
      [&] {
        for (size_t i = 0; i < count; ++i) {
          sendResult = sending.sendMessage(&blob);
          if (sendResult.IsError()) return false;
        }
        return true;
      },
      [&] {
        for (size_t i = 0; i < count; ++i) {
          ClProxyMsg* raw = nullptr;
          recvResult = receiving.recvMessage(raw, FILE_DATA_MSG, 30);
          std::unique_ptr<ClProxyMsg> message(raw);
          if (recvResult.IsError()) return false;
          if (static_cast<ClBlobMsg*>(message.get())->getBlobSize() != blockSize) {
            std::fprintf(stderr, "wrong blob size\n");
            return false;
          }
        }
        return true;
      });
  allocationsPerMessage = static_cast<double>(bench::AllocationCount() - allocationsBefore) / count;
  if (sendResult.IsError()) bench::Fail("send", sendResult);
  if (recvResult.IsError()) bench::Fail("receive", recvResult);
  return sample;
}

}  // namespace

int main(int argc, char** argv) { return bench::CompareWithRaw(argc, argv, "channel", RunChannel, 128, 9); }
