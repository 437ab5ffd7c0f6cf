// The installation check: whether the client software is present and
// current, trusted for an interval recorded per client in the settings
// section "ProxyClients/<client name>", under the client's named lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <list>
#include <sstream>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "FXString.h"
#include "FXThread.h"
#include "KXPlatformInfo.h"
#include "KxNamedMutex.h"
#include "ProxyEventIds.h"

int32_t ClClientManager::s_iHourBetweenVersionCheck = 5;

namespace {

// Checks of different clients run at once. The interval keeps its exported
// type (hosts read it as a plain int); the library itself reads and writes
// it atomically.
std::atomic<bool> g_printOnce{true};

int32_t IntervalHours() { return __atomic_load_n(&ClClientManager::s_iHourBetweenVersionCheck, __ATOMIC_RELAXED); }
void SetIntervalHours(int32_t hours) {
  __atomic_store_n(&ClClientManager::s_iHourBetweenVersionCheck, hours, __ATOMIC_RELAXED);
}

const uint64_t kMissingPackageDelay = 120;
const uint64_t kRetryDelay = 1800;
const int32_t kMaxHours = 48;
// The time of a package description recorded at the last check that examined
// it: only a package replaced after that reopens the gate early.
const char kPackageTime[] = "packageTime";

uint64_t Now() { return static_cast<uint64_t>(FXTime()); }

std::string DateText(uint64_t when) {
  if (when > static_cast<uint64_t>(INT32_MAX) * 64) return std::to_string(when);
  const time_t t = static_cast<time_t>(when);
  struct tm local;
  if (!localtime_r(&t, &local)) return std::to_string(when);
  char buffer[64];
  if (std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &local) == 0) return std::to_string(when);
  return buffer;
}

enum PackageDescription { kDescriptionMissing, kDescriptionUnreadable, kDescriptionRead };

// The package description's time and first line (without its line end),
// from one open: this runs on every managed connect, also when the check
// is not due. Unreadable: `why` says what failed. The open does not wait
// (a pipe without a writer) and takes no terminal.
PackageDescription ReadPackageDescription(const std::string& path, uint64_t& time, std::string& firstLine,
                                          std::string& why) {
  firstLine.clear();
  why.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) return kDescriptionMissing;
    why = std::strerror(error);
    return kDescriptionUnreadable;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0)
    why = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    why = "not a regular file";
  if (!why.empty()) {
    ::close(fd);
    return kDescriptionUnreadable;
  }
  time = static_cast<uint64_t>(st.st_mtime);
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::strerror(errno);
      ::close(fd);
      return kDescriptionUnreadable;
    }
    if (n == 0) break;
    const char* end = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<size_t>(n)));
    firstLine.append(buffer, end ? static_cast<size_t>(end - buffer) : static_cast<size_t>(n));
    if (end || firstLine.size() > 4096) break;
  }
  ::close(fd);
  return kDescriptionRead;
}

}  // namespace

void ClClientManager::ResetVersionCheckState() {
  SetIntervalHours(5);
  g_printOnce = true;
}

