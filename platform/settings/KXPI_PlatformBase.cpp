#include "KXPI_PlatformBase.h"

#include "KXPlatformInfo.h"

KXPI_PlatformBase::KXPI_PlatformBase(int platformType) : m_iType(platformType) {
  std::string home = "/opt/proxyagent/iDataAgent";
  KXPlatformInfo().getString("ProductPaths", "sHomeDirectory", &home);
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  m_sHome = home;
  const size_t slash = home.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string(".") : home.substr(0, slash);
  m_sBaseHome = (parent.empty() ? std::string("") : parent) + "/Base";
}
