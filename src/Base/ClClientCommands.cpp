// The remote commands of a client, the local command lines that carry them
// and their judgement by output markers.
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"

const char* const ClClientManager::kCommandLimitSetting = "nRemoteCommandLimitSeconds";

std::string& strreplace(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

clientCommand_t ClClientManager::client_bin_exists() const {
  if (osId == CLIENT_OS_OPENVMS)
    return clientCommand_t("DIRECTORY " + platform->getBinExecute() + "KXOV_PKGCRC32.EXE", "", "%DIRECT-");
  if (osId == CLIENT_OS_IBMI)
    return clientCommand_t("system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\"", "", "CPF9");
  return clientCommand_t();
}

clientCommand_t ClClientManager::client_create_bin() const {
  return clientCommand_t("CREATE/DIRECTORY " + platform->getBinExecute(), "", "RMS-E-FNF");
}

clientCommand_t ClClientManager::client_kxpkgchk() const {
  return clientCommand_t("@" + platform->getBinExecute() + "KXOV_PKGCRC32.COM " + platform->getBase(), "",
                         "image file not found");
}

clientCommand_t ClClientManager::client_stop() const {
  return clientCommand_t("@" + platform->getBinExecute() + "KXOV_STOP.COM " + platform->getBase(), "stopped", "");
}

clientCommand_t ClClientManager::client_start() const {
  return clientCommand_t(
      "@" + platform->getBinExecute() + "KXOV_START.COM " + platform->getBase() + " " + std::to_string(port),
      "started", "");
}

clientCommand_t ClClientManager::client_remove_file(const std::string& file) const {
  if (osId == CLIENT_OS_OPENVMS) {
    std::string converted = file;
    const size_t last = converted.rfind('/');
    for (size_t i = 0; i < converted.size(); ++i)
      if (converted[i] == '/') converted[i] = i == last ? ']' : '.';
    if (!converted.empty() && converted[0] == '.') converted.erase(0, 1);
    std::string base = platform->getBase();
    if (!base.empty()) base.pop_back();
    return clientCommand_t("DELETE " + base + "." + converted + ";*", "", "RMS-E-FNF");
  }
  if (osId == CLIENT_OS_IBMI) return clientCommand_t(" system \"DLTF FILE(QGPL/KXINSTPKG)\"  ", "", "");
  return clientCommand_t();
}

clientCommand_t ClClientManager::client_copy_file(const std::string& file) const {
  if (osId == CLIENT_OS_OPENVMS) return clientCommand_t(platform->getBaseUpload() + file, "", "RMS-E-FNF");
  if (osId == CLIENT_OS_IBMI) return clientCommand_t(clientBaseFolder + "/KXINSTPKG.savf", "", " ");
  return clientCommand_t();
}

namespace {

// What ssh would take for an option or split into several words.
bool BadSshValue(const std::string& value) {
  if (value.empty() || value[0] == '-') return true;
  for (unsigned char c : value)
    if (c < 0x20 || c == 0x7f || c == ' ' || c == '"' || c == '\'' || c == '`') return true;
  return false;
}

const char* kSshOptions = "-q -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no -o ConnectTimeout=15";

}  // namespace

CWqError ClClientManager::checkSshTarget() const {
  if (BadSshValue(host))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "The client host name [%s] cannot be used on an ssh command line",
                                   host.c_str());
  if (BadSshValue(user))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "The client user name [%s] cannot be used on an ssh command line",
                                   user.c_str());
  return CWqError::Success();
}

CWqError ClClientManager::remoteShellLine(const std::string& command, std::string& line) const {
  CWqError result = checkSshTarget();
  if (result.IsError()) return result.Push(FX_HERE);
  // ssh hands the command to the client's shell as it stands: it travels as
  // one word, so this host's parsing leaves it untouched. ssh reads options
  // again after the destination unless "--" came first: without it a
  // command "-oProxyCommand=..." would run here.
  line = KxProcess::QuoteWord(localBaseHome + "/sshf") + " -p " + KxProcess::QuoteWord(password) +
         " -- ssh " + kSshOptions + " -- " + KxProcess::QuoteWord(user + "@" + host) + " " +
         KxProcess::QuoteWord(command);
  return CWqError::Success();
}

// The copy tool's words: "--" ends its options, so neither file can be one.
static std::string CopyWords(const std::string& tool, const std::string& localFile, const std::string& target) {
  return KxProcess::QuoteWord(tool) + " -q -- " + KxProcess::QuoteWord(localFile) + " " + KxProcess::QuoteWord(target);
}

CWqError ClClientManager::wrappedCopyLine(const std::string& localFile, const std::string& destination,
                                          std::string& line) const {
  CWqError result = checkSshTarget();
  if (result.IsError()) return result.Push(FX_HERE);
  line = KxProcess::QuoteWord(localBaseHome + "/sshf") + " -p " + KxProcess::QuoteWord(password) + " -- " +
         CopyWords(localBaseHome + "/kxpscp.exe", localFile, user + "@" + host + ":" + destination);
  return CWqError::Success();
}

