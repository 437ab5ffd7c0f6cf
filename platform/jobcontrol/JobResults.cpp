#include "JobResults.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FXLogWriter.h"
#include "KXPlatformInfo.h"

namespace {

// Makes every folder of `path` that is missing; 0 or the errno.
int MakeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int SyncFolder(const std::string& folder) {
  int fd;
  do {
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  int rc = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return rc;
}

// Removes what saves of `path` that never reached their rename (a killed
// process) left beside it: "<name>.XXXXXX", six characters of mkostemp.
void RemoveStaleTemporaries(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash);
  const std::string prefix = path.substr(slash + 1) + ".";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> stale;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    bool plain = true;
    for (size_t i = prefix.size(); i < name.size(); ++i)
      plain = plain && (std::isalnum(static_cast<unsigned char>(name[i])) != 0);
    if (plain) stale.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : stale) {
    const std::string full = folder + "/" + name;
    struct stat info;
    // A regular file only, never followed through a link.
    if (::lstat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::unlink(full.c_str()) == 0)
      FX_LOG(1, "Removed a results file left by an unfinished save [%s]", full.c_str());
  }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

}  // namespace

std::string JobResultsRoot() {
  const char* root = std::getenv("PROXY_RESULTS_ROOT");
  if (root && *root) return root;
  return KXPlatformInfo::RootDirectory() + "/JobResults";
}

std::string JobResultsPath(int velliconId, KXJobID jobId, int kind) {
  return JobResultsRoot() + "/" + std::to_string(velliconId) + "/" + std::to_string(jobId) +
         "/results." + std::to_string(kind);
}

StoreResults::StoreResults(int velliconId, KXJobID jobId, bool, void*)
    : m_iVelliconId(velliconId), m_llJobId(jobId), m_iFd(-1) {}

StoreResults::~StoreResults() { Abandon(); }

void StoreResults::Abandon() {
  if (m_iFd < 0) return;
  ::close(m_iFd);
  ::unlink(m_sTempPath.c_str());
  m_iFd = -1;
}

int StoreResults::openFile(int kind, bool, bool) {
  if (m_iFd >= 0) return EBUSY;
  if (int fail = JobResultsSwitches::Instance().OpenFailure()) return fail;
  m_sPath = JobResultsPath(m_iVelliconId, m_llJobId, kind);
  size_t slash = m_sPath.rfind('/');
  if (int rc = MakeFolders(m_sPath.substr(0, slash))) {
    FX_LOG(-1, "Cannot make the results folder of [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    return rc;
  }
  std::string pattern = m_sPath + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    int rc = errno;
    FX_LOG(-1, "Cannot create a results file beside [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    return rc;
  }
  m_iFd = fd;
  m_sTempPath = name.data();
  return 0;
}

int StoreResults::putLine(const std::string& line, bool newline) {
  if (m_iFd < 0) return EBADF;
  int rc = JobResultsSwitches::Instance().PutFailure();
  if (!rc) rc = WriteAll(m_iFd, line.data(), line.size());
  if (!rc && newline) rc = WriteAll(m_iFd, "\n", 1);
  if (rc) {
    FX_LOG(-1, "Cannot write the results file [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    Abandon();
  }
  return rc;
}

int StoreResults::closeFile() {
  if (m_iFd < 0) return EBADF;
  int rc = JobResultsSwitches::Instance().CloseFailure();
  if (!rc && ::fsync(m_iFd) != 0) rc = errno;
  if (rc) {
    FX_LOG(-1, "Cannot complete the results file [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    Abandon();
    return rc;
  }
  int fd = m_iFd;
  m_iFd = -1;
  if (::close(fd) != 0) rc = errno;
  if (!rc && ::rename(m_sTempPath.c_str(), m_sPath.c_str()) != 0) rc = errno;
  if (rc) {
    FX_LOG(-1, "Cannot replace the results file [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    ::unlink(m_sTempPath.c_str());
    return rc;
  }
  // The rename lives in the folder: without its sync a power loss could
  // bring back the file as it was before.
  rc = SyncFolder(m_sPath.substr(0, m_sPath.rfind('/')));
  if (rc) {
    FX_LOG(-1, "Cannot sync the folder of the results file [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    return rc;
  }
  RemoveStaleTemporaries(m_sPath);
  JobResultsSwitches::Instance().SaveCompleted();
  return 0;
}

RetrieveResults::RetrieveResults(int velliconId, KXJobID jobId, int kind, void*, int)
    : m_sPath(JobResultsPath(velliconId, jobId, kind)) {}

JobResultsSwitches& JobResultsSwitches::Instance() {
  static JobResultsSwitches switches;
  return switches;
}

void JobResultsSwitches::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iFailOpen = m_iFailPut = m_iFailClose = 0;
  m_iSaves = 0;
  m_hook = nullptr;
}

void JobResultsSwitches::FailOpen(int errNo) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iFailOpen = errNo;
}

void JobResultsSwitches::FailPut(int errNo) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iFailPut = errNo;
}

void JobResultsSwitches::FailClose(int errNo) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iFailClose = errNo;
}

void JobResultsSwitches::SetSaveHook(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_hook = std::move(hook);
  m_iSaves = 0;
}

int JobResultsSwitches::OpenFailure() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iFailOpen;
}

int JobResultsSwitches::PutFailure() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iFailPut;
}

int JobResultsSwitches::CloseFailure() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iFailClose;
}

void JobResultsSwitches::SaveCompleted() {
  std::function<void(int)> hook;
  int saves;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    saves = ++m_iSaves;
    hook = m_hook;
  }
  if (hook) hook(saves);
}

ScopedResultsRoot::ScopedResultsRoot() : m_bHadPrevious(false) {
  if (const char* previous = std::getenv("PROXY_RESULTS_ROOT")) {
    m_bHadPrevious = true;
    m_sPrevious = previous;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/proxy-results-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) {
    FX_LOG(-1, "Cannot make a results folder from [%s]: %s", pattern.c_str(), std::strerror(errno));
    return;
  }
  m_sPath = name.data();
  ::setenv("PROXY_RESULTS_ROOT", m_sPath.c_str(), 1);
}

ScopedResultsRoot::~ScopedResultsRoot() {
  if (m_sPath.empty()) return;
  ::nftw(m_sPath.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  if (m_bHadPrevious)
    ::setenv("PROXY_RESULTS_ROOT", m_sPrevious.c_str(), 1);
  else
    ::unsetenv("PROXY_RESULTS_ROOT");
}
