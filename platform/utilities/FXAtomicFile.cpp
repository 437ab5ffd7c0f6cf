#include "FXAtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>

#include "FXErrorUtil.h"

namespace {

const int kNameAttempts = 100;

std::mutex g_seamMutex;
int g_failStep = -1;
int g_failErrNo = 0;

// The errno the test seam sets for `step`, else 0.
int SeamFailure(FXAtomicFile::Step step) {
  std::lock_guard<std::mutex> lock(g_seamMutex);
  return g_failStep == step ? g_failErrNo : 0;
}

std::string RandomLetters(size_t count) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::minstd_rand random(std::random_device{}());
  std::string letters;
  for (size_t i = 0; i < count; ++i) letters += kLetters[random() % (sizeof kLetters - 1)];
  return letters;
}

// 0 or the errno of the failed fsync.
int Sync(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

CWqError FXAtomicFile::Fail(int errNo, const char* step) {
  Abandon();
  return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot %s [%s]: %s", step, m_sShown.c_str(), std::strerror(errNo));
}

CWqError FXAtomicFile::Begin(int folder, const std::string& name, const std::string& shown, const std::string& prefix,
                             size_t randomChars, mode_t mode) {
  if (m_iFd >= 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBUSY, "Cannot start [%s]: [%s] is still in progress", shown.c_str(),
                                   m_sShown.c_str());
  m_iFolder = folder;
  m_sName = name;
  m_sShown = shown;
  int errNo = SeamFailure(kCreate);
  for (int attempt = 0; errNo == 0 && attempt < kNameAttempts; ++attempt) {
    const std::string temporary = prefix + RandomLetters(randomChars);
    int fd;
    do {
      fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      m_iFd = fd;
      m_sTemporary = temporary;
      return CWqError::Success();
    }
    if (errno != EEXIST || randomChars == 0) errNo = errno;
  }
  if (errNo == 0) errNo = EEXIST;
  return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot create a temporary file for [%s]: %s", shown.c_str(),
                                 std::strerror(errNo));
}

CWqError FXAtomicFile::Write(const void* data, size_t size) {
  if (m_iFd < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "No file is in progress to write");
  if (int errNo = SeamFailure(kWrite)) return Fail(errNo, "write the temporary file of");
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(m_iFd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(n < 0 ? errno : ENOSPC, "write the temporary file of");
    at += n;
    size -= static_cast<size_t>(n);
  }
  return CWqError::Success();
}

CWqError FXAtomicFile::Commit() {
  if (m_iFd < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "No file is in progress to complete");
  int errNo = SeamFailure(kSyncFile);
  if (errNo == 0) errNo = Sync(m_iFd);
  if (errNo == 0) {
    const int fd = m_iFd;
    m_iFd = -1;
    // After a sync a failed close still means the content may not be whole.
    if (::close(fd) != 0 && errno != EINTR) errNo = errno;
  }
  // Fail removes the temporary, closed or not.
  if (errNo != 0) return Fail(errNo, "sync the temporary file of");

  errNo = SeamFailure(kRename);
  if (errNo == 0 && ::renameat(m_iFolder, m_sTemporary.c_str(), m_iFolder, m_sName.c_str()) != 0) errNo = errno;
  if (errNo != 0) return Fail(errNo, "rename the temporary file over");
  m_sTemporary.clear();
  // The rename lives in the folder: without its sync a power loss could
  // bring back the file as it was before.
  errNo = SeamFailure(kSyncFolder);
  if (errNo == 0) errNo = Sync(m_iFolder);
  if (errNo != 0) return Fail(errNo, "sync the folder of");
  return CWqError::Success();
}

void FXAtomicFile::Abandon() {
  if (m_iFd >= 0) ::close(m_iFd);
  m_iFd = -1;
  if (!m_sTemporary.empty()) ::unlinkat(m_iFolder, m_sTemporary.c_str(), 0);
  m_sTemporary.clear();
}

CWqError FXAtomicFile::Replace(int folder, const std::string& name, const std::string& shown, const std::string& prefix,
                               size_t randomChars, mode_t mode, const std::string& content) {
  FXAtomicFile file;
  CWqError result = file.Begin(folder, name, shown, prefix, randomChars, mode);
  if (!result.IsError()) result = file.Write(content);
  if (!result.IsError()) result = file.Commit();
  return result.IsError() ? result.Push(FX_HERE) : result;
}

int FXAtomicFile::RemoveTemporaries(int folder, const std::string& prefix, size_t randomChars,
                                    std::vector<std::string>& removed) {
  const int listFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
  if (!dir) {
    const int errNo = errno;
    if (listFd >= 0) ::close(listFd);
    return errNo;
  }
  std::vector<std::string> found;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + randomChars || name.compare(0, prefix.size(), prefix) != 0) continue;
    bool plain = true;
    for (size_t i = prefix.size(); i < name.size(); ++i)
      plain = plain && (std::isalnum(static_cast<unsigned char>(name[i])) != 0);
    if (plain) found.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : found) {
    struct stat info;
    // A regular file only, never followed through a link.
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
        ::unlinkat(folder, name.c_str(), 0) == 0)
      removed.push_back(name);
  }
  return 0;
}

void FXAtomicFile::FailStepForTest(Step step, int errNo) {
  std::lock_guard<std::mutex> lock(g_seamMutex);
  g_failStep = errNo ? step : -1;
  g_failErrNo = errNo;
}

void FXAtomicFile::ResetForTest() { FailStepForTest(kCreate, 0); }
