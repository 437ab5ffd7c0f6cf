// The IBM i first installation over ssh: the save file from the proxy host,
// restored and installed on the client, then a wait for the new daemon. It
// runs inside the installation check, under the client's lock.
#include <cctype>
#include <cerrno>

#include "ClClientManager.h"
#include "ClProxyClientConnection.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "FXThread.h"
#include "ISendEventInterface.h"
#include "KXPlatformInfo.h"
#include "ProxyEventIds.h"

namespace {

const int kConnectAttempts = 5;
const int kConnectPauseMs = 30000;

// One CL command as the client's shell hands it to the IBM i "system"
// command.
std::string Cl(const std::string& command) { return " system \"" + command + "\"  "; }

// An IBM i object name: an optional library and a name, each 1 to 10 of
// letters, digits, "$", "#", "@", "_" and ".".
bool IbmiName(const std::string& value) {
  const size_t slash = value.find('/');
  auto part = [](const std::string& text) {
    if (text.empty() || text.size() > 10) return false;
    for (unsigned char c : text)
      if (!std::isalnum(c) && c != '$' && c != '#' && c != '@' && c != '_' && c != '.') return false;
    return true;
  };
  if (slash == std::string::npos) return part(value);
  return part(value.substr(0, slash)) && part(value.substr(slash + 1));
}

// What the client's shell would expand or end inside a double-quoted word.
bool ShellSpecial(unsigned char c) { return c < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '\\' || c == '`' || c == '$'; }

bool SafeClientName(const std::string& value) {
  for (unsigned char c : value)
    if (ShellSpecial(c)) return false;
  return true;
}

// The data folder reaches the client's shell unquoted (the mkdir step, the
// copy destination that scp's remote side reads): a path of plain names only.
bool SafeDataFolder(const std::string& value) {
  if (value.empty() || value[0] != '/') return false;
  for (unsigned char c : value)
    if (!std::isalnum(c) && c != '_' && c != '.' && c != '/' && c != '-') return false;
  return true;
}

// "$" in a name reaches CL only when the client's shell leaves it alone.
std::string ShellEscaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '$') out += '\\';
    out += c;
  }
  return out;
}

CWqError InstallFailed(const FXCodeLocation& location, const std::string& text) {
  CWqError error = FXErrorUtil::ErrorEventMessage(location, EV_CLIENT_INSTALL_FAILED, "%s", text.c_str());
  error << text.c_str();
  return error;
}

}  // namespace

void ClClientManager::sendEvent(const CWqError& event, long long jobId, bool critical) const {
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  if (!sender) {
    FX_LOG(-1, "No event sender: event 0x%08x for client %s dropped", FXErrorUtil::GetEventMessage(event),
           host.c_str());
    return;
  }
  if (critical)
    sender->SendCriticalEvent(event, jobId, 0);
  else
    sender->SendInfoEvent(event, jobId, 0);
}

CWqError ClClientManager::installStep(const std::string& command, const std::string& expected,
                                      const std::string& failure, const std::string& stepText) {
  std::string line, output;
  CWqError result = remoteShellLine(command, line);
  if (result.IsError()) return InstallFailed(FX_HERE, result.AsString());
  clientCommand_t step(command, expected, failure);
  result = executeAndCheck(line.c_str(), step, output, EV_CLIENT_INSTALL_FAILED, stepText);
  if (!result.IsError()) return result;
  FX_LOG(-1, "Failed execute [%s]: %s", command.c_str(), output.c_str());
  // A hop that never reached the client says nothing about the step.
  if (FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED))
    return InstallFailed(FX_HERE, "Can't reach the client over ssh");
  return InstallFailed(FX_HERE, stepText);
}

