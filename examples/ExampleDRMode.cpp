// The dr mode of the example host: a whole IBM i disaster-recovery backup
// against the simulated client daemon on a virtual clock. The client answers
// the start with its job number, goes down 30 s later, "saves" and comes back
// on the same port (5 virtual minutes later, 20 with --ipl), then answers the
// status query. Each saved state is printed with its virtual time, then the
// events and pending causes and the status file. --suspend (with --ipl)
// suspends the job after the go-down: the first driver stops at the come-up
// wait and a second one, the restarted job, resumes there. --fail-save makes
// the client report a failed save, which defers the staging cleanup. --vtl
// runs a VTL DR job instead (ExampleDRVTL.cpp).
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "App_ExecuteSP.h"
#include "ClBasicMsgs.h"
#include "ClProxySerializer.h"
#include "ExampleDR.h"
#include "EventJournal.h"
#include "ExampleJob.h"
#include "ExampleModes.h"
#include "ExampleStages.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "KXPlatformInfo.h"
#include "MediaManagerMsgs.h"
#include "RecordRegistry.h"
#include "ServiceClient.h"
#include "SimMediaManager.h"
#include "SimServiceDaemon.h"
#include "service/IBMiDRBackupManager.h"
#include "service/IBMiDRConfiguration.h"

std::shared_ptr<ClProxyMsg> DRStatusBlob(const std::string& first, const uint32_t* code, const std::string* text) {
  std::vector<uint8_t> bytes(512);
  uint32_t offset = 0;
  ClProxySerializer::serialize(first, bytes.data(), 512, offset);
  if (code) ClProxySerializer::serialize(*code, bytes.data(), 512, offset);
  if (text) ClProxySerializer::serialize(*text, bytes.data(), 512, offset);
  return std::make_shared<ClBlobMsg>(DR_JOB_STATUS_MSG, ClBlobMsg::Copy, bytes.data(), offset);
}


namespace {

const char kJobNumber[] = "123456/QSECOFR/KXDRBKP";

CWqError RunDR(const ExampleOptions& options) {
  ServiceClient client;
  CWqError result = client.Prepare(options);
  if (result.IsError()) return result;
  result = client.Start();
  if (result.IsError()) return result;
  SimServiceDaemon back;
  back.SetBindAddress("127.0.0.1", client.daemon().GetPort());

  FXScopedVirtualClock clock;
  const int64_t startMs = clock.clock().MonotonicMs();
  setenv("PROXY_RESULTS_ROOT", (client.outputDir() + "/results").c_str(), 1);
  RecordRegistry& records = RecordRegistry::Instance();
  records.AddSubclient(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId);
  records.SetSubclientValue(ExampleJob::kVelliconId, ExampleJob::kAppId, "DRDataPath", RecordValue("/home/drimage"));
  records.SetTaskXMLOptions(ExampleJob::kJobId, "<options/>");
  if (options.drSuspend) records.SetTaskOption(ExampleJob::kJobId, kSuspendJobTaskOption, RecordValue(1));
  records.SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, SimLibraryReply(false));
  KXPlatformInfo().setString("Zentraver", "sHostName", "central01", 9);
  KXJobControlScript::Instance().Reset();
  EventJournal::Instance().Reset();

