#include "ExampleFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FXErrorUtil.h"

namespace {

CWqError SystemError(const FXCodeLocation& location, int errNo, const char* what, const std::string& path) {
  return FXErrorUtil::ErrorErrNo(location, errNo, "%s [%s]: %s", what, path.c_str(), std::strerror(errNo));
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;  // go on: remove what can be removed
}

uint64_t g_countFiles = 0, g_countBytes = 0;

int CountOne(const char*, const struct stat* info, int type, struct FTW*) {
  if (type == FTW_F && S_ISREG(info->st_mode)) {
    ++g_countFiles;
    g_countBytes += static_cast<uint64_t>(info->st_size);
  }
  return 0;
}

}  // namespace

CWqError MakeTempFolder(const std::string& prefix, std::string& path) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) {
    const int errNo = errno;
    return SystemError(FX_HERE, errNo, "Cannot make a temporary folder", pattern);
  }
  path = buffer.data();
  return CWqError::Success();
}

CWqError MakeFolders(const std::string& path) {
  if (path.empty()) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Empty folder name");
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0) {
      const int errNo = errno;
      if (errNo != EEXIST) return SystemError(FX_HERE, errNo, "Cannot make the folder", part);
    }
    if (slash == std::string::npos) break;
  }
  if (!IsFolder(path)) return SystemError(FX_HERE, ENOTDIR, "Not a folder", path);
  return CWqError::Success();
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  for (int pass = 0; pass < 5 && PathExists(path); ++pass) {
    if (pass > 0) ::usleep(20000);
    ::nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
}

void CountTree(const std::string& path, uint64_t& files, uint64_t& bytes) {
  // nftw takes no context: one count at a time, from the main thread.
  g_countFiles = g_countBytes = 0;
  ::nftw(path.c_str(), CountOne, 16, FTW_PHYS);
  files = g_countFiles;
  bytes = g_countBytes;
}

bool IsNewOrEmptyFolder(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return false;
  DIR* folder = ::opendir(path.c_str());
  if (!folder) return false;
  bool empty = true;
  while (struct dirent* entry = ::readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(folder);
  return empty;
}

CWqError AbsoluteFolder(const std::string& path, std::string& absolute) {
  char resolved[PATH_MAX];
  if (!::realpath(path.c_str(), resolved)) {
    const int errNo = errno;
    return SystemError(FX_HERE, errNo, "Cannot resolve the folder", path);
  }
  if (!IsFolder(resolved)) return SystemError(FX_HERE, ENOTDIR, "Not a folder", path);
  absolute = resolved;
  return CWqError::Success();
}

CWqError WriteWholeFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    const int errNo = errno;
    return SystemError(FX_HERE, errNo, "Cannot create", path);
  }
  errno = 0;
  const size_t written = std::fwrite(text.data(), 1, text.size(), file);
  const int writeErrNo = errno;
  const bool closed = std::fclose(file) == 0;
  const int closeErrNo = errno;
  if (written != text.size()) return SystemError(FX_HERE, writeErrNo ? writeErrNo : EIO, "Cannot write", path);
  if (!closed) return SystemError(FX_HERE, closeErrNo ? closeErrNo : EIO, "Cannot write", path);
  return CWqError::Success();
}

CWqError ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  // Opened without waiting and checked before a read: a FIFO would wait for
  // a writer for ever, a device may act on being opened or read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int errNo = errno;
    return SystemError(FX_HERE, errNo, "Cannot open", path);
  }
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return SystemError(FX_HERE, EINVAL, "Not a regular file", path);
  }
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int errNo = errno;
      ::close(fd);
      return SystemError(FX_HERE, errNo, "Cannot read", path);
    }
    if (got == 0) break;
    text.append(block, static_cast<size_t>(got));
  }
  ::close(fd);
  return CWqError::Success();
}

bool PathExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

CWqError GlanceAtFile(const std::string& path, size_t count, FileGlance& glance) {
  glance = FileGlance();
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    const int errNo = errno;
    return SystemError(FX_HERE, errNo, "Cannot read", path);
  }
  glance.bytes = static_cast<uint64_t>(info.st_size);
  std::ifstream in(path, std::ios::binary);
  if (!in) return SystemError(FX_HERE, EIO, "Cannot open", path);
  std::string line;
  while (std::getline(in, line)) {
    ++glance.lineCount;
    if (glance.firstLines.size() < count) glance.firstLines.push_back(line);
  }
  if (in.bad()) return SystemError(FX_HERE, EIO, "Cannot read", path);
  return CWqError::Success();
}
