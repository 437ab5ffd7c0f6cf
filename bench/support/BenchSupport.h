// BenchSupport: what every benchmark program shares. Loopback socket pairs,
// two threads pinned to two distinct CPUs (when the process may use two) so
// that a run does not land on one core by chance, wall and CPU time of a
// run, medians, and a count of heap allocations (this library replaces the
// global operator new of the program that links it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CWqError.h"
#include "CWqSocket.h"

namespace bench {

// Heap allocations made through operator new since the program started.
uint64_t AllocationCount();

// Prints `what` and the error; false, for returning.
bool Fail(const char* what, const CWqError& error);

// Connects `client` to a fresh loopback listener and accepts into `server`.
bool MakePair(CWqSocket& client, CWqSocket& server);

// The two CPUs the threads are pinned to; -1 when the process may use only
// one (then nothing is pinned).
struct CpuPair {
  int sender = -1;
  int receiver = -1;
};
CpuPair ChooseCpus();

// One run: its wall time and the CPU time of both threads.
struct Sample {
  double seconds = -1;  // negative: the run failed
  double cpuSeconds = 0;
};

// Runs `send` on a new thread pinned to the sender's CPU and `receive` on
// this thread pinned to the receiver's; each returns false on failure.
Sample Measure(const CpuPair& cpus, const std::function<bool()>& send, const std::function<bool()>& receive);

// send()/recv() of exactly `size` bytes; false on a failure or an early end.
bool SendAll(int fd, const uint8_t* data, size_t size);
bool RecvAll(int fd, uint8_t* data, size_t size);

// The baseline of the stream benchmarks: `count` blocks of `blockSize` bytes
// through send()/recv() on a raw loopback pair, the receiver reusing one
// buffer.
Sample RunRaw(const CpuPair& cpus, size_t blockSize, size_t count);

double Median(std::vector<double> values);

// This thread's CPU seconds: on a machine shared with other work, a long
// run's wall time counts the time others had the CPU, a short one's hardly.
double ThreadCpuSeconds();

// The one line per measured case that scripts/bench.sh and the smoke runs
// read, beside whatever table the benchmark prints for people:
//   result: <case> | ratio <median> | spread <min>..<max> | base cpu s/GiB <x> | subject cpu s/GiB <y>
// `ratios` are baseline time / subject time (above 1: the subject is
// faster), one per round. A CPU figure below 0 is printed as "-" (the case
// moves no bytes).
void PrintResult(const std::string& label, const std::vector<double>& ratios, double baseCpuPerGiB,
                 double subjectCpuPerGiB);

// One run of a benchmark's subject: `count` blocks of `blockSize` bytes;
// sets the heap allocations it made per block.
using SubjectRun = std::function<Sample(const CpuPair& cpus, size_t blockSize, size_t count, double& allocationsPerBlock)>;

// The main of a stream benchmark: for 4 KiB, 64 KiB and 1 MiB blocks, runs
// the subject and RunRaw in alternating order for several rounds and prints
// the median MB/s of each, the median of the rounds' ratios (raw time /
// subject time), CPU seconds per GiB of both and allocations per block.
// Arguments: [megabytes per round] [rounds]. Returns the exit status.
int CompareWithRaw(int argc, char** argv, const char* subjectName, const SubjectRun& subject, size_t defaultMegabytes,
                   int defaultRounds);
// The same with a baseline of the caller's and the block sizes given.
int CompareWithBaseline(int argc, char** argv, const char* subjectName, const SubjectRun& subject,
                        const SubjectRun& baseline, const std::vector<size_t>& sizes, size_t defaultMegabytes,
                        int defaultRounds);

// "4 KiB", "1 MiB".
const char* SizeLabel(size_t size, char* buffer, size_t capacity);

}  // namespace bench
