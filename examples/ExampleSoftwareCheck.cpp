#include "ExampleSoftwareCheck.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "ClClientManager.h"
#include "ExampleConsole.h"
#include "ExampleJob.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "KXPlatformInfo.h"
#include "SimClientDaemon.h"

const char ExampleSoftwareCheck::kPackageVersion[] = "5:20:";
const char ExampleSoftwareCheck::kDaemonVersion[] = "5:20:OSVERSION=V7R5M0";

namespace {

std::string UtcText(unsigned long seconds) {
  const time_t time = static_cast<time_t>(seconds);
  struct tm parts;
  char text[32];
  if (!gmtime_r(&time, &parts) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
    return std::to_string(seconds);
  return text;
}

}  // namespace

CWqError ExampleSoftwareCheck::Prepare() {
  std::string root;
  CWqError result = MakeTempFolder("proxy-example-product-", root);
  if (result.IsError()) return result;
  m_removal.Reset(root);
  const std::string home = root + "/iDataAgent";
  const std::string packages = home + "/ProxyPackage/iSeries";
  result = MakeFolders(packages);
  if (result.IsError()) return result;
  m_sPackageFile = packages + "/pkginfo.dat";
  result = WriteWholeFile(m_sPackageFile, std::string(kPackageVersion) + "\n");
  if (result.IsError()) return result;
  if (KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", home.data(), home.size()) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot set ProductPaths/sHomeDirectory in the settings store [%s]",
                                   KXPlatformInfo::RootDirectory().c_str());
  std::printf("software check: product home %s (removed at exit); the IBM i package description %s says %s\n",
              home.c_str(), m_sPackageFile.c_str(), kPackageVersion);
  return CWqError::Success();
}

void ExampleSoftwareCheck::Configure(SimClientDaemon& daemon) const {
  daemon.SetVersionReply(kDaemonVersion);
  std::printf("software check: the emulated IBM i machine has the client software; its daemon reports \"%s\"\n",
              kDaemonVersion);
}

bool ExampleSoftwareCheck::Report(const SimClientDaemon& daemon) const {
  const std::string section = std::string("ProxyClients/") + ExampleJob::kClientName;
  KXPlatformInfo settings;
  unsigned long next = 0;
  std::string checked, baseFolder, osVersion;
  const bool completed = settings.getNumber(section, "checkBinary", &next) != 0;
  settings.getString(section, "packageChecked", &checked);
  settings.getString(section, "dBASEHOME", &baseFolder);
  settings.getString(section, "OSVersion", &osVersion);
  const size_t links = daemon.GetServiceLinkCount();
  const size_t requests = daemon.GetVersionRequestCount();

  std::printf("\n-- software check --\n");
  std::printf("the first connect to %s checked the client software: %s to the daemon, %s\n",
              ExampleJob::kClientName, Counted(links, "\"SERVICE\" link", "\"SERVICE\" links").c_str(),
              Counted(requests, "version request", "version requests").c_str());
  const bool current = completed && checked == kPackageVersion;
  std::printf("outcome: %s\n", current ? "the client software is current (the daemon reports the package's version)"
                                       : "the check did NOT find the client current");
  std::printf("settings section %s:\n", section.c_str());
  std::printf("  checkBinary=%lu (%s: the next check, %d hours on)\n", next, completed ? UtcText(next).c_str() : "absent",
              ClClientManager::s_iHourBetweenVersionCheck);
  std::printf("  packageChecked=%s\n", checked.empty() ? "(absent)" : checked.c_str());
  std::printf("  dBASEHOME=%s\n", baseFolder.empty() ? "(absent)" : baseFolder.c_str());
  std::printf("  OSVersion=%s\n", osVersion.empty() ? "(absent)" : osVersion.c_str());
  if (requests == 1) std::printf("any later connect of the job found the check not due: no further remote call\n");
  ExampleStages::AddRow("software check", current ? "current" : "NOT current", requests, !current);
  return current;
}