CWqError ClClientManager::directCopyLine(const std::string& localFile, const std::string& destination,
                                         std::string& line) const {
  CWqError result = checkSshTarget();
  if (result.IsError()) return result.Push(FX_HERE);
  line = CopyWords(localBaseHome + "/kxpscp.exe", localFile, user + "@" + host + ":" + destination);
  return CWqError::Success();
}

CWqError ClClientManager::executeAndCheck(const char* commandLine, const clientCommand_t& command, std::string& output,
                                          long errEventId, const std::string& errText) {
  return runAndCheck(commandLine ? commandLine : "", {}, command, output, errEventId, errText);
}

CWqError ClClientManager::executeCopy(const std::string& localFile, const clientCommand_t& command,
                                      std::string& output, long errEventId, const std::string& errText) {
  std::string line;
  CWqError result = directCopyLine(localFile, command.command, line);
  if (result.IsError()) return result.Push(FX_HERE);
  // Only the copy sees the password; this process's environment stays as
  // it is, so two copies at once cannot mix their passwords.
  return runAndCheck(line, {{"KX_PUTTY_PASS", password}}, command, output, errEventId, errText);
}

CWqError ClClientManager::runAndCheck(const std::string& commandLine,
                                      const std::vector<std::pair<std::string, std::string>>& env,
                                      const clientCommand_t& command, std::string& output, long errEventId,
                                      const std::string& errText) {
  const uint32_t eventId = static_cast<uint32_t>(errEventId);
  std::string line = commandLine;
  if (osId == CLIENT_OS_OPENVMS) {
    strreplace(line, "%CLBASEBIN%", platform->getBinExecute());
    strreplace(line, "%CLBASE%", platform->getBase());
  }

  // limitMs left at 0: the run reads the configured limit itself.
  KxProcess::Options options;
  options.environment = env;
  std::string error;
  const int status = KxProcess::system(line, options, &output, &error);
  // A hop that never reached the client (a refused login, an unreachable
  // host, a tool that could not start, a line killed at the limit) is the
  // failure, whatever its error output also trips.
  const std::string hop = hopFailure(status, error);

  if (osId == CLIENT_OS_IBMI) {
    const std::string marker = "/home/" + ibmiUserProfile + ":";
    const size_t found = error.find(marker);
    if (found != std::string::npos) {
      FX_LOG(3, "Removing from stderr:\n[%s]\n line containing [%s]", error.c_str(), marker.c_str());
      const size_t lineStart = error.rfind('\n', found);
      const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
      const size_t lineEnd = error.find('\n', found);
      const size_t to = lineEnd == std::string::npos ? error.size() : lineEnd;
      FX_LOG(3, "Removing line [%s]", error.substr(from, to - from).c_str());
      error.erase(from, to - from);
    }
  }

  FX_LOG(2, "Result:");
  FX_LOG(3, " std:\n%s", output.c_str());
  FX_LOG(3, " err:\n%s", error.c_str());
  if (!hop.empty()) return hopError(FX_HERE, hop);

  if (command.expected.empty()) {
    FX_LOG(2, "not expecting result");
  } else {
    FX_LOG(2, "checking for expected result '%s'", command.expected.c_str());
    if (output.find(command.expected) == std::string::npos) {
      FX_LOG(2, "result not found");
      if (eventId != 0)
        return FXErrorUtil::ErrorEventMessage(FX_HERE, eventId, "%s (expected not found)", errText.c_str());
    } else {
      FX_LOG(2, "result found");
    }
  }
  if (command.failure.empty()) {
    FX_LOG(2, "not expecting failure");
  } else {
    FX_LOG(2, "checking for failure result '%s'", command.failure.c_str());
    const bool found = error.find(command.failure) != std::string::npos ||
                       (osId == CLIENT_OS_OPENVMS && output.find(command.failure) != std::string::npos);
    if (found) {
      FX_LOG(2, "failure found");
      if (eventId != 0)
        return FXErrorUtil::ErrorEventMessage(FX_HERE, eventId, "%s (failure found)", errText.c_str());
    } else {
      FX_LOG(2, "failure not found");
    }
  }

  return CWqError::Success();
}

unsigned long ClClientManager::commandLimitSeconds() {
  // Through the process runner's own reading, so the text names the limit
  // the run applied.
  return static_cast<unsigned long>(KxProcess::ConfiguredLimitMs() / 1000);
}

std::string ClClientManager::hopFailure(int status, const std::string& error) {
  if (status == KxProcess::kCouldNotRun) return "the command line could not run: " + error;
  if (status == KxProcess::kTimedOut)
    return "the command line was killed after " + std::to_string(commandLimitSeconds()) + " seconds";
  if (status == 255) return "ssh ended with status 255";
  return std::string();
}

CWqError ClClientManager::hopError(const FXCodeLocation& location, const std::string& why) {
  FX_LOG(-1, "Can't reach the client over ssh: %s", why.c_str());
  return FXErrorUtil::ErrorEventMessage(location, EV_CLIENT_CONNECT_FAILED, "Can't reach the client over ssh: %s",
                                        why.c_str());
}