CWqError ClClientManager::isClientInstalledAndUptodate(EvEvent* event, long long jobId) {
  (void)event;
  CWqError result = initData();
  if (result.IsError()) return result.Push(FX_HERE);

  KxNamedMutex lock(clientName + "_versionCheckLock");
  lock.lock();

  KXPlatformInfo settings;
  const std::string section = "ProxyClients/" + clientName;
  std::string expectedVersion = "1.0";
  uint64_t packageTime = 0;

  if (osId == CLIENT_OS_IBMI) {
    const std::string description = FXPath::Append(localPackageFolder, "pkginfo.dat", 0);
    std::string line, why;
    const PackageDescription found = ReadPackageDescription(description, packageTime, line, why);
    bool usable = found == kDescriptionRead;
    if (found == kDescriptionMissing) {
      FX_LOG(-1, "The package file [%s] does not exists. Will continue to use exiting setup", description.c_str());
    } else if (found == kDescriptionUnreadable) {
      // Its version is unknown: taking "1.0" would update the client on
      // every check for ever.
      FX_LOG(-1, "The package file [%s] cannot be read: %s. Will continue to use exiting setup",
             description.c_str(), why.c_str());
    } else {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
      if (line.empty() || line.find(':') == std::string::npos) {
        FX_LOG(-1, "version string is invalid [%s]", line.c_str());
        // Never a daemon's version: it would mean an update on every
        // check for ever.
        usable = false;
      } else {
        expectedVersion = line;
      }
    }
    if (!usable) {
      settings.setNumber(section, "checkBinary", Now() + kMissingPackageDelay);
      return CWqError::Success();
    }
  }

  unsigned long interval = 0;
  if (settings.getNumber("FileSystemAgent", "iProxyIntervalBetweenVersionCheck", &interval)) {
    int32_t hours = static_cast<int32_t>(static_cast<uint32_t>(interval));
    if (hours < 1) hours = 1;
    if (hours > kMaxHours) hours = kMaxHours;
    SetIntervalHours(hours);
    if (g_printOnce.exchange(false)) FX_LOG(0, "Registry set to change version check interval to %d hours.", hours);
  }
  const uint64_t intervalSeconds = static_cast<uint64_t>(IntervalHours()) * 3600;

  unsigned long checkBinary = 0;
  const bool haveCheck = settings.getNumber(section, "checkBinary", &checkBinary) != 0;
  if (haveCheck) FX_LOG(2, "The registry indicate that we check binaries on %s", DateText(checkBinary).c_str());
  const uint64_t now = Now();
  // A check time further ahead than any interval allows comes from a clock
  // that went back: it would block the check for as long.
  const bool farAhead = haveCheck && checkBinary > now + static_cast<uint64_t>(kMaxHours) * 3600 + kRetryDelay;
  if (farAhead) FX_LOG(-1, "The next check time %s lies too far ahead; checking now", DateText(checkBinary).c_str());
  if (haveCheck && !farAhead && now < checkBinary) {
    unsigned long force = 0;
    if (settings.getNumber(section, "updateBinary", &force)) {
      FX_LOG(2, "User want to force binary update.");
      settings.deleteField(section, "updateBinary");
    } else {
      bool reopen = false;
      if (osId == CLIENT_OS_IBMI) {
        unsigned long examined = 0;
        if (settings.getNumber(section, kPackageTime, &examined))
          reopen = packageTime > examined;
        else
          reopen = packageTime > checkBinary - std::min<uint64_t>(checkBinary, intervalSeconds);
      }
      if (!reopen) return CWqError::Success();
      FX_LOG(1, "New binary. Will perform check.");
    }
  }

  const uint64_t next = Now() + intervalSeconds;
  settings.setString(section, "dBASEHOME", clientBaseFolder.data(), clientBaseFolder.size());

  if (osId == CLIENT_OS_OPENVMS) {
    result = checkOpenVMS(jobId);
    if (result.IsError()) return result.Push(FX_HERE);
  } else {
    settings.setNumber(section, kPackageTime, packageTime);
    bool completed = false;
    result = checkIBMi(jobId, expectedVersion, next, section, completed);
    if (result.IsError()) return result.Push(FX_HERE);
    if (!completed) return CWqError::Success();
  }

  settings.setNumber(section, "checkBinary", next);
  if (osId == CLIENT_OS_IBMI)
    settings.setString(section, "packageChecked", expectedVersion.data(), expectedVersion.size());
  return CWqError::Success();
}

CWqError ClClientManager::checkOpenVMS(long long jobId) {
  (void)jobId;
  KXPlatformInfo settings;
  const std::string section = "ProxyClients/" + clientName;
  const std::string nameText = clientName + ":" + std::to_string(clientId);
  settings.setString(section, "sCLIENTNAME", nameText.data(), nameText.size());

  std::string line, output;
  clientCommand_t exists = client_bin_exists();
  CWqError result = remoteShellLine(exists.command, line);
  if (result.IsError()) return result.Push(FX_HERE);
  result = executeAndCheck(line.c_str(), exists, output, EV_CLIENT_NOT_INSTALLED, "Client's base folder not found");
  if (result.IsError()) return result.Push(FX_HERE);

  clientCommand_t list = client_kxpkgchk();
  result = remoteShellLine(list.command, line);
  if (result.IsError()) return result.Push(FX_HERE);
  output.clear();
  result = executeAndCheck(line.c_str(), list, output, EV_CLIENT_NOT_INSTALLED, "KXPKGCHK failed");
  if (result.IsError()) return result.Push(FX_HERE);
  FX_LOG(2, "executeAndCheck return:\n%s\n", output.c_str());

  // A list without the CRC tool itself did not come from a working
  // installation: calling it current would never repair it.
  if (!loadClientList(output))
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_NOT_INSTALLED, "KXPKGCHK failed");

  result = updateClientBinaryList();
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

