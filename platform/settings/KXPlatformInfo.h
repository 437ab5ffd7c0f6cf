// KXPlatformInfo: the local settings store, read and written by section and
// value name. Built for each use; every instance sees the same store.
//
// The store lives on disk under a root folder: the environment variable
// "PROXY_SETTINGS_ROOT" names it, else "$XDG_CONFIG_HOME/proxyagent/settings",
// else "$HOME/.config/proxyagent/settings", else
// "/tmp/proxyagent-settings-<uid>". Whichever it is, a root or a file in it
// that another user owns or may write is refused (SettingsStorage.h): reads
// find nothing and writes fail, with a level -1 line that names the path.
// Several processes read and write it at
// once: each write is atomic under a file lock (SettingsStorage.h). A read
// of an absent value returns 0 and leaves the caller's out-value untouched,
// so callers preset their default. A section name that starts with "~" names
// the same section without it (delRegField("~" + section, name)).
//
// Values are typed: a number read as a boolean is true when not 0, a boolean
// read as a number is 1 or 0; a string is only read as a string. A string
// keeps every byte it was given, NUL bytes included.
//
// The central server's client name is the string value "sClientName" of the
// section "Zentraver".
//
// No instance state outside the object: the store may be used during static
// initialisation (the log writer reads it then).
#pragma once

#include <cstddef>
#include <string>

class KXPlatformInfo {
 public:
  KXPlatformInfo();
  ~KXPlatformInfo();

  // Non-zero when the value exists.
  int getNumber(const std::string& section, const std::string& name, unsigned long* value);
  // The 32-bit form: reads through the form above into a temporary and
  // stores its low 32 bits only when the value exists.
  int getNumber(const std::string& section, const std::string& name, unsigned int* value);
  int getString(const std::string& section, const std::string& name, std::string* value);
  int getBoolean(const std::string& section, const std::string& name, bool* value);

  // 0 on success.
  int setNumber(const std::string& section, const std::string& name, unsigned long value);
  int setString(const std::string& section, const std::string& name, const char* value,
                size_t length);
  int setBoolean(const std::string& section, const std::string& name, bool value);
  // 0 when the value (or section) is gone afterwards, also when it was absent.
  int deleteField(const std::string& section, const std::string& name);
  int delRegField(const std::string& section, const std::string& name);
  int deleteSection(const std::string& section);

  // The instance focus the caller works for. This store serves one instance,
  // so the focus is kept but chooses nothing.
  void setFocus(const std::string& focus);
  const std::string& getFocus() const { return m_sFocus; }

  // Copies the central server's client name, NUL-terminated and cut to fit,
  // into `buffer`. Non-zero (the length copied) when a non-empty name is set;
  // 0 otherwise, with buffer[0] set to NUL when there is room.
  int getZentraverClientName(char* buffer, int size);
  // The same for the central server's host name, the string value
  // "sHostName" of the section "Zentraver".
  int findZentraverHostName(char* buffer, int size);

  // The kind of machine this is: the number "nKXPlatformType" of the section
  // "Platform" (0 when absent). Bit 0 set: the machine is known to the
  // central server under its client name (getZentraverClientName).
  int getKXPlatformType();
  // The machine's own name: the string "sPhysicalMachine" of the section
  // "Platform", else the system's host name; at most 255 characters.
  std::string getPhysicalMachine();

  // The root folder in force (for tests and tools).
  static std::string RootDirectory();
  // The same into `out`, reusing its storage (for callers on a hot path).
  static void RootDirectory(std::string& out);

 private:
  std::string m_sFocus;
};
