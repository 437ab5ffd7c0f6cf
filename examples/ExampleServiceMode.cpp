// The service mode of the example host: the out-of-job services of one IBM i
// client, as another process of the product uses them. It starts the
// simulated client daemon's service side on 127.0.0.1 over a folder that
// stands for the client's file system, loads the client's record, takes a
// handle on the client's service instance, creates a folder, prepares a VTL
// tape (the client answers "still working" twice first), clears, completes
// and queries the create-index flag, drops the handle and takes another:
// the same instance, still on its one service connection, with the release
// time the drop gave it printed.
#include <cstdio>
#include <ctime>
#include <string>

#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "ExampleModes.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "ServiceClient.h"
#include "SimServiceDaemon.h"
#include "service/ProxyServices.h"
#include "service/ProxyServicesPrivate.h"

namespace {

const char kFolderName[] = "QGPL/NEWLIB";
// instanceForClient twice, createNewFolder, prepareVTLTape, the three
// create-index calls.
const uint64_t kOperations = 7;

CWqError StepFailed(CWqError error, const char* step) {
  error.Push(FX_HERE, "Step '%s' of the service run failed", step);
  return error;
}

// Every operation through one handle, then a second lookup.
CWqError RunOperations(SimServiceDaemon& daemon, const std::string& clientFolder) {
  ProxyServicesPtr handle = ProxyServices::instanceForClient(ExampleJob::kClientId);
  if (!handle)
    return StepFailed(FXErrorUtil::ErrorErrNo(FX_HERE, ECONNREFUSED, "No service instance (see the log)"),
                      "instanceForClient");
  std::printf("instanceForClient: handle on a new instance of client %d\n", static_cast<int>(ExampleJob::kClientId));

  CWqError result = handle->createNewFolder(kFolderName);
  if (result.IsError()) return StepFailed(result, "createNewFolder");
  // The daemon has answered on the link, so it has counted the launch before it.
  std::printf("  its link: the daemon's \"SERVICE\" launch (%s, %s)\n",
              Counted(daemon.GetLaunchCount(), "launch", "launches").c_str(),
              Counted(daemon.GetConnectionCount(), "connection", "connections").c_str());
  std::printf("createNewFolder: %s made on the client (%s/%s: %s)\n", kFolderName, clientFolder.c_str(), kFolderName,
              IsFolder(clientFolder + "/" + kFolderName) ? "there" : "MISSING");

  result = handle->prepareVTLTape("TAPMLB01", "VT0001");
  if (result.IsError()) return StepFailed(result, "prepareVTLTape");
  std::printf("prepareVTLTape: tape VT0001 in drive TAPMLB01 cleared after two \"still working\" answers\n");

  const int32_t vellicon = ExampleJob::kVelliconId, client = ExampleJob::kClientId, app = ExampleJob::kAppId;
  const uint64_t job = ExampleJob::kJobId;
  bool required = false;
  result = handle->clearCreateIndexFlag(vellicon, client, app, job);
  if (!result.IsError()) result = handle->isCreateIndexRequired(vellicon, client, app, job, required);
  if (result.IsError()) return StepFailed(result, "clearCreateIndexFlag, isCreateIndexRequired");
  std::printf("clearCreateIndexFlag, isCreateIndexRequired: index required = %s\n", required ? "yes" : "no");
  result = handle->createIndexComplete(vellicon, client, app, job);
  if (!result.IsError()) result = handle->isCreateIndexRequired(vellicon, client, app, job, required);
  if (result.IsError()) return StepFailed(result, "createIndexComplete, isCreateIndexRequired");
  std::printf("createIndexComplete, isCreateIndexRequired: index required = %s\n", required ? "yes" : "no");

  boost::shared_ptr<ProxyServicesPrivate> instance = handle->instance();
  handle.reset();
  const time_t release = static_cast<time_t>(instance->releaseTime());
  char when[32] = "?";
  struct tm parts;
  if (gmtime_r(&release, &parts)) std::strftime(when, sizeof when, "%H:%M:%S UTC", &parts);
  std::printf("handle dropped: the instance stays cached until %s (release time %lld, 120 s after the drop), then "
              "the release thread disconnects it\n",
              when, static_cast<long long>(release));
  handle = ProxyServices::instanceForClient(ExampleJob::kClientId);
  if (!handle) return StepFailed(FXErrorUtil::ErrorErrNo(FX_HERE, ECONNREFUSED, "No service instance"), "instanceForClient");
  const bool same = handle->instance() == instance;
  std::printf("instanceForClient again: %s instance, %zu service connection%s on the daemon, release time %lld "
              "(held again)\n",
              same ? "the same" : "ANOTHER", daemon.GetConnectionCount(), daemon.GetConnectionCount() == 1 ? "" : "s",
              static_cast<long long>(handle->instance()->releaseTime()));
  if (!same || daemon.GetConnectionCount() != 1)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "The cached instance was not reused");
  return CWqError::Success();
}

CWqError RunServices(const ExampleOptions& options) {
  ServiceClient client;
  CWqError result = client.Prepare(options);
  if (!result.IsError()) result = MakeFolders(client.clientFolder() + "/QGPL");
  if (result.IsError()) return result;
  client.daemon().SetTapeHeartbeats(2);
  result = client.Start();
  return result.IsError() ? result : RunOperations(client.daemon(), client.clientFolder());
}

void AddServiceOptions(CLI::App&, ExampleOptions&) {}

int RunService(const ExampleOptions& options) {
  ExampleStage stage("service operations");
  CWqError result = stage.Check(RunServices(options));
  if (!result.IsError()) stage.Done(kOperations, 0, false);
  return ReportModeResult(result, "service run");
}

}  // namespace

ExampleMode ServiceMode() {
  return ExampleMode{"service", "The out-of-job services of a simulated IBM i client through its cached instance.",
                     AddServiceOptions, RunService, false};
}