bool ClClientManager::loadClientList(const std::string& output) {
  binaries.clear();
  std::istringstream lines(output);
  std::string line;
  int number = 0;
  bool sawTool = false;
  while (std::getline(lines, line)) {
    ++number;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) continue;
    std::list<std::string> pieces;
    FXString::Split(line, " ", pieces, 0);
    std::string key = pieces.size() == 2 ? pieces.back() : std::string();
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(::toupper(c)); });
    // Only plain names: every key may become a DELETE target.
    if (pieces.size() != 2 || !isPlainFileName(key)) {
      FX_LOG(-1, "Invalid output at line %d '%s'", number, line.c_str());
      continue;
    }
    if (key == "PKGCRC.INFO" || (key.size() >= 3 && key.compare(key.size() - 3, 3, ".EU") == 0)) continue;
    if (key == "KXOV_PKGCRC32.EXE") sawTool = true;
    binaries[key] = std::make_pair(pieces.front(), FILE_ONLY_ON_CLIENT);
    FX_LOG(2, "Remote file key '%s' crc:%s", key.c_str(), pieces.front().c_str());
  }
  return sawTool;
}

// `completed` false: the check ended on success without completing (what it
// leaves is written already).
CWqError ClClientManager::checkIBMi(long long jobId, const std::string& expectedVersion, uint64_t next,
                                    const std::string& section, bool& completed) {
  KXPlatformInfo settings;
  completed = false;
  bool reached = false, equal = false;
  std::string clientVersion;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    CWqError result = quickVersionCheck(expectedVersion, reached, equal, clientVersion);
    if (!result.IsError() && !clientVersion.empty()) break;
    if (attempt == 3 && reached)
      return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "Version message receive failed");
    FX_LOG(-1, "Error receiving version message. version [%s] [%s]", clientVersion.c_str(),
           result.IsError() ? result.AsString().c_str() : "");
  }

  if (reached && equal) {
    FX_LOG(1, "Client version is correct");
    completed = true;
    return CWqError::Success();
  }
  if (reached) {
    FX_LOG(0, "Client version is [%s]. Expected version [%s]", clientVersion.c_str(), expectedVersion.c_str());
    if (updateBlocked) {
      FX_LOG(0,
             "Remote client '%s' is not up-to-date. Update install blocked by client property. Will check with the "
             "next request after 30 minutes.",
             host.c_str());
      raiseInfoEvent(EV_CLIENT_UPDATE_BLOCKED, jobId);
      settings.setNumber(section, "checkBinary", Now() + kRetryDelay);
      return CWqError::Success();
    }
    CWqError update = updateIBMI(jobId);
    if (update.IsError()) {
      FX_LOG(-1, "The client update was unsuccessful. Will try to use client binaries.");
      settings.setNumber(section, "checkBinary", Now() + kRetryDelay);
      return update.Push(FX_HERE);
    }
    CWqError again = quickVersionCheck(expectedVersion, reached, equal, clientVersion);
    if (again.IsError()) FX_LOG(-1, "Version check return error: %s", again.AsString().c_str());
    if (reached && equal) {
      FX_LOG(1, "Client version is correct");
      completed = true;
      return CWqError::Success();
    }
    raiseInfoEvent(EV_CLIENT_INSTALL_FAILED, jobId);
    FX_LOG(-1, "The client update was unsuccessful. Will try to use client binaries.");
    settings.setNumber(section, "checkBinary", Now() + kRetryDelay);
    return CWqError::Success();
  }

  // The daemon stayed unreachable: is the software there at all?
  clientCommand_t probe = client_bin_exists();
  std::string line, output;
  CWqError result = remoteShellLine(probe.command, line);
  if (result.IsError()) return result.Push(FX_HERE);
  FX_LOG(0, "Checking for IBMi base folder [%s]", probe.command.c_str());
  result = executeAndCheck(line.c_str(), probe, output, EV_CLIENT_NOT_INSTALLED, "Client's base folder not found");
  if (FXErrorUtil::IsEventMessage(result, EV_CLIENT_NOT_INSTALLED)) {
    result = installIBMi(jobId, next, result.AsString());
    if (result.IsError()) return result.Push(FX_HERE);
    return CWqError::Success();  // the installation wrote "checkBinary" itself
  }
  return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_CONNECT_FAILED, "%s", result.AsString().c_str());
}
