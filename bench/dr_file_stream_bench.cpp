// dr_file_stream_bench: what the DR file stream costs per item.
//
// The simulated IBM i streams `items` saved files (a FILE_HEADER_MSG with
// the header and its barcode, then GOOD_EOF_MSG; names of 20 to 200 bytes),
// then the statistics; the host pulls them one per call with
// recvNextFileFromDR over loopback. The baseline, in the same run: a raw
// loopback socket carrying the same frames, read frame by frame into one
// reused buffer. Prints items per second of both, the median of the rounds'
// ratios (baseline time / stream time), CPU seconds per GiB of both and the
// allocations per item. The client's installation check, which the
// connect of configure runs, is answered at once: it is not measured here.
//
//   dr_file_stream_bench [items, default 1000000] [rounds, default 5]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClDRMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyConnection.h"
#include "ClProxyFileHeader.h"
#include "ClProxySerializer.h"
#include "ClProxyWire.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimPeer.h"
#include "SimServiceDaemon.h"
#include "service/IBMiDRClientConnection.h"

namespace {

const int32_t kClient = 5;
const int kVellicon = 2;
const int kApp = 17;
const long long kJob = 1001;
const size_t kChunkItems = 1000;

void AppendFrame(std::vector<uint8_t>& out, uint16_t type, const uint8_t* payload, uint32_t length) {
  uint8_t head[ClProxyWire::kHeaderSize];
  ClProxyWire::EncodeHeader(type, length, head);
  out.insert(out.end(), head, head + sizeof head);
  out.insert(out.end(), payload, payload + length);
}

// kChunkItems items as frames; the stream repeats the chunk.
std::vector<uint8_t> Chunk() {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < kChunkItems; ++i) {
    ClProxyFileHeaderSerializer file;
    file.name = "/QSYS.LIB/LIB" + std::to_string(i) + ".LIB/";
    file.name.resize(20 + (i * 37) % 181, 'F');
    file.mode = 0100644;
    file.size = 4096 * i;
    const std::string barcode = "VOL" + std::to_string(i % 4);
    std::vector<uint8_t> payload(file.getBufSize() + 4 + barcode.size());
    uint32_t used = 0;
    file.serialize(payload.data(), static_cast<uint32_t>(payload.size()), used);
    ClProxySerializer::serialize(barcode, payload.data(), static_cast<uint32_t>(payload.size()), used);
    AppendFrame(out, FILE_HEADER_MSG, payload.data(), used);
    AppendFrame(out, GOOD_EOF_MSG, nullptr, 0);
  }
  return out;
}

std::vector<uint8_t> StatsFrame(size_t items) {
  std::vector<uint8_t> out;
  ClBackupStatsMsg stats(static_cast<uint32_t>(items), 0, 0);
  std::vector<uint8_t> scratch;
  ClProxyPayloadView view;
  stats.encodePayload(scratch, view);
  AppendFrame(out, BACKUP_STATS_MSG, view.data, view.size);
  return out;
}

double CpuSeconds() {
  rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
  double seconds = -1;
  double cpuSeconds = 0;
  double allocationsPerItem = 0;
};

// The connect of configure runs the client's installation check; this
// program measures the file stream, so the check is answered at once
// through the client manager's test seam.
class NoCheck : public ClClientManagerHooks {
 public:
  CWqError checkAndStart(const ClClientManager&, long long) override { return CWqError::Success(); }
  CWqError startClient(const ClClientManager&) override {
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "no client start in this benchmark");
  }
};

Run Stream(KXBkpJobClient& jobClient, SimServiceDaemon& daemon, const std::vector<uint8_t>& chunk,
           const std::vector<uint8_t>& stats, size_t items) {
  daemon.ScriptNext(PROCESS_OUTFILE_MSG, SimScript().Call([&](SimPeer& peer) {
    for (size_t sent = 0; sent < items; sent += kChunkItems) {
      CWqError result = peer.SendRaw(chunk);
      if (result.IsError()) return result;
    }
    return peer.SendRaw(stats);
  }));
  boost::shared_ptr<IBMiDRStateInterface> state(new IBMiDRStateInterface(kVellicon, kApp, kJob));
  IBMiDRClientConnectionInterface connection(&jobClient, nullptr, kVellicon, kApp, kJob, false, state);
  Run run;
  CWqError result = connection.configure(true);
  if (!result.IsError()) result = connection.startOutfileProcessing();
  if (result.IsError()) {
    bench::Fail("outfile request", result);
    return run;
  }
  std::unique_ptr<CXFileHeader> header(new CXFileHeader);
  std::string name;
  size_t received = 0;
  const uint64_t allocations = bench::AllocationCount();
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    int status = 0;
    result = connection.recvNextFileFromDR(status, name, *header);
    if (result.IsError()) {
      bench::Fail("receive", result);
      return run;
    }
    if (status == 7) break;
    if (status == 0) ++received;
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = CpuSeconds() - cpu;
  run.allocationsPerItem = static_cast<double>(bench::AllocationCount() - allocations) / items;
  if (received != items) {
    std::fprintf(stderr, "received %zu of %zu items\n", received, items);
    run.seconds = -1;
  }
  connection.stopServicesOnClient();
  return run;
}

