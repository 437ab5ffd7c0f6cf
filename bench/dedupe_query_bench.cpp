// dedupe_query_bench: the signature-query listener against a plain echo, and
// the lookup of stored answers as their number grows.
//
// Batches: a client sends batches of 1, 64 and 1024 signature queries to a
// running CLProxyDedupeQueryMgr whose module answers at once, and waits for
// each batch's results; the baseline sends blobs of the same request size
// over a message channel to a thread that answers each with a blob of the
// same reply size. The client is pinned, the answering thread (listener or
// echo) is not. The stand-in signature module's cost is not the system's:
// the module reports the time spent inside its operations during the run
// ("module b/s": batches per second of that time), and the "system" ratio
// is baseline time / (listener time - module time) (target 0.8 or better).
// Alternating rounds; prints the median batches per second of each, the
// median ratios, the system ratio's spread (min-max of the rounds) and the
// client's CPU seconds per GiB of request bytes.
//
// Lookups: GetQueryRespParam taking half of 10^3, 10^5 and 10^6 stored
// answers (of new blocks, the only ones kept) out, in random order and in
// arrival order (as the client program's signature records come); prints
// the median lookups per CPU second of the looking-up thread, their spread
// and the ratio of each rate to the rate at 10^3 (target: 10^6 within a
// factor of 2).
//
//   dedupe_query_bench [queries per round, default 262144] [rounds, default 5]
//                      [only this batch size, no lookups; for profiling]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyConnection.h"
#include "CWqIPAddr.h"
#include "FXLogWriter.h"
#include "KXOpenBackupServices/CLProxyDedupeQueryMgr.h"
#include "SignatureQuery.h"

