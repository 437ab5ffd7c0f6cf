#include "KXPI_Focus.h"

#include <unistd.h>

#include <mutex>

#include "KXPlatformInfo.h"

namespace {
std::mutex s_focusMutex;
std::string s_focus = "Instance001";
}  // namespace

std::string KXPI_Focus::getFocus() {
  std::lock_guard<std::mutex> lock(s_focusMutex);
  return s_focus;
}

void KXPI_Focus::setFocus(const std::string& name) {
  std::lock_guard<std::mutex> lock(s_focusMutex);
  s_focus = name;
}

std::string KXPI_Focus::getFocusClientName(bool forLookup) {
  std::string name;
  if (KXPlatformInfo().getString("Machine", "sClientName", &name) && !name.empty()) return name;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}