CWqError ClClientManager::installIBMi(long long jobId, uint64_t next, const std::string& probeText) {
  CWqError notInstalled = FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_NOT_INSTALLED, "%s", probeText.c_str());
  notInstalled << host.c_str();
  sendEvent(notInstalled, jobId, false);
  FX_LOG(0, "IBMi client needs to be installed on %s", host.c_str());

  // Values the client's shell or CL would misread end the installation
  // before anything runs.
  if (!IbmiName(ibmiUserProfile)) return InstallFailed(FX_HERE, "Invalid user profile [" + ibmiUserProfile + "]");
  if (!IbmiName(subsystemDesc))
    return InstallFailed(FX_HERE, "Invalid subsystem description [" + subsystemDesc + "]");
  if (jobQueue != "*CREATE" && !IbmiName(jobQueue))
    return InstallFailed(FX_HERE, "Invalid job queue [" + jobQueue + "]");
  if (!SafeClientName(clientName)) return InstallFailed(FX_HERE, "Invalid client name [" + clientName + "]");
  if (!SafeDataFolder(clientBaseFolder))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL,
                                   "The IBM i data folder [%s] may hold only letters, digits, '_', '.', '/' and '-' "
                                   "after its leading '/': nothing was installed",
                                   clientBaseFolder.c_str());

  CWqError result = installStep(Cl("CHKOBJ OBJ(" + ShellEscaped(subsystemDesc) + ") OBJTYPE(*SBSD)"), "", "CPF",
                                "Subsystem description not present.");
  if (result.IsError()) return result;
  if (!createJobQueue) {
    result = installStep(Cl("CHKOBJ OBJ(" + ShellEscaped(jobQueue) + ") OBJTYPE(*JOBQ)"), "", "CPF",
                         "Job Queue not present.");
    if (result.IsError()) return result;
  }
  result = installStep(client_remove_file("").command, "", "", "");
  if (result.IsError()) return result;

  FX_LOG(0, "Will copy file %s/KXINSTPKG.savf", localPackageFolder.c_str());
  result = installStep("  mkdir " + clientBaseFolder + "  ", "", "", "");
  if (result.IsError()) return result;

  const std::string localFile = FXPath::Append(localPackageFolder, "KXINSTPKG.savf", 0);
  clientCommand_t copy = client_copy_file("/KXINSTPKG.savf");
  std::string output;
  result = executeCopy(localFile, copy, output, EV_CLIENT_INSTALL_FAILED, "Can't copy package to IBMi client.");
  if (result.IsError()) {
    FX_LOG(-1, "Failed to execute [%s]: %s", copy.command.c_str(), output.c_str());
    if (FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED))
      return InstallFailed(FX_HERE, "Can't reach the client over ssh");
    return InstallFailed(FX_HERE, "Can't copy package to IBMi client.");
  }

  result = installStep(Cl("CPYFRMSTMF FROMSTMF('" + clientBaseFolder +
                          "/KXINSTPKG.savf') TOMBR('/QSYS.LIB/QGPL.LIB/KXINSTPKG.FILE') "),
                       "", "CPFA095: Stream file", "Can't copy the KXINSTPKG.savf file from proxy to the client host");
  if (result.IsError()) return result;
  result = installStep(Cl("RSTLIB SAVLIB(KXSTAGE) DEV(*SAVF) SAVF(QGPL/KXINSTPKG) MBROPT(*ALL) ALWOBJDIF(*ALL) "
                          "RSTLIB(KXINST) "),
                       "CPC3703", "", "Can't restore the installation data to KXINST");
  if (result.IsError()) return result;
  result = installStep(Cl("SNDMSG MSG('Zorvanta installation is starting now...') TOUSR(*SYSOPR)"), "", "", "");
  if (result.IsError()) return result;
  raiseInfoEvent(EV_CLIENT_INSTALL_STARTED, jobId);
  result = installStep(Cl("KXINST/INSKXTEL CLIENT('" + clientName + "') USRPRF(" + ShellEscaped(ibmiUserProfile) +
                          ") SBSD(" + ShellEscaped(subsystemDesc) + ") JOBQ(" + ShellEscaped(jobQueue) +
                          ") PORT(" + std::to_string(port) + ") DATADIR('" + clientBaseFolder +
                          "') JOBPTY(" + std::to_string(jobPriority) + ") RUNPTY(" + std::to_string(runPriority) +
                          ") START(*YES)"),
                       "is successfully Installed", "", "Can't install the binaries on the client.");
  if (result.IsError()) return result;
  result = installStep(Cl("RMVLNK OBJLNK('" + clientBaseFolder + "/KXINSTPKG.savf')"), "", "CPF",
                       "Can't cleanup after install");
  if (result.IsError()) return result;

  ClProxyClientConnectionPtr link(new ClProxyClientConnection());
  for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
    result = link->connectToClient(host, port, velliconId, appId, clientId, true);
    FX_LOG(1, "Re-connecting to client --> %s", result.IsError() ? result.AsString().c_str() : "success");
    if (!result.IsError() || !FXErrorUtil::IsErrNo(result, ECONNREFUSED)) break;
    FXThread::Sleep(kConnectPauseMs);
  }
  link.reset();
  if (result.IsError()) {
    char text[512];
    std::snprintf(text, sizeof(text), "Can't connect to the remote client using host name '%s' and port '%d'.",
                  host.c_str(), static_cast<int>(port));
    return InstallFailed(FX_HERE, text);
  }

  raiseInfoEvent(EV_CLIENT_INSTALL_SUCCEEDED, jobId);
  KXPlatformInfo().setNumber("ProxyClients/" + clientName, "checkBinary", next);
  return CWqError::Success();
}
