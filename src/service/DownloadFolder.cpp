#include "DownloadFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"

namespace DownloadFolder {

namespace {

int Retried(const std::function<int()>& call) {
  int result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

bool IsLink(int folder, const std::string& name) {
  struct stat st;
  return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

CWqError LinkRefused(const std::string& destination, const std::string& name, const std::string& at) {
  return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The client's log file name [%s] leads through the link [%s] in [%s]",
                                 name.c_str(), at.c_str(), destination.c_str());
}

}  // namespace

CWqError OpenCallers(const std::string& path, ProxyFileUtil::ScopedDescriptor& folder) {
  if (!FXPath::DoesPathExist(path)) {
    FX_LOG(3, "destination folder does not exists. will create %s", path.c_str());
    errno = 0;
    if (!CWqDirectory::Create(path, true)) {
      const int errNo = errno ? errno : EIO;
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot make the folder [%s]: %s", path.c_str(),
                                     std::strerror(errNo));
    }
  }
  folder.Reset(ProxyFileUtil::OpenForReading(path, O_DIRECTORY));
  if (!folder.IsOpen()) {
    const int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot open the folder [%s]: %s", path.c_str(),
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

CWqError OpenInside(const std::string& destination, const std::string& name, ProxyFileUtil::ScopedDescriptor& folder,
                    std::string& last) {
  size_t start = 0;
  for (size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1) {
    const std::string part = name.substr(start, slash - start);
    const std::string walked = name.substr(0, slash);
    if (::mkdirat(folder.Get(), part.c_str(), 0755) == 0)
      FX_LOG(3, "destination folder does not exists. will create %s/%s", destination.c_str(), walked.c_str());
    const int next =
        Retried([&] { return ::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (next < 0) {
      const int errNo = errno;
      if (IsLink(folder.Get(), part)) return LinkRefused(destination, name, walked);
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot make the folder [%s/%s]: %s", destination.c_str(),
                                     walked.c_str(), std::strerror(errNo));
    }
    folder.Reset(next);
  }
  last = name.substr(start);
  struct stat st;
  if (::fstatat(folder.Get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return LinkRefused(destination, name, name);
  } else if (errno != ENOENT) {
    const int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot create [%s/%s]: %s", destination.c_str(), name.c_str(),
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

}  // namespace DownloadFolder
