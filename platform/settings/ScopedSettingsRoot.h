// ScopedSettingsRoot: points the settings store at a fresh, empty folder for
// the life of the object (tests in every area use it).
//
// The constructor makes a folder with mkdtemp under $TMPDIR (or /tmp) and
// sets "PROXY_SETTINGS_ROOT" to it; the destructor removes the folder with
// everything in it and gives the variable back its former value (or unsets
// it). Not for use while other threads read the environment.
#pragma once

#include <string>

class ScopedSettingsRoot {
 public:
  ScopedSettingsRoot();
  ~ScopedSettingsRoot();
  ScopedSettingsRoot(const ScopedSettingsRoot&) = delete;
  ScopedSettingsRoot& operator=(const ScopedSettingsRoot&) = delete;

  // The folder; empty when it could not be made (the store then stays where
  // it was, and the failure is logged at level -1).
  const std::string& path() const { return m_sPath; }

 private:
  std::string m_sPath;
  bool m_bHadPrevious;
  std::string m_sPrevious;
};
