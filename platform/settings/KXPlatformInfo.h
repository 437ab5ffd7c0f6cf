// KXPlatformInfo: the local settings store, read and written by section and
// value name. Built for each use; every instance sees the same store.
//
// The store lives on disk under a root folder: the environment variable
// "PROXY_SETTINGS_ROOT" names it, else a per-user default. Several processes
// read and write it at once: each write is atomic under a file lock. A read
// of an absent value returns 0 and leaves the caller's out-value untouched,
// so callers preset their default. A section name that starts with "~" names
// the same section without it (delRegField("~" + section, name)).
#pragma once

#include <string>

class KXPlatformInfo {
 public:
  KXPlatformInfo();
  ~KXPlatformInfo();

  // Non-zero when the value exists.
  int getNumber(const std::string& section, const std::string& name, unsigned long* value);
  int getString(const std::string& section, const std::string& name, std::string* value);
  int getBoolean(const std::string& section, const std::string& name, bool* value);

  // 0 on success.
  int setNumber(const std::string& section, const std::string& name, unsigned long value);
  int setString(const std::string& section, const std::string& name, const char* value,
                size_t length);
  int setBoolean(const std::string& section, const std::string& name, bool value);
  int deleteField(const std::string& section, const std::string& name);
  int delRegField(const std::string& section, const std::string& name);
  int deleteSection(const std::string& section);

  // The root folder in force (for tests and tools).
  static std::string RootDirectory();
};
