#include "ScanRoad.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "ClJobStartMsg.h"
#include "ClScanMsgs.h"
#include "ExampleClientCommand.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "SimScanProgram.h"
#include "scan/ProxyScan.h"

namespace {

// A scan that has not ended after this many results is taken as stuck.
const int kMaxReceives = 8;
// The host gives up on a scan that runs longer than this. The phase asks
// only after 10 quiet seconds, so a scan that talks is never cut short.
const int64_t kScanDeadlineMs = 120 * 1000;
// Lines of each written file shown.
const size_t kShownLines = 8;
const char kReceivingName[] = "dirChange.receiving";
const char* const kCompanions[] = {"scan_Failures.kxf", "split_config", "Merged_split_config"};

class DeadlineAbortCheck : public CAbortOperationCheck {
 public:
  explicit DeadlineAbortCheck(int64_t deadlineMs) : m_deadlineMs(deadlineMs) {}
  bool isAbortRequested() override {
    const bool late = FXGetClock().MonotonicMs() >= m_deadlineMs;
    if (late) std::printf("  (the scan runs too long: the host asks to abandon it)\n");
    return late;
  }

 private:
  int64_t m_deadlineMs;
};

// `error` with a frame naming the step, so the chain says where it ended.
CWqError StepFailed(CWqError error, const char* step) {
  error.Push(FX_HERE, "Step '%s' of the scan job failed", step);
  return error;
}

std::string Join(const std::list<std::string>& items) {
  if (items.empty()) return "(none)";
  std::string all;
  for (const std::string& item : items) all += (all.empty() ? "" : ", ") + item;
  return all;
}

std::string UtcText(time_t time) {
  struct tm parts;
  char text[32];
  if (!gmtime_r(&time, &parts) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
    return std::to_string(static_cast<long long>(time));
  return text;
}

std::string Describe(const ClJobStartMsg::Entry& entry) {
  switch (entry.kind) {
    case ClJobStartMsg::kBool:
      return entry.name + "=" + (entry.bValue ? "true" : "false");
    case ClJobStartMsg::kInt32:
      return entry.name + "=" + std::to_string(entry.iValue);
    case ClJobStartMsg::kUInt32:
      return entry.name + "=" + std::to_string(entry.uValue);
    case ClJobStartMsg::kUInt64:
      return entry.name + "=" + std::to_string(entry.ullValue);
    case ClJobStartMsg::kString:
      return entry.name + "='" + entry.text + "'";
    case ClJobStartMsg::kPath:
      return "path " + entry.name + " -> " + entry.text;
  }
  return entry.name;
}

// Prints a written file: path, size, lines and the first of them.
CWqError ShowFile(const char* label, const std::string& path) {
  FileGlance glance;
  CWqError result = GlanceAtFile(path, kShownLines, glance);
  if (result.IsError()) return result;
  std::printf("  %s: %s (%llu bytes, %llu line%s)\n", label, path.c_str(),
              static_cast<unsigned long long>(glance.bytes), static_cast<unsigned long long>(glance.lineCount),
              glance.lineCount == 1 ? "" : "s");
  for (const std::string& line : glance.firstLines) std::printf("    | %s\n", line.c_str());
  if (glance.lineCount > glance.firstLines.size())
    std::printf("    | ... %llu more\n", static_cast<unsigned long long>(glance.lineCount - glance.firstLines.size()));
  return CWqError::Success();
}

// The result of the receives, for the summary.
struct ScanOutcome {
  bool failed = false;
  bool completed = false;
  time_t scanTime = 0;
  std::list<std::string> failures;
  uint32_t failedToBackup = 0;
  uint32_t numCollect = 0;
  std::vector<std::string> dirChangeFiles;
};

// recvScanResult until the scan reports its end; each directory-change file
// is moved out of the way of the next call.
CWqError ReceiveResults(ProxyScan& phase, const std::string& outputDir, ScanOutcome& outcome) {
  const std::string receiving = outputDir + "/" + kReceivingName;
  CAbortOperationCheckPtr abortCheck(new DeadlineAbortCheck(FXGetClock().MonotonicMs() + kScanDeadlineMs));
  for (int call = 1; call <= kMaxReceives; ++call) {
    CWqError result = phase.recvScanResult(receiving, outcome.failed, outcome.completed, outcome.scanTime,
                                           outcome.failures, outcome.failedToBackup, outcome.numCollect, abortCheck);
    if (result.IsError()) return result;
    if (outcome.failed)
      return FXErrorUtil::ErrorInt(FX_HERE, 1, "The scan program reported a failed scan (receive %d)", call);
    if (PathExists(receiving)) {
      const size_t number = outcome.dirChangeFiles.size() + 1;
      const std::string kept =
          outputDir + "/dirChange" + (number == 1 ? std::string() : "-" + std::to_string(number)) + ".txt";
      if (::rename(receiving.c_str(), kept.c_str()) != 0) {
        const int errNo = errno;
        return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot move [%s] to [%s]: %s", receiving.c_str(),
                                       kept.c_str(), std::strerror(errNo));
      }
      outcome.dirChangeFiles.push_back(kept);
      std::printf("recvScanResult %d: a file stream ended; the directory-change file is kept as %s\n", call,
                  kept.c_str());
    }
    if (outcome.completed) {
      if (outcome.dirChangeFiles.empty())
        return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "The scan ended without a directory-change file");
      std::printf("recvScanResult %d: the scan program reported the end of the scan (status 3)\n", call);
      return CWqError::Success();
    }
  }
  return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The scan did not report its end in %d results", kMaxReceives);
}