Run Raw(const bench::CpuPair& cpus, const std::vector<uint8_t>& chunk, const std::vector<uint8_t>& stats,
        size_t items) {
  CWqSocket client, server;
  Run run;
  if (!bench::MakePair(client, server)) return run;
  const int out = client.GetSocketDescriptor(), in = server.GetSocketDescriptor();
  size_t frames = 0;
  const double cpu = CpuSeconds();
  bench::Sample sample = bench::Measure(
      cpus,
      [&] {
        for (size_t sent = 0; sent < items; sent += kChunkItems)
          if (!bench::SendAll(out, chunk.data(), chunk.size())) return false;
        return bench::SendAll(out, stats.data(), stats.size());
      },
      [&] {
        std::vector<uint8_t> buffer(65536);
        uint8_t head[ClProxyWire::kHeaderSize];
        for (;;) {
          if (!bench::RecvAll(in, head, sizeof head)) return false;
          ClProxyWire::FrameHeader frame;
          if (!ClProxyWire::DecodeHeader(head, frame)) return false;
          const uint16_t type = frame.type;
          const uint32_t length = frame.length;
          if (length > buffer.size()) buffer.resize(length);
          if (length && !bench::RecvAll(in, buffer.data(), length)) return false;
          ++frames;
          if (type == BACKUP_STATS_MSG) return true;
        }
      });
  run.seconds = sample.seconds;
  run.cpuSeconds = CpuSeconds() - cpu;
  if (frames != 2 * items + 1) run.seconds = -1;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  size_t items = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  items = (items + kChunkItems - 1) / kChunkItems * kChunkItems;
  if (items == 0 || rounds <= 0) return 2;
  g_ptrLogWriter->SetLevel(-1);
  ScopedSettingsRoot settingsRoot;
  ScopedResultsRoot results;
  KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_NEXT_FILE", 60);
  SimServiceDaemon daemon;
  if (daemon.Start().IsError()) return 1;
  RecordRegistry& records = RecordRegistry::Instance();
  records.AddClient(kClient, "ibmi5", 118);
  records.SetClientValue(kClient, "NetworkHostname", std::string("127.0.0.1"));
  records.SetClientValue(kClient, "DisplayName", std::string("IBM i 5"));
  records.SetClientValue(kClient, "KXDPort", static_cast<int>(daemon.GetPort()));
  records.AddSubclient(kVellicon, kApp, kClient);
  records.SetSubclientValue(kVellicon, kApp, "DRDataPath", RecordValue(""));
  records.SetTaskXMLOptions(kJob, "<options/>");
  KXBkpJobClient jobClient;
  if (!jobClient.init("central01", 0, kJob)) return 1;
  ClClientManager::SetHooks(std::make_shared<NoCheck>());

  const std::vector<uint8_t> chunk = Chunk(), stats = StatsFrame(items);
  const double gib = static_cast<double>(chunk.size()) * (items / kChunkItems) / (1 << 30);
  const bench::CpuPair cpus = bench::ChooseCpus();
  std::vector<double> ratios, streamRates, rawRates, streamCpu, rawCpu, allocations;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which goes first, so neither always meets a warm machine.
    Run raw, stream;
    if (round % 2 == 0) {
      raw = Raw(cpus, chunk, stats, items);
      stream = Stream(jobClient, daemon, chunk, stats, items);
    } else {
      stream = Stream(jobClient, daemon, chunk, stats, items);
      raw = Raw(cpus, chunk, stats, items);
    }
    if (raw.seconds <= 0 || stream.seconds <= 0) return 1;
    ratios.push_back(raw.seconds / stream.seconds);
    rawRates.push_back(items / raw.seconds);
    streamRates.push_back(items / stream.seconds);
    rawCpu.push_back(raw.cpuSeconds / gib);
    streamCpu.push_back(stream.cpuSeconds / gib);
    allocations.push_back(stream.allocationsPerItem);
    std::printf("round %d: raw %.0f items/s, stream %.0f items/s, ratio %.2f\n", round + 1, rawRates.back(),
                streamRates.back(), ratios.back());
  }
  std::printf("items %zu (%.2f GiB per run), %d rounds\n", items, gib, rounds);
  std::printf("median items/s: raw %.0f, stream %.0f; median ratio %.2f\n", bench::Median(rawRates),
              bench::Median(streamRates), bench::Median(ratios));
  std::printf("CPU s/GiB: raw %.2f, stream %.2f; allocations per item %.2f\n", bench::Median(rawCpu),
              bench::Median(streamCpu), bench::Median(allocations));
  bench::PrintResult(std::to_string(items) + " items", ratios, bench::Median(rawCpu), bench::Median(streamCpu));
  return 0;
}
