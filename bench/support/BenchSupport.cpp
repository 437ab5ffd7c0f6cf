#include "BenchSupport.h"

#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "CWqIPAddr.h"

// ------------------------------------------------------- allocation counter

namespace {
std::atomic<uint64_t> g_allocations(0);
void* CountedAlloc(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(size_t size) {
  void* p = CountedAlloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = CountedAlloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace bench {

namespace {

void PinTo(int cpu) {
  if (cpu < 0) return;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  pthread_setaffinity_np(pthread_self(), sizeof one, &one);
}

// Keeps the calling thread's CPU set and gives it back at the end.
class ScopedPin {
 public:
  explicit ScopedPin(int cpu)
      : m_bSaved(cpu >= 0 && pthread_getaffinity_np(pthread_self(), sizeof m_saved, &m_saved) == 0) {
    PinTo(cpu);
  }
  ~ScopedPin() {
    if (m_bSaved) pthread_setaffinity_np(pthread_self(), sizeof m_saved, &m_saved);
  }

 private:
  cpu_set_t m_saved;
  bool m_bSaved;
};

double Now(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

uint64_t AllocationCount() { return g_allocations.load(); }

double ThreadCpuSeconds() { return Now(CLOCK_THREAD_CPUTIME_ID); }

bool Fail(const char* what, const CWqError& error) {
  std::fprintf(stderr, "%s: %s\n", what, error.AsString().c_str());
  return false;
}

bool MakePair(CWqSocket& client, CWqSocket& server) {
  CWqSocket listener;
  CWqIPAddr address, bound;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = listener.Create(AF_INET);
  if (!result.IsError()) result = listener.Bind(address);
  if (!result.IsError()) result = listener.Listen(1);
  if (!result.IsError()) result = listener.GetLocalAddress(bound);
  if (!result.IsError()) result = client.Create(AF_INET);
  if (!result.IsError()) result = client.Connect(bound);
  if (!result.IsError()) result = listener.Accept(server);
  listener.Clear();
  if (result.IsError()) return Fail("loopback pair", result);
  return true;
}

CpuPair ChooseCpus() {
  CpuPair pair;
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return pair;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    if (pair.sender < 0) {
      pair.sender = cpu;
    } else {
      pair.receiver = cpu;
      return pair;
    }
  }
  return CpuPair();
}

Sample Measure(const CpuPair& cpus, const std::function<bool()>& send, const std::function<bool()>& receive) {
  ScopedPin pin(cpus.receiver);
  std::atomic<double> senderCpu(0);
  bool sent = false;
  const double start = Now(CLOCK_MONOTONIC);
  const double receiverStart = Now(CLOCK_THREAD_CPUTIME_ID);
  std::thread sender([&] {
    PinTo(cpus.sender);
    const double cpuStart = Now(CLOCK_THREAD_CPUTIME_ID);
    sent = send();
    senderCpu = Now(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
  });
  const bool received = receive();
  Sample sample;
  sample.seconds = Now(CLOCK_MONOTONIC) - start;
  sample.cpuSeconds = Now(CLOCK_THREAD_CPUTIME_ID) - receiverStart;
  sender.join();
  sample.cpuSeconds += senderCpu.load();
  if (!sent || !received) sample.seconds = -1;
  return sample;
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

Sample RunRaw(const CpuPair& cpus, size_t blockSize, size_t count) {
  CWqSocket client, server;
  if (!MakePair(client, server)) return Sample();
  std::vector<uint8_t> out(blockSize, 0x5a), in(blockSize);
  const int sendFd = client.GetSocketDescriptor(), recvFd = server.GetSocketDescriptor();
  Sample sample = Measure(
      cpus,
      [&] {
        for (size_t i = 0; i < count; ++i)
          if (!SendAll(sendFd, out.data(), blockSize)) return false;
        return true;
      },
      [&] {
        for (size_t i = 0; i < count; ++i)
          if (!RecvAll(recvFd, in.data(), blockSize)) return false;
        return true;
      });
  client.Clear();
  server.Clear();
  return sample;
}

void PrintResult(const std::string& label, const std::vector<double>& ratios, double baseCpuPerGiB,
                 double subjectCpuPerGiB) {
  if (ratios.empty()) return;
  const auto range = std::minmax_element(ratios.begin(), ratios.end());
  char base[32] = "-", subject[32] = "-";
  if (baseCpuPerGiB >= 0) std::snprintf(base, sizeof base, "%.3f", baseCpuPerGiB);
  if (subjectCpuPerGiB >= 0) std::snprintf(subject, sizeof subject, "%.3f", subjectCpuPerGiB);
  std::printf("result: %s | ratio %.3f | spread %.3f..%.3f | base cpu s/GiB %s | subject cpu s/GiB %s\n", label.c_str(),
              Median(ratios), *range.first, *range.second, base, subject);
  std::fflush(stdout);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

const char* SizeLabel(size_t size, char* buffer, size_t capacity) {
  std::snprintf(buffer, capacity, size >= 1024 * 1024 ? "%zu MiB" : "%zu KiB",
                size >= 1024 * 1024 ? size / (1024 * 1024) : size / 1024);
  return buffer;
}

int CompareWithRaw(int argc, char** argv, const char* subjectName, const SubjectRun& subject, size_t defaultMegabytes,
                   int defaultRounds) {
  const SubjectRun raw = [](const CpuPair& cpus, size_t blockSize, size_t count, double&) {
    return RunRaw(cpus, blockSize, count);
  };
  return CompareWithBaseline(argc, argv, subjectName, subject, raw, {4 * 1024, 64 * 1024, 1024 * 1024},
                             defaultMegabytes, defaultRounds);
}

int CompareWithBaseline(int argc, char** argv, const char* subjectName, const SubjectRun& subject,
                        const SubjectRun& baseline, const std::vector<size_t>& sizes, size_t defaultMegabytes,
                        int defaultRounds) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : defaultMegabytes;
  if (megabytes == 0) megabytes = defaultMegabytes;
  int rounds = argc > 2 ? std::atoi(argv[2]) : defaultRounds;
  if (rounds <= 0) rounds = defaultRounds;
  const CpuPair cpus = ChooseCpus();
  if (cpus.receiver >= 0)
    std::printf("threads pinned: sender on CPU %d, receiver on CPU %d; %d rounds of %zu MiB per size\n", cpus.sender,
                cpus.receiver, rounds, megabytes);
  else
    std::printf("one CPU: threads not pinned; %d rounds of %zu MiB per size\n", rounds, megabytes);

  std::printf("%-8s %10s %12s %7s %13s %13s %12s\n", "size", "base MB/s", "subject MB/s", "ratio", "base cpu s/GiB",
              "subj cpu s/GiB", "allocs/block");
  std::printf("(subject: %s)\n", subjectName);
  struct Result {
    std::string label;
    std::vector<double> ratios;
    double baseCpuPerGiB, subjectCpuPerGiB;
  };
  std::vector<Result> results;
  for (size_t size : sizes) {
    const size_t count = megabytes * 1024 * 1024 / size;
    const double gib = static_cast<double>(size) * count / (1024.0 * 1024 * 1024);
    std::vector<double> raw, measured, ratio, rawCpu, subjectCpu;
    double allocations = 0, baselineAllocations = 0;
    for (int round = 0; round < rounds; ++round) {
      // Alternate which goes first, so neither always meets a warmer machine.
      Sample r, c;
      if (round % 2 == 0) {
        r = baseline(cpus, size, count, baselineAllocations);
        c = subject(cpus, size, count, allocations);
      } else {
        c = subject(cpus, size, count, allocations);
        r = baseline(cpus, size, count, baselineAllocations);
      }
      if (r.seconds <= 0 || c.seconds <= 0) {
        std::fprintf(stderr, "a run failed (%s)\n", r.seconds <= 0 ? "raw" : subjectName);
        return 1;
      }
      raw.push_back(static_cast<double>(size) * count / r.seconds / 1e6);
      measured.push_back(static_cast<double>(size) * count / c.seconds / 1e6);
      ratio.push_back(r.seconds / c.seconds);
      rawCpu.push_back(r.cpuSeconds / gib);
      subjectCpu.push_back(c.cpuSeconds / gib);
    }
    char label[16];
    std::printf("%-8s %10.0f %12.0f %7.2f %13.3f %13.3f %12.2f\n", SizeLabel(size, label, sizeof label), Median(raw),
                Median(measured), Median(ratio), Median(rawCpu), Median(subjectCpu), allocations);
    results.push_back({label, ratio, Median(rawCpu), Median(subjectCpu)});
  }
  for (const Result& result : results)
    PrintResult(result.label, result.ratios, result.baseCpuPerGiB, result.subjectCpuPerGiB);
  return 0;
}

}  // namespace bench