void ShowOutcome(const ScanOutcome& outcome) {
  std::printf("scan status: completed=%s failed=%s scan time %s\n", outcome.completed ? "yes" : "no",
              outcome.failed ? "yes" : "no", UtcText(outcome.scanTime).c_str());
  std::printf("  items listed (collect count): %u, failed to back up: %u\n", static_cast<unsigned>(outcome.numCollect),
              static_cast<unsigned>(outcome.failedToBackup));
  for (const std::string& failure : outcome.failures) std::printf("  failure: %s\n", failure.c_str());
}

// What the scan program received, once it has ended.
CWqError ShowClientSide(SimClientDaemon& daemon) {
  if (!daemon.WaitForProgram(0, static_cast<int>(ExampleJob::kTimeoutSeconds)))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The simulated scan program did not end");
  const SimConnectionRecord record = daemon.GetProgramRecord(0);
  if (record.failure.IsError()) {
    CWqError error = record.failure;
    error.Push(FX_HERE, "The simulated scan program failed");
    return error;
  }
  std::printf("client side: SCN.EXE ended after JOB_COMPLETE_MSG\n");
  if (std::shared_ptr<const ClJobStartMsg> start = SimScanProgram::JobStart(record)) {
    std::printf("  job start it received: job %llu, level %d, %zu options\n",
                static_cast<unsigned long long>(start->getJobId()), static_cast<int>(start->getBackupLevel()),
                start->getEntries().size());
    for (const ClJobStartMsg::Entry& entry : start->getEntries()) std::printf("    %s\n", Describe(entry).c_str());
  }
  if (std::shared_ptr<const ClScanConfigMsg> config = SimScanProgram::ScanConfig(record)) {
    std::printf("  scan configuration it received: content %s; new content %s (the sample job's record)\n",
                Join(config->getContent()).c_str(), Join(config->getNewContent()).c_str());
    std::string options;
    for (const auto& option : config->getOptions())
      options += (options.empty() ? "" : ", ") + option.first + "=" + option.second;
    std::printf("    options: %s\n", options.empty() ? "(none)" : options.c_str());
  }
  return CWqError::Success();
}

}  // namespace

