// service_cache_bench: what taking a cached service instance costs.
//
// 64 threads over 16 clients (a simulated daemon each) repeat lookup ->
// isCreateIndexRequired -> drop, after a warm-up. Prints the lookup and the
// operation p50 and p99 and the connections each daemon saw, against the
// same create-index query sent straight over an open channel (one thread
// per client, its own link) in the same run. The main line uses share key 0
// (the key every system caller uses: an idle instance or a new one per
// handle), the next a shared key. The installation check of each managed
// connect passes at once, as in the service tests. A last line runs key 0
// with client 0's first, managed connect held 2 s in the deployment seam:
// the lookup holds the cache lock across the connect, so the others wait.
// Then one "result:" line per share key: the direct query's p50 over the
// lookup's and the query's.
//
//   service_cache_bench [rounds per thread, default 200]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "BenchServiceClient.h"
#include "BenchSupport.h"
#include "ClClientManager.h"
#include "ClLaunchMsgs.h"
#include "ClProxyConnection.h"
#include "ClServiceMsgs.h"
#include "FXLogWriter.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimServiceDaemon.h"
#include "service/ProxyServices.h"

namespace {

const int kClients = 16;
const int kThreads = 64;
const int32_t kFirstClient = 100;
std::atomic<int> failedLookups{0};
std::atomic<int> failedOperations{0};

double Micros(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

// Holds the first managed connect to one port for two seconds.
class SlowFirstConnect : public ClClientManagerHooks {
 public:
  explicit SlowFirstConnect(uint16_t port) : m_port(port) {}
  CWqError checkAndStart(const ClClientManager& manager, long long) override {
    if (manager.getPort() == m_port && !m_done.exchange(true)) std::this_thread::sleep_for(std::chrono::seconds(2));
    return CWqError::Success();
  }
  CWqError startClient(const ClClientManager&) override { return CWqError::Success(); }

 private:
  uint16_t m_port;
  std::atomic<bool> m_done{false};
};

struct Timings {
  std::vector<double> lookup, operation;
  std::mutex mutex;
  void Add(const std::vector<double>& l, const std::vector<double>& o) {
    std::lock_guard<std::mutex> lock(mutex);
    lookup.insert(lookup.end(), l.begin(), l.end());
    operation.insert(operation.end(), o.begin(), o.end());
  }
};

// `warmUp` rounds first, not counted.
void RunCache(int32_t shareKey, int rounds, int warmUp, Timings& timings) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const int32_t client = kFirstClient + t % kClients;
      std::vector<double> lookups, operations;
      for (int round = -warmUp; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        ProxyServicesPtr handle = ProxyServices::instanceForClient(shareKey, client, 0, false, false);
        const auto found = std::chrono::steady_clock::now();
        if (!handle) {
          ++failedLookups;
          continue;
        }
        bool required = true;
        if (handle->isCreateIndexRequired(2, client, 10, 1, required).IsError()) ++failedOperations;
        const auto done = std::chrono::steady_clock::now();
        if (round < 0) continue;
        lookups.push_back(Micros(found - start));
        operations.push_back(Micros(done - found));
      }
      timings.Add(lookups, operations);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

// The same query over a link of its own per client, no cache.
std::vector<double> RunDirect(const std::vector<std::unique_ptr<SimServiceDaemon>>& daemons, int rounds) {
  std::vector<double> all;
  std::mutex mutex;
  std::vector<std::thread> threads;
  for (const std::unique_ptr<SimServiceDaemon>& daemon : daemons) {
    threads.emplace_back([&, port = daemon->GetPort()] {
      ClProxyConnection link;
      CWqSocket& socket = link.getConnectionSocket();
      CWqIPAddr address;
      CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
      if (!result.IsError()) result = address.SetPortNumber(port);
      if (!result.IsError()) result = socket.Create(AF_INET);
      if (!result.IsError()) result = socket.Connect(address);
      ClLaunchCmdMsg launch(0, "SERVICE");
      if (!result.IsError()) result = link.sendMessage(&launch);
      if (result.IsError()) {
        bench::Fail("direct link", result);
        return;
      }
      std::vector<double> mine;
      for (int round = -10; round < rounds * kThreads / kClients; ++round) {
        const auto start = std::chrono::steady_clock::now();
        ClCreateIndexFlagMsg query(ClCreateIndexFlagMsg::kQuery, 2, 10);
        ClProxyMsg* raw = nullptr;
        result = link.sendMessage(&query);
        if (!result.IsError()) result = link.recvMessage(raw, CREATE_INDEX_FLAG_MSG, 30);
        std::unique_ptr<ClProxyMsg> answer(raw);
        if (result.IsError()) {
          bench::Fail("direct query", result);
          return;
        }
        if (round >= 0) mine.push_back(Micros(std::chrono::steady_clock::now() - start));
      }
      std::lock_guard<std::mutex> lock(mutex);
      all.insert(all.end(), mine.begin(), mine.end());
    });
  }
  for (std::thread& thread : threads) thread.join();
  return all;
}

// Each daemon's connections so far.
std::vector<size_t> Connections(const std::vector<std::unique_ptr<SimServiceDaemon>>& daemons) {
  std::vector<size_t> counts;
  for (const std::unique_ptr<SimServiceDaemon>& daemon : daemons) counts.push_back(daemon->GetConnectionCount());
  return counts;
}

// `before`: Connections() before the run; the most new ones any client saw.
void Print(const char* label, const Timings& timings, const std::vector<std::unique_ptr<SimServiceDaemon>>& daemons,
           const std::vector<size_t>& before) {
  size_t most = 0;
  for (size_t i = 0; i < daemons.size(); ++i) most = std::max(most, daemons[i]->GetConnectionCount() - before[i]);
  std::printf("%-22s %10.1f %10.1f %12.1f %10.1f %10.1f %12zu\n", label, Percentile(timings.lookup, 0.5),
              Percentile(timings.lookup, 0.99), Percentile(timings.lookup, 1.0), Percentile(timings.operation, 0.5),
              Percentile(timings.operation, 0.99), most);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  if (rounds <= 0) rounds = 200;
  g_ptrLogWriter->SetLevel(-2);  // nothing: the table only
  ScopedSettingsRoot settingsRoot;
  std::vector<std::unique_ptr<SimServiceDaemon>> daemons;
  RecordRegistry& records = RecordRegistry::Instance();
  records.Reset();
  for (int i = 0; i < kClients; ++i) {
    daemons.emplace_back(new SimServiceDaemon);
    CWqError result = daemons.back()->Start();
    if (result.IsError()) return bench::Fail("daemon", result) ? 0 : 1;
    bench::AddServiceClient(kFirstClient + i, daemons.back()->GetPort());
  }
  ClClientManager::SetHooks(std::make_shared<bench::PassingInstallCheck>());
  std::printf("%d threads over %d clients, %d rounds each (microseconds)\n", kThreads, kClients, rounds);
  std::printf("%-22s %10s %10s %12s %10s %10s %12s\n", "", "lookup p50", "lookup p99", "lookup max", "op p50", "op p99",
              "conns/client");

  const std::vector<double> direct = RunDirect(daemons, rounds);
  std::printf("%-22s %10s %10s %12s %10.1f %10.1f %12d\n", "direct channel", "-", "-", "-", Percentile(direct, 0.5),
              Percentile(direct, 0.99), 1);

  std::vector<size_t> before = Connections(daemons);
  Timings cached;
  RunCache(0, rounds, 10, cached);
  Print("cache, key 0", cached, daemons, before);

  ProxyServicesCache::Reset();
  before = Connections(daemons);
  Timings shared;
  RunCache(7, rounds, 10, shared);
  Print("cache, key 7 (shared)", shared, daemons, before);

  ProxyServicesCache::Reset();
  before = Connections(daemons);
  ClClientManager::SetHooks(std::make_shared<SlowFirstConnect>(daemons[0]->GetPort()));
  Timings slow;
  RunCache(0, rounds, 0, slow);  // the connects counted: the slow one holds up the others
  Print("key 0, client 0 slow", slow, daemons, before);
  // The lines scripts/bench.sh reads: the direct query's p50 over a lookup
  // and query's p50 (one figure per run).
  for (const auto& line : {std::make_pair("key 0", &cached), std::make_pair("key 7 (shared)", &shared)}) {
    const double ratio =
        Percentile(direct, 0.5) / (Percentile(line.second->lookup, 0.5) + Percentile(line.second->operation, 0.5));
    bench::PrintResult(std::string("lookup and query, ") + line.first, {ratio}, -1, -1);
  }
  if (failedLookups.load() || failedOperations.load())
    std::printf("failed: %d lookups, %d operations\n", failedLookups.load(), failedOperations.load());
  ProxyServicesCache::Reset();
  ClClientManager::SetHooks(nullptr);
  for (const std::unique_ptr<SimServiceDaemon>& daemon : daemons) daemon->Stop();
  records.Reset();
  return 0;
}
