// Placeholder until the settings store lands: every value is absent.
#include "KXPlatformInfo.h"
KXPlatformInfo::KXPlatformInfo() {}
KXPlatformInfo::~KXPlatformInfo() {}
int KXPlatformInfo::getNumber(const std::string&, const std::string&, unsigned long*) { return 0; }
int KXPlatformInfo::getString(const std::string&, const std::string&, std::string*) { return 0; }
int KXPlatformInfo::getBoolean(const std::string&, const std::string&, bool*) { return 0; }
int KXPlatformInfo::setNumber(const std::string&, const std::string&, unsigned long) { return -1; }
int KXPlatformInfo::setString(const std::string&, const std::string&, const char*, size_t) { return -1; }
int KXPlatformInfo::setBoolean(const std::string&, const std::string&, bool) { return -1; }
int KXPlatformInfo::deleteField(const std::string&, const std::string&) { return -1; }
int KXPlatformInfo::delRegField(const std::string&, const std::string&) { return -1; }
int KXPlatformInfo::deleteSection(const std::string&) { return -1; }
std::string KXPlatformInfo::RootDirectory() { return ""; }