  // The client: down 30 s after the start, back after its save.
  const int64_t backAfterMs = options.drIPL ? 20 * 60000 : 5 * 60000;
  client.daemon().ScriptNext(IBM_DR_BACKUP_JOB_MSG, SimScript().Reply(DRStatusBlob(kJobNumber, nullptr, nullptr))
                                                        .Call([&](SimPeer&) {
                                                          clock.clock().At(clock.clock().MonotonicMs() + 30000,
                                                                           [&] { client.daemon().Stop(); });
                                                          clock.clock().At(clock.clock().MonotonicMs() + backAfterMs,
                                                                           [&] { back.Start(); });
                                                          return CWqError::Success();
                                                        }));
  uint32_t exitCode = options.drFailSave ? 3 : (options.drIPL ? 10 : 0);
  std::string text = options.drFailSave ? "CPF3794 save ended abnormally" : "Save completed";
  back.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(DRStatusBlob("KXDRBKP2", &exitCode, &text)));

  JobResultsSwitches::Instance().SetSaveHook([&](int) {
    IBMiDRStateInterface saved(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kJobId);
    saved.restoreStatus();
    std::printf("  t=%6.0f s  state saved: %d (%s) job number [%s]\n",
                (clock.clock().MonotonicMs() - startMs) / 1000.0, static_cast<int>(saved.getState()),
                saved.toString().c_str(), saved.getBackupJobNumber().c_str());
  });

  KXBkpJobClient jobClient;
  jobClient.init("central01", 0, ExampleJob::kJobId);
  CWqError runResult;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    KXJobCtrlClient control(ExampleJob::kJobId);
    IBMiDRBackupManager manager(&jobClient, &control, ExampleJob::kVelliconId, ExampleJob::kJobId,
                                ExampleJob::kAppId, options.drIPL);
    std::printf("driver %d: configure\n", attempt);
    result = manager.configure();
    if (result.IsError()) return result;
    std::printf("driver %d: run\n", attempt);
    runResult = manager.run();
    std::printf("driver %d: run %s\n", attempt,
                runResult.IsError() ? runResult.AsString().c_str() : "succeeded");
    if (!FXErrorUtil::IsInt(runResult, DR_ERROR_RETRY_LATER) || !options.drSuspend) break;
    // The job manager restarts the suspended job in a new process, once the
    // client is back (a restarted job cannot be configured before).
    KXJobControlScript::Instance().Reset();
    clock.clock().Advance(backAfterMs);
    std::printf("the job is restarted: a new driver resumes\n");
  }
  JobResultsSwitches::Instance().SetSaveHook(nullptr);

  std::printf("events and pending causes:\n%s\n", EventJournal::Instance().FormatAll().c_str());
  std::string folder, job;
  KXPlatformInfo settings;
  if (settings.getString(std::string("ProxyClients/") + ExampleJob::kClientName, "CleanUpFolder", &folder) &&
      settings.getString(std::string("ProxyClients/") + ExampleJob::kClientName, "CleanUpFolderJob", &job))
    std::printf("deferred staging cleanup: CleanUpFolder=%s CleanUpFolderJob=%s\n", folder.c_str(), job.c_str());
  else
    std::printf("deferred staging cleanup: none\n");
  IBMiDRStateInterface saved(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kJobId);
  std::ifstream in(saved.statusFilePath());
  std::stringstream content;
  content << in.rdbuf();
  std::printf("status file %s:\n%s", saved.statusFilePath().c_str(), content.str().c_str());
  back.Stop();
  return options.drFailSave ? CWqError::Success() : runResult;
}

void AddDROptions(CLI::App& command, ExampleOptions& options) {
  command.add_flag("--ipl", options.drIPL, "The client restarts (IPL) after its save");
  command.add_flag("--suspend", options.drSuspend, "With --ipl: suspend the job after the go-down")->needs("--ipl");
  command.add_flag("--fail-save", options.drFailSave, "The client reports a failed save");
  command.add_flag("--vtl", options.drVTL, "A VTL DR job: pre-scan, tapes, the save, the index update")
      ->excludes("--suspend")
      ->excludes("--fail-save");
}

int RunDRMode(const ExampleOptions& options) {
  ExampleStage stage(options.drVTL ? "vtl dr backup" : "dr backup");
  CWqError result = stage.Check(options.drVTL ? RunVTLDR(options) : RunDR(options));
  if (!result.IsError()) stage.Done(1, 0, false);
  return ReportModeResult(result, "dr run");
}

}  // namespace

ExampleMode DRMode() {
  return ExampleMode{"dr", "A whole IBM i disaster-recovery backup against a simulated client on a virtual clock.",
                     AddDROptions, RunDRMode, true};
}
