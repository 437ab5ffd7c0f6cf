#include "JobResults.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "FXErrorUtil.h"
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

int Flock(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

// The files whose temporaries this process has swept: a sweep runs once per
// file and process.
struct SweptFiles {
  std::mutex mutex;
  std::set<std::string> paths;
};

SweptFiles& Swept() {
  static SweptFiles swept;
  return swept;
}

// Removes what saves of `name` (in `folder`, open as `folderFd`) that never
// reached their rename left beside it: "<name>.XXXXXX", six letters or
// digits. Only when no save in that folder is in progress, by any thread or
// process (each holds a shared lock on the folder from before its temporary
// is made until it is gone): what is left then belongs to a killed save.
void RemoveStaleTemporaries(int folderFd, const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  {
    std::lock_guard<std::mutex> lock(Swept().mutex);
    if (Swept().paths.count(path)) return;
  }
  if (Flock(folderFd, LOCK_EX | LOCK_NB) != 0) return;  // a save is in progress: the next first open sweeps
  std::vector<std::string> removed;
  if (FXAtomicFile::RemoveTemporaries(folderFd, name + ".", 6, removed) != 0) {
    Flock(folderFd, LOCK_UN);
    return;
  }
  for (const std::string& found : removed)
    FX_LOG(1, "Removed a results file left by an unfinished save [%s/%s]", folder.c_str(), found.c_str());
  Flock(folderFd, LOCK_UN);
  std::lock_guard<std::mutex> lock(Swept().mutex);
  Swept().paths.insert(path);
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
    : m_iVelliconId(velliconId), m_llJobId(jobId), m_iFolder(-1) {}

StoreResults::~StoreResults() { Abandon(); }

void StoreResults::Abandon() {
  m_file.Abandon();
  if (m_iFolder >= 0) ::close(m_iFolder);  // and with it the folder's lock
  m_iFolder = -1;
}

int StoreResults::Failed(const CWqError& error) {
  FX_LOG(-1, "%s", error.AsString(ERROR_OUTPUT_ONE_LINE).c_str());
  Abandon();
  const int rc = FXErrorUtil::GetErrNo(error);
  return rc ? rc : EIO;
}

int StoreResults::openFile(int kind, bool, bool) {
  if (m_file.InProgress()) return EBUSY;
  if (int fail = JobResultsSwitches::Instance().OpenFailure()) return fail;
  m_sPath = JobResultsPath(m_iVelliconId, m_llJobId, kind);
  const size_t slash = m_sPath.rfind('/');
  const std::string folder = m_sPath.substr(0, slash);
  const std::string name = m_sPath.substr(slash + 1);
  if (int rc = MakeFolders(folder)) {
    FX_LOG(-1, "Cannot make the results folder of [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    return rc;
  }
  do {
    m_iFolder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (m_iFolder < 0 && errno == EINTR);
  if (m_iFolder < 0) {
    const int rc = errno;
    FX_LOG(-1, "Cannot open the results folder of [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    return rc;
  }
  RemoveStaleTemporaries(m_iFolder, folder, name);
  // Held until this save's temporary is renamed or removed, so that no sweep
  // takes it for one of a killed save. A sweep holds the folder only for a
  // few removals.
  if (int rc = Flock(m_iFolder, LOCK_SH)) {
    FX_LOG(-1, "Cannot lock the results folder of [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    Abandon();
    return rc;
  }
  CWqError result = m_file.Begin(m_iFolder, name, m_sPath, name + ".", 6, 0600);
  return result.IsError() ? Failed(result) : 0;
}

int StoreResults::putLine(const std::string& line, bool newline) {
  if (!m_file.InProgress()) return EBADF;
  if (int rc = JobResultsSwitches::Instance().PutFailure()) {
    FX_LOG(-1, "Cannot write the results file [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    Abandon();
    return rc;
  }
  CWqError result = m_file.Write(newline ? line + "\n" : line);
  return result.IsError() ? Failed(result) : 0;
}

int StoreResults::closeFile() {
  if (!m_file.InProgress()) return EBADF;
  if (int rc = JobResultsSwitches::Instance().CloseFailure()) {
    FX_LOG(-1, "Cannot complete the results file [%s]: %s", m_sPath.c_str(), std::strerror(rc));
    Abandon();
    return rc;
  }
  JobResultsSwitches::Instance().BeforeRename();
  CWqError result = m_file.Commit();
  if (result.IsError()) return Failed(result);
  Abandon();  // closes the folder
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
  m_renameHook = nullptr;
  std::lock_guard<std::mutex> swept(Swept().mutex);
  Swept().paths.clear();
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

void JobResultsSwitches::SetRenameHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_renameHook = std::move(hook);
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

void JobResultsSwitches::BeforeRename() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    hook = m_renameHook;
  }
  if (hook) hook();
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
