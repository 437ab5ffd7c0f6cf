#include "ExampleClientCommand.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ClClientManager.h"
#include "ExampleJob.h"
#include "FXErrorUtil.h"
#include "RecordRegistry.h"
#include "SimServiceDaemon.h"

namespace {

const char kCommand[] = "SNDMSG MSG('Backup of KXLIB done') TOUSR(*SYSOPR)";

}  // namespace

CWqError RunClientCommand() {
  std::printf("\n-- a command on the client --\n");
  SimServiceDaemon service;
  service.SetBindAddress(ExampleJob::kHost);
  service.SetExecuteAnswer(SimServiceDaemon::kExecuteSuccess);
  CWqError result = service.Start();
  if (result.IsError()) return result.Push(FX_HERE, "Starting the simulated daemon's service side");
  RecordRegistry::Instance().SetClientValue(ExampleJob::kClientId, "KXDPort", RecordValue(service.GetPort()));
  std::printf("client daemon: its SERVICE connection on %s:%u\n", ExampleJob::kHost,
              static_cast<unsigned>(service.GetPort()));

  ClClientManager manager(ExampleJob::kHost, service.GetPort(), ExampleJob::kClientId);
  result = manager.initData();
  if (result.IsError()) return result.Push(FX_HERE, "Loading the client's data");
  std::string text;
  result = manager.executeOnClient(kCommand, text);
  service.Stop();
  if (result.IsError()) return result.Push(FX_HERE, "Running [%s] on the client", kCommand);
  const std::vector<std::string> received = service.GetExecutedCommands();
  std::printf("command: %s\n", kCommand);
  std::printf("the daemon received: %s\n", received.empty() ? "nothing" : received.back().c_str());
  std::printf("executeOnClient result: %s\n", text.c_str());
  return CWqError::Success();
}
