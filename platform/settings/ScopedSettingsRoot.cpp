#include "ScopedSettingsRoot.h"

#include "SettingsStorage.h"

#include <ftw.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FXLogWriter.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  if (::remove(path) != 0) FX_LOG(-1, "Cannot remove [%s]: %s", path, std::strerror(errno));
  return 0;
}

}  // namespace

ScopedSettingsRoot::ScopedSettingsRoot() : m_bHadPrevious(false) {
  if (const char* previous = std::getenv("PROXY_SETTINGS_ROOT")) {
    m_bHadPrevious = true;
    m_sPrevious = previous;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/proxy-settings-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) {
    FX_LOG(-1, "Cannot make a settings folder from [%s]: %s", pattern.c_str(),
           std::strerror(errno));
    return;
  }
  m_sPath = name.data();
  ::setenv("PROXY_SETTINGS_ROOT", m_sPath.c_str(), 1);
  SettingsStorage::NoteChange();
}

ScopedSettingsRoot::~ScopedSettingsRoot() {
  if (m_sPath.empty()) return;
  ::nftw(m_sPath.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  if (m_bHadPrevious)
    ::setenv("PROXY_SETTINGS_ROOT", m_sPrevious.c_str(), 1);
  else
    ::unsetenv("PROXY_SETTINGS_ROOT");
  // A later folder may get the same name: values kept from this one go.
  SettingsStorage::NoteChange();
}
