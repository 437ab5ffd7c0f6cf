#include "ExampleClientCommand.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "ClClientManager.h"
#include "ClClientPlatform.h"
#include "ExampleJob.h"
#include "FXErrorUtil.h"
#include "KXClient.h"
#include "RecordRegistry.h"
#include "SimServiceDaemon.h"

namespace {

const char kIbmiCommand[] = "SNDMSG MSG('Backup of KXLIB done') TOUSR(*SYSOPR)";
// Read the way a shell reads it: DCL receives WRITE SYS$OUTPUT "...".
const char kVmsCommand[] = "WRITE SYS$OUTPUT '\"Backup of KXLIB done\"'";
const char kVmsOutput[] = "Backup of KXLIB done";

int JobClientOs() {
  KXClient client(0, ExampleJob::kClientId);
  int osId = 0;
  return client.getOperatingSystemId(osId) == 0 ? osId : 0;
}

std::string Trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(" \r\n");
  if (start == std::string::npos) return std::string();
  return text.substr(start, text.find_last_not_of(" \r\n") - start + 1);
}

}  // namespace

std::string DescribeJobClient() {
  KXClient client(0, ExampleJob::kClientId);
  std::string name;
  if (client.getName(name) != 0) name = ExampleJob::kClientName;
  const int osId = JobClientOs();
  return "client " + name + ", " +
         (osId == CLIENT_OS_OPENVMS ? "OpenVMS" : osId == CLIENT_OS_IBMI ? "IBM i" : "system " + std::to_string(osId));
}

CWqError RunClientCommand() {
  std::printf("\n-- a command on the client --\n");
  const bool openVms = JobClientOs() == CLIENT_OS_OPENVMS;
  SimServiceDaemon service;
  service.SetBindAddress(ExampleJob::kHost);
  service.SetExecuteAnswer(SimServiceDaemon::kExecuteSuccess);
  CWqError result = service.Start();
  if (result.IsError()) return result.Push(FX_HERE, "Starting the simulated daemon's service side");
  RecordRegistry::Instance().SetClientValue(ExampleJob::kClientId, "KXDPort", RecordValue(service.GetPort()));
  if (openVms)
    std::printf("client: %s; the command goes over ssh to its DCL\n", DescribeJobClient().c_str());
  else
    std::printf("client daemon: its SERVICE connection on %s:%u\n", ExampleJob::kHost,
                static_cast<unsigned>(service.GetPort()));

  const char* command = openVms ? kVmsCommand : kIbmiCommand;
  ClClientManager manager(ExampleJob::kHost, service.GetPort(), ExampleJob::kClientId);
  result = manager.initData();
  if (result.IsError()) return result.Push(FX_HERE, "Loading the client's data");
  std::string text;
  result = manager.executeOnClient(command, text);
  service.Stop();
  if (result.IsError()) return result.Push(FX_HERE, "Running [%s] on the client", command);
  std::printf("command: %s\n", command);
  if (openVms) {
    std::printf("executeOnClient result: %s\n", Trimmed(text).c_str());
    if (Trimmed(text) != kVmsOutput)
      return FXErrorUtil::ErrorInt(FX_HERE, 1, "The OpenVMS client answered [%s], not [%s]", Trimmed(text).c_str(),
                                   kVmsOutput);
    return CWqError::Success();
  }
  const std::vector<std::string> received = service.GetExecutedCommands();
  std::printf("the daemon received: %s\n", received.empty() ? "nothing" : received.back().c_str());
  std::printf("executeOnClient result: %s\n", text.c_str());
  if (received.empty() || received.back() != kIbmiCommand)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "The daemon received [%s], not the command sent",
                                 received.empty() ? "nothing" : received.back().c_str());
  if (text != ClClientManager::kExecuteSuccessText)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "The client answered [%s], not [%s]", text.c_str(),
                                 ClClientManager::kExecuteSuccessText);
  return CWqError::Success();
}
