#include "CWqLibrary.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>

#include "FXErrorUtil.h"
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

CWqError CWqLibrary::Load(const std::string& file, bool now) {
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