namespace {

// `distinct` false: one signature throughout, so the module's store stays
// small and every answer after the first is "found" (not kept). True: each
// query's signature is its id, so every answer is "new" and kept.
std::vector<_PrePipelineDedupe_Query> Batch(size_t size, uint32_t firstId, bool distinct) {
  std::vector<_PrePipelineDedupe_Query> queries(size);
  for (size_t i = 0; i < size; ++i) {
    queries[i].uUniqueId = firstId + static_cast<uint32_t>(i);
    queries[i].signature[0] = 1;
    if (distinct) std::memcpy(queries[i].signature + 1, &queries[i].uUniqueId, 4);
  }
  return queries;
}

bool Connect(ClProxyConnection& link, unsigned int port) {
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(static_cast<uint16_t>(port));
  if (!result.IsError()) result = link.getConnectionSocket().Create(AF_INET);
  if (!result.IsError()) result = link.getConnectionSocket().Connect(address);
  return !result.IsError() || bench::Fail("connect to the query port", result);
}

// `moduleSeconds` receives the time the run spent inside the module.
bench::Sample RunListener(const bench::CpuPair& cpus, size_t batchSize, size_t batches, double& moduleSeconds) {
  SignatureQueryScript::Reset();
  CLProxyDedupeQueryMgr mgr;
  _stSQueryInitParameters params;
  unsigned int port = 0;
  CWqError result = mgr.Initialize(1, 1, 3, params, port);
  if (result.IsError()) {
    bench::Fail("query manager", result);
    return bench::Sample();
  }
  ClProxyConnection client;
  if (!Connect(client, port)) return bench::Sample();
  // Unique ids throughout, as a client program numbers its blocks.
  std::vector<std::unique_ptr<COBPrePipelineDedupeQueryMsg>> queries;
  for (size_t i = 0; i < batches; ++i)
    queries.emplace_back(
        new COBPrePipelineDedupeQueryMsg(Batch(batchSize, static_cast<uint32_t>(i * batchSize), false)));
  // The client's loop is the timed one; the listener answers on its own thread.
  bench::Sample sample = bench::Measure(
      cpus, [] { return true; },
      [&] {
        for (size_t i = 0; i < batches; ++i) {
          CWqError sent = client.sendMessage(queries[i].get());
          ClProxyMsg* reply = nullptr;
          if (!sent.IsError()) sent = client.recvMessage(reply, PREPIPELINE_DEDUPE_RESULT_RESP_MSG, 30);
          delete reply;
          if (sent.IsError()) return bench::Fail("a batch", sent);
        }
        return true;
      });
  moduleSeconds = SignatureQueryScript::BusySeconds();
  ClEmptyMsg stop(STREAM_STOP_MSG);
  (void)client.sendMessage(&stop);
  mgr.Uninitialize();
  return sample;
}

bench::Sample RunEcho(const bench::CpuPair& cpus, size_t batchSize, size_t batches) {
  ClProxyConnection client, server;
  if (!bench::MakePair(client.getConnectionSocket(), server.getConnectionSocket())) return bench::Sample();
  const std::vector<uint8_t> request(4 + 104 * batchSize, 1), answer(4 + 24 * batchSize, 2);
  ClBlobMsg requestMsg(FILE_DATA_MSG, ClBlobMsg::Borrow, request.data(), static_cast<uint32_t>(request.size()));
  ClBlobMsg answerMsg(FILE_DATA_MSG, ClBlobMsg::Borrow, answer.data(), static_cast<uint32_t>(answer.size()));
  // The answering thread is not pinned, like the listener's.
  bool answered = true;
  std::thread answering([&] {
    for (size_t i = 0; i < batches; ++i) {
      ClProxyMsg* got = nullptr;
      CWqError result = server.recvMessage(got, FILE_DATA_MSG, 30);
      delete got;
      if (!result.IsError()) result = server.sendMessage(&answerMsg);
      if (result.IsError()) {
        answered = bench::Fail("an echo answer", result);
        return;
      }
    }
  });
  bench::Sample sample = bench::Measure(
      cpus, [] { return true; },
      [&] {
        for (size_t i = 0; i < batches; ++i) {
          CWqError sent = client.sendMessage(&requestMsg);
          ClProxyMsg* reply = nullptr;
          if (!sent.IsError()) sent = client.recvMessage(reply, FILE_DATA_MSG, 30);
          delete reply;
          if (sent.IsError()) return bench::Fail("an echo", sent);
        }
        return true;
      });
  answering.join();
  if (!answered) sample.seconds = -1;
  return sample;
}

// Lookups per CPU second taking half of `stored` answers out; small stores
// are filled and half emptied again until 10^5 lookups are timed.
// `shuffled` false: in the order of the queries, as signature records come.
double LookupRate(size_t stored, std::mt19937& random, bool shuffled) {
  const size_t repeats = std::max<size_t>(1, 200000 / stored);
  double seconds = 0;
  size_t lookups = 0;
  for (size_t repeat = 0; repeat < repeats; ++repeat) {
    SignatureQueryScript::Reset();  // an empty signature store: every block new
    CLProxyDedupeQueryMgr mgr;
    for (size_t from = 0; from < stored; from += 1024) {
      COBPrePipelineDedupeQueryMsg query(
          Batch(std::min<size_t>(1024, stored - from), static_cast<uint32_t>(from), true));
      ClProxyMsg* reply = nullptr;
      CWqError result = mgr.processMessage(&query, reply);
      delete reply;
      if (result.IsError()) {
        bench::Fail("filling the answers", result);
        return -1;
      }
    }
    std::vector<uint32_t> ids(stored);
    for (size_t i = 0; i < stored; ++i) ids[i] = static_cast<uint32_t>(i);
    if (shuffled) std::shuffle(ids.begin(), ids.end(), random);
    ids.resize(stored / 2);
    SIDBQueryAndInsertSignaturesResponseParam answer;
    const double start = bench::ThreadCpuSeconds();
    for (uint32_t id : ids)
      if (!mgr.GetQueryRespParam(id, answer)) return -1;
    seconds += bench::ThreadCpuSeconds() - start;
    lookups += ids.size();
    mgr.Uninitialize();
  }
  return static_cast<double>(lookups) / seconds;
}

// "min-max" of the rounds.
std::string Spread(const std::vector<double>& values) {
  char text[64];
  const auto range = std::minmax_element(values.begin(), values.end());
  if (*range.second >= 1000) std::snprintf(text, sizeof text, "%.0f-%.0f", *range.first, *range.second);
  else std::snprintf(text, sizeof text, "%.2f-%.2f", *range.first, *range.second);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  g_ptrLogWriter->SetLevel(-1);
  g_ptrLogWriter->SetQuiet(true);
  size_t queries = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
  if (queries == 0) queries = 262144;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 0;
  if (rounds <= 0) rounds = 5;
  const bench::CpuPair cpus = bench::ChooseCpus();
  std::printf("batches through the query listener against an echo of the same sizes; %d rounds of %zu queries\n",
              rounds, queries);
  std::printf("%-6s %10s %12s %12s %7s %7s %8s %14s %14s\n", "batch", "echo b/s", "listener b/s", "module b/s",
              "ratio", "system", "spread", "echo cpu s/GiB", "list. cpu s/GiB");
  const size_t only = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
  const std::vector<size_t> batchSizes = only ? std::vector<size_t>{only} : std::vector<size_t>{1, 64, 1024};
  for (size_t batchSize : batchSizes) {
    const size_t batches = std::max<size_t>(queries / batchSize, 1);
    const double gib = static_cast<double>(batches) * (4 + 104 * batchSize) / (1024.0 * 1024 * 1024);
    std::vector<double> echoRate, listenerRate, moduleRate, ratio, systemRatio, echoCpu, listenerCpu;
    for (int round = 0; round < rounds; ++round) {
      bench::Sample e, l;
      double m = 0;
      if (round % 2 == 0) {
        e = RunEcho(cpus, batchSize, batches);
        l = RunListener(cpus, batchSize, batches, m);
      } else {
        l = RunListener(cpus, batchSize, batches, m);
        e = RunEcho(cpus, batchSize, batches);
      }
      if (e.seconds <= 0 || l.seconds <= 0 || m <= 0) return 1;
      echoRate.push_back(batches / e.seconds);
      listenerRate.push_back(batches / l.seconds);
      moduleRate.push_back(batches / m);
      ratio.push_back(e.seconds / l.seconds);
      // The system's share: the listener's time less the module's.
      systemRatio.push_back(e.seconds / std::max(l.seconds - m, 1e-9));
      echoCpu.push_back(e.cpuSeconds / gib);
      listenerCpu.push_back(l.cpuSeconds / gib);
    }
    std::printf("%-6zu %10.0f %12.0f %12.0f %7.2f %7.2f %8s %14.3f %14.3f\n", batchSize, bench::Median(echoRate),
                bench::Median(listenerRate), bench::Median(moduleRate), bench::Median(ratio),
                bench::Median(systemRatio), Spread(systemRatio).c_str(), bench::Median(echoCpu),
                bench::Median(listenerCpu));
    bench::PrintResult("listener's own share vs echo, " + std::to_string(batchSize) + " queries per batch", systemRatio,
           bench::Median(echoCpu), bench::Median(listenerCpu));
  }

  if (only) return 0;
  std::printf("\nlookups of stored answers (half of them taken out)\n");
  std::printf("%-10s %-8s %14s %18s %10s\n", "stored", "order", "lookups/s", "spread", "vs 10^3");
  std::mt19937 random(42);
  for (bool shuffled : {true, false}) {
    std::vector<double> baseRates, vsBase;
    for (size_t stored : {size_t(1000), size_t(100000), size_t(1000000)}) {
      std::vector<double> rates;
      for (int round = 0; round < rounds; ++round) {
        const double rate = LookupRate(stored, random, shuffled);
        if (rate <= 0) return 1;
        rates.push_back(rate);
      }
      if (baseRates.empty()) baseRates = rates;
      vsBase.clear();
      for (int round = 0; round < rounds; ++round) vsBase.push_back(rates[round] / baseRates[round]);
      std::printf("%-10zu %-8s %14.0f %18s %10.2f\n", stored, shuffled ? "random" : "arrival", bench::Median(rates),
                  Spread(rates).c_str(), bench::Median(rates) / bench::Median(baseRates));
    }
    bench::PrintResult(std::string("lookups among 10^6 vs 10^3 stored answers, ") + (shuffled ? "random" : "arrival") + " order",
           vsBase, -1, -1);
  }
  return 0;
}