CWqError RunScanRoad(SimClientDaemon& daemon, const std::list<std::string>& content, const std::string& outputDir) {
  std::unique_ptr<ProxyScan> phase(createProxyScan());
  if (!phase) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "createProxyScan made no scan phase");
  phase->m_numberOfReadersPerVolume = 2;
  phase->m_bKeepATime = true;
  std::printf("createProxyScan: scan phase made (readers per volume 2, keep access times)\n");

  CWqError result = phase->init(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId, ExampleJob::kJobId,
                                ExampleJob::kLevel, ExampleJob::kJobStartValue, ExampleJob::kHost, 0);
  if (result.IsError()) return StepFailed(result, "init");
  std::printf("init: connected to the client daemon at %s:%u (%s), listener open for %s\n", ExampleJob::kHost,
              static_cast<unsigned>(daemon.GetPort()), DescribeJobClient().c_str(), SimScanProgram::kCommand);

  result = phase->launchClientProcess();
  if (result.IsError()) return StepFailed(result, "launchClientProcess");
  const std::vector<SimClientDaemon::Launch> launches = daemon.GetLaunches();
  if (launches.empty())
    return StepFailed(FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The daemon saw no launch"), "launchClientProcess");
  const SimClientDaemon::Launch& launch = launches.back();
  std::printf("launchClientProcess: process id %d; the daemon starts %s, which calls back to %s:%u\n",
              static_cast<int>(launch.processId), launch.command.c_str(),
              launch.withInterface ? launch.interface.c_str() : ExampleJob::kHost, static_cast<unsigned>(launch.port));

  int status = -1;
  result = phase->getClientProcessStatus(status);
  if (result.IsError()) return StepFailed(result, "getClientProcessStatus");
  std::printf("getClientProcessStatus: the daemon reports status %d\n", status);

  result = phase->acceptClientProcessConnection();
  if (result.IsError()) return StepFailed(result, "acceptClientProcessConnection");
  std::printf("acceptClientProcessConnection: %s connected back\n", SimScanProgram::kCommand);

  result = phase->sendJobStart();
  if (result.IsError()) return StepFailed(result, "sendJobStart");
  std::printf("sendJobStart: job %llu (level %d) started; the client reported its base directory\n",
              static_cast<unsigned long long>(ExampleJob::kJobId), static_cast<int>(ExampleJob::kLevel));

  std::list<std::string> scanContent = content;
  std::list<std::string> second, third, fourth;
  std::list<std::pair<std::string, std::string>> options;
  result = phase->sendScanConfig(scanContent, second, third, fourth, options);
  if (result.IsError()) return StepFailed(result, "sendScanConfig");
  std::printf("sendScanConfig: content %s\n", Join(scanContent).c_str());
  // The central server's answer is the sample job's record, whatever folder
  // the run scans: said so, not passed off as the user's.
  std::printf("  new content reported by the central server (the sample job's record): %s\n",
              Join(phase->m_newContent).c_str());

  ScanOutcome outcome;
  result = ReceiveResults(*phase, outputDir, outcome);
  if (result.IsError()) return StepFailed(result, "recvScanResult");

  result = phase->sendJobComplete();
  if (result.IsError()) return StepFailed(result, "sendJobComplete");
  std::printf("sendJobComplete: sent\n");
  phase.reset();  // closes both links, as a host does when the phase is over

  std::printf("files written in %s:\n", outputDir.c_str());
  for (const std::string& path : outcome.dirChangeFiles) {
    result = ShowFile("directory-change file", path);
    if (result.IsError()) return StepFailed(result, "show the files");
  }
  for (const char* name : kCompanions) {
    const std::string path = outputDir + "/" + name;
    if (!PathExists(path)) continue;
    result = ShowFile("companion", path);
    if (result.IsError()) return StepFailed(result, "show the files");
  }
  ShowOutcome(outcome);

  result = ShowClientSide(daemon);
  if (result.IsError()) return StepFailed(result, "client side");
  return CWqError::Success();
}
