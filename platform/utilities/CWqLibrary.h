// CWqLibrary: a shared library loaded at run time and the addresses of its
// entry points. The file is looked for in the library folder: the one the
// environment names ("PROXY_LIBRARY_DIR"), else the string value
// "sLibraryDirectory" of the settings section "ProductPaths", else
// "/opt/proxyagent/lib". A library once loaded is never unloaded: callers
// keep its entry points after the loader object is gone.
#pragma once

#include <string>

#include "CWqError.h"

class CWqLibrary {
 public:
  // `unload` is kept for the platform's signature; libraries stay loaded.
  explicit CWqLibrary(bool unload);
  ~CWqLibrary();
  CWqLibrary(const CWqLibrary&) = delete;
  CWqLibrary& operator=(const CWqLibrary&) = delete;

  // "<library folder>/lib<base>.so".
  std::string GetLibraryNameForName(const std::string& base) const;
  // Refuses to load code others could have placed: EINVAL for a file not
  // named by an absolute path, EACCES when the file or its folder is not
  // owned by root or this user or is writable by group or others, the
  // system's errno when either cannot be looked at. ENOENT with the
  // loader's text when the file cannot be loaded.
  CWqError Load(const std::string& file, bool now);
  // EINVAL before a successful Load; ENOENT when the symbol is missing.
  CWqError GetAddress(const std::string& symbol, void*& address);

 private:
  void* m_pHandle;
  std::string m_sFile;
};
