// KXPI_PlatformBase: the product's folders on this host, by platform type.
// Type 4 is the proxy agent: its home directory holds "ProxyPackage", and
// its base home (the folder "Base" beside the home directory, so that
// "../../../Base" from a package folder reaches it) holds the tools "sshf",
// "kxpscp.exe" and "pkgcrc32".
//
// The home directory is the string "sHomeDirectory" of the settings section
// "ProductPaths", else "/opt/proxyagent/iDataAgent"; a trailing "/" is
// dropped.
#pragma once

#include <string>

class KXPI_PlatformBase {
 public:
  explicit KXPI_PlatformBase(int platformType);

  const std::string& getHomeDirectory() const { return m_sHome; }
  const std::string& getBaseHomeDirectory() const { return m_sBaseHome; }

 private:
  int m_iType;
  std::string m_sHome;
  std::string m_sBaseHome;
};
