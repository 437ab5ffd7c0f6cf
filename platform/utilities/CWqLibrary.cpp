#include "CWqLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FXErrorUtil.h"
#include "FXOwnerCheck.h"
#include "KXPlatformInfo.h"

CWqLibrary::CWqLibrary(bool unload) : m_pHandle(nullptr) {}

CWqLibrary::~CWqLibrary() {}

std::string CWqLibrary::GetLibraryNameForName(const std::string& base) const {
  std::string folder;
  const char* fromEnvironment = std::getenv("PROXY_LIBRARY_DIR");
  if (fromEnvironment && *fromEnvironment)
    folder = fromEnvironment;
  else if (!KXPlatformInfo().getString("ProductPaths", "sLibraryDirectory", &folder) || folder.empty())
    folder = "/opt/proxyagent/lib";
  return folder + "/lib" + base + ".so";
}

namespace {

// Whether code at `path` may run in this process: owned by root or this
// user, and writable by nobody else.
CWqError Trusted(const std::string& path, const char* what) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    const int err = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "Cannot check the library %s [%s]: %s", what, path.c_str(),
                                   std::strerror(err));
  }
  const FXOwnerFault fault = FXCheckOwner(info, true);
  if (fault == FXOwnerFault::kOtherOwner)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EACCES, "The library %s [%s] is owned by user %u, not by root or this user",
                                   what, path.c_str(), static_cast<unsigned>(info.st_uid));
  if (fault == FXOwnerFault::kWritableByOthers)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EACCES, "The library %s [%s] is writable by %s", what, path.c_str(),
                                   (info.st_mode & S_IWOTH) ? "others" : "its group");
  return CWqError::Success();
}

}  // namespace

CWqError CWqLibrary::Load(const std::string& file, bool now) {
  // The library runs in this process: a folder resolved against the working
  // directory, or one that others could write to, could hand it any code.
  const size_t slash = file.rfind('/');
  if (file.empty() || file[0] != '/' || slash == std::string::npos)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Cannot load [%s]: the library folder is not an absolute path",
                                   file.c_str());
  CWqError trusted = Trusted(slash == 0 ? "/" : file.substr(0, slash), "folder");
  if (!trusted.IsError()) trusted = Trusted(file, "file");
  if (trusted.IsError()) return trusted.Push(FX_HERE, "Cannot load [%s]", file.c_str());
  ::dlerror();
  void* handle = ::dlopen(file.c_str(), (now ? RTLD_NOW : RTLD_LAZY) | RTLD_LOCAL);
  if (!handle) {
    const char* text = ::dlerror();
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "Cannot load [%s]: %s", file.c_str(), text ? text : "");
  }
  m_pHandle = handle;
  m_sFile = file;
  return CWqError::Success();
}

CWqError CWqLibrary::GetAddress(const std::string& symbol, void*& address) {
  address = nullptr;
  if (!m_pHandle) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No library loaded to find [%s] in", symbol.c_str());
  ::dlerror();
  void* found = ::dlsym(m_pHandle, symbol.c_str());
  if (!found)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "[%s] not found in [%s]", symbol.c_str(), m_sFile.c_str());
  address = found;
  return CWqError::Success();
}
