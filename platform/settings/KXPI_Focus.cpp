#include "KXPI_Focus.h"

#include <unistd.h>

#include "KXPlatformInfo.h"

std::string KXPI_Focus::getFocus() { return "Instance001"; }

std::string KXPI_Focus::getFocusClientName(bool forLookup) {
  std::string name;
  if (KXPlatformInfo().getString("Machine", "sClientName", &name) && !name.empty()) return name;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}
