#include "KXPlatformInfo.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "FXLogWriter.h"
#include "SettingsStorage.h"

namespace {

// "~Section" and "Section" are one section.
std::string Canonical(const std::string& section) {
  return (!section.empty() && section[0] == '~') ? section.substr(1) : section;
}

bool ReadValue(const std::string& section, const std::string& name, SettingsValue* out) {
  SettingsSection values;
  CWqError result = SettingsStorage::Read(KXPlatformInfo::RootDirectory(), Canonical(section), &values);
  if (result.IsError()) {
    FX_LOG(-1, "Cannot read settings section [%s]: %s", section.c_str(),
           result.AsString(ERROR_OUTPUT_TEXT).c_str());
    return false;
  }
  const SettingsValue* value = values.Find(name);
  if (!value) return false;
  *out = *value;
  return true;
}

int WriteValue(const std::string& section, const std::string& name, const SettingsValue& value) {
  CWqError result = SettingsStorage::Update(KXPlatformInfo::RootDirectory(), Canonical(section),
                                            [&](SettingsSection& s) {
                                              s.Set(name, value);
                                              return true;
                                            });
  if (result.IsError()) {
    FX_LOG(-1, "Cannot write settings value [%s]/[%s]: %s", section.c_str(), name.c_str(),
           result.AsString(ERROR_OUTPUT_TEXT).c_str());
    return -1;
  }
  return 0;
}

}  // namespace

KXPlatformInfo::KXPlatformInfo() {}
KXPlatformInfo::~KXPlatformInfo() {}

int KXPlatformInfo::getNumber(const std::string& section, const std::string& name, unsigned int* value) {
  unsigned long wide = 0;
  const int rc = getNumber(section, name, &wide);
  if (rc != 0 && value) *value = static_cast<unsigned int>(wide);
  return rc;
}

int KXPlatformInfo::getNumber(const std::string& section, const std::string& name,
                              unsigned long* value) {
  SettingsValue v;
  if (!value || !ReadValue(section, name, &v)) return 0;
  if (v.type == SettingsValue::kNumber) {
    *value = v.number;
  } else if (v.type == SettingsValue::kBoolean) {
    *value = v.boolean ? 1 : 0;
  } else {
    return 0;
  }
  return 1;
}

int KXPlatformInfo::getString(const std::string& section, const std::string& name,
                              std::string* value) {
  SettingsValue v;
  if (!value || !ReadValue(section, name, &v) || v.type != SettingsValue::kString) return 0;
  value->swap(v.text);
  return 1;
}

int KXPlatformInfo::getBoolean(const std::string& section, const std::string& name, bool* value) {
  SettingsValue v;
  if (!value || !ReadValue(section, name, &v)) return 0;
  if (v.type == SettingsValue::kBoolean) {
    *value = v.boolean;
  } else if (v.type == SettingsValue::kNumber) {
    *value = v.number != 0;
  } else {
    return 0;
  }
  return 1;
}

int KXPlatformInfo::setNumber(const std::string& section, const std::string& name,
                              unsigned long value) {
  return WriteValue(section, name, SettingsValue::Number(value));
}

int KXPlatformInfo::setString(const std::string& section, const std::string& name,
                              const char* value, size_t length) {
  if (!value && length != 0) {
    FX_LOG(-1, "Null string of length %zu for settings value [%s]/[%s]", length, section.c_str(),
           name.c_str());
    return -1;
  }
  return WriteValue(section, name, SettingsValue::String(std::string(value ? value : "", length)));
}

int KXPlatformInfo::setBoolean(const std::string& section, const std::string& name, bool value) {
  return WriteValue(section, name, SettingsValue::Boolean(value));
}

int KXPlatformInfo::deleteField(const std::string& section, const std::string& name) {
  CWqError result = SettingsStorage::Update(RootDirectory(), Canonical(section),
                                            [&](SettingsSection& s) { return s.Erase(name); });
  if (result.IsError()) {
    FX_LOG(-1, "Cannot delete settings value [%s]/[%s]: %s", section.c_str(), name.c_str(),
           result.AsString(ERROR_OUTPUT_TEXT).c_str());
    return -1;
  }
  return 0;
}

int KXPlatformInfo::delRegField(const std::string& section, const std::string& name) {
  return deleteField(section, name);
}

int KXPlatformInfo::deleteSection(const std::string& section) {
  CWqError result = SettingsStorage::Update(RootDirectory(), Canonical(section), [](SettingsSection& s) {
    bool had = !s.IsEmpty();
    s.Parse(std::string());
    return had;
  });
  if (result.IsError()) {
    FX_LOG(-1, "Cannot delete settings section [%s]: %s", section.c_str(), result.AsString(ERROR_OUTPUT_TEXT).c_str());
    return -1;
  }
  return 0;
}

void KXPlatformInfo::setFocus(const std::string& focus) { m_sFocus = focus; }

int KXPlatformInfo::getZentraverClientName(char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  std::string name;
  if (!getString("Zentraver", "sClientName", &name)) return 0;
  size_t n = std::min(std::strlen(name.c_str()), static_cast<size_t>(size - 1));
  std::memcpy(buffer, name.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int KXPlatformInfo::findZentraverHostName(char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  std::string name;
  if (!getString("Zentraver", "sHostName", &name)) return 0;
  size_t n = std::min(std::strlen(name.c_str()), static_cast<size_t>(size - 1));
  std::memcpy(buffer, name.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int KXPlatformInfo::getKXPlatformType() {
  unsigned long type = 0;
  getNumber("Platform", "nKXPlatformType", &type);
  return static_cast<int>(type);
}

std::string KXPlatformInfo::getPhysicalMachine() {
  std::string name;
  if (!getString("Platform", "sPhysicalMachine", &name) || name.empty()) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) name = host;
  }
  name = name.c_str();  // up to a NUL the value may hold
  if (name.size() > 255) name.resize(255);
  return name;
}

std::string KXPlatformInfo::RootDirectory() {
  std::string root;
  RootDirectory(root);
  return root;
}

void KXPlatformInfo::RootDirectory(std::string& out) {
  const char* root = std::getenv("PROXY_SETTINGS_ROOT");
  if (root && *root) {
    out.assign(root);
    return;
  }
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) {
    out.assign(config).append("/proxyagent/settings");
    return;
  }
  const char* home = std::getenv("HOME");
  if (home && *home) {
    out.assign(home).append("/.config/proxyagent/settings");
    return;
  }
  out.assign("/tmp/proxyagent-settings-").append(std::to_string(static_cast<unsigned long>(::getuid())));
}
