#include "ExampleDeployment.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "ClClientManager.h"
#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "ExampleSoftwareCheck.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "KXPassword.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "SimClientDaemon.h"
#include "SimIbmiSystem.h"
#include "SimVmsSystem.h"

namespace {

const char kPassword[] = "example";  // the records' IBM i password too
const char kVmsBaseFolder[] = "DKA0:[APP.CLIENT]";
const int32_t kOsOpenVms = 49;

// The first line of a reply, for the session print-out.
std::string FirstLine(const SimRemoteReply& reply) {
  const std::string& text = reply.out.empty() ? reply.err : reply.out;
  const size_t start = text.find_first_not_of("\r\n");
  if (start == std::string::npos) return "(no output)";
  const size_t end = text.find('\n', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

ExampleDeployment::ExampleDeployment(bool openVms) : m_bOpenVms(openVms) {
  if (openVms)
    m_system.reset(new SimVmsSystem);
  else
    m_system.reset(new SimIbmiSystem);
}

ExampleDeployment::~ExampleDeployment() {
  m_undo.Clear();
  m_sshd.Stop();
}

CWqError ExampleDeployment::Prepare() {
  std::printf("deploy: this run adds a throwaway user to this machine for the ssh login and removes it at the end; "
              "that needs root\n");
  if (::geteuid() != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPERM, "--deploy needs root: it adds and removes a user for sshd");
  SimSshd::Options options;
  options.homeFolder = m_bOpenVms;  // an IBM i profile has no home folder
  m_undo.Set([this] {
    m_sshd.Stop();
    RemoveTree(m_tools.Root());
  });
  CWqError result = m_sshd.Start(options);
  if (!result.IsError()) result = m_sshd.SetPassword(kPassword);
  if (!result.IsError()) result = m_tools.InstallThrough(m_sshd);
  if (result.IsError()) {
    result.Push(FX_HERE, "sshd cannot run for --deploy");
    return result;
  }
  const std::string home = m_tools.HomeDirectory();
  if (KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", home.data(), home.size()) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot set ProductPaths/sHomeDirectory in the settings store");
  result = WritePackage();
  if (result.IsError()) return result;

  if (m_bOpenVms) {
    static_cast<SimVmsSystem&>(*m_system).CreateDirectory("DKA0:[APP]");
  } else {
    SimIbmiSystem& ibmi = static_cast<SimIbmiSystem&>(*m_system);
    ibmi.AddObject("KXLIB/KXSBS", "*SBSD");
    ibmi.AddObject("KXLIB/KXJOBQ", "*JOBQ");
  }
  m_system->AttachTo(m_sshd.Machine());
  m_system->SetObserver([](const std::string& what, const SimRemoteReply& reply) {
    std::printf("client <- %s\n          -> %s\n", what.c_str(), FirstLine(reply).c_str());
  });
  std::printf("deploy: sshd on 127.0.0.1:%d, login %s; product home %s (tools and package, removed at exit)\n",
              m_sshd.Port(), m_sshd.User().c_str(), home.c_str());
  std::printf("deploy: the emulated %s machine has no client software and no daemon yet\n",
              m_bOpenVms ? "OpenVMS" : "IBM i");
  return CWqError::Success();
}

CWqError ExampleDeployment::WritePackage() const {
  std::map<std::string, std::string> files;
  if (m_bOpenVms)
    files = {{"KXOV_PKGCRC32.EXE", "CRC lister image"},
             {"KXOV_PKGCRC32.COM", "$ RUN KXOV_PKGCRC32\n"},
             {"KXOV_START.COM", "$ RUN/DETACHED KXOVD\n"},
             {"KXOV_STOP.COM", "$ STOP KXOVD\n"},
             {"KXOVD.EXE", "client daemon image"}};
  else
    files = {{"pkginfo.dat", std::string(ExampleSoftwareCheck::kPackageVersion) + "\n"},
             {"KXINSTPKG.savf", "save file of the KXSTAGE library"}};
  const std::string folder = m_tools.PackageFolder(m_bOpenVms ? "OpenVMS" : "iSeries");
  for (const auto& file : files)
    if (!SimSshTools::WriteFile(folder + "/" + file.first, file.second))
      return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot write the package file [%s/%s]", folder.c_str(),
                                     file.first.c_str());
  std::printf("deploy: %s package in %s (%zu files)\n", m_bOpenVms ? "OpenVMS" : "IBM i", folder.c_str(),
              files.size());
  return CWqError::Success();
}

void ExampleDeployment::Attach(SimClientDaemon& daemon) {
  // What the installed daemon will report when asked.
  daemon.SetVersionReply(ExampleSoftwareCheck::kDaemonVersion);
  SimClientDaemon* target = &daemon;
  m_system->SetDaemonControl(
      [target](uint16_t port) {
        if (port != target->GetPort()) {
          std::printf("client: no daemon on port %u\n", static_cast<unsigned>(port));
          return false;
        }
        CWqError result = target->Start();
        std::printf("client: the client software starts its daemon on port %u%s\n", static_cast<unsigned>(port),
                    result.IsError() ? " - FAILED" : "");
        return !result.IsError();
      },
      [] { std::printf("client: the client software stops its daemon\n"); });
}

CWqError ExampleDeployment::PatchRecords() const {
  RecordRegistry& records = RecordRegistry::Instance();
  bool ok;
  if (m_bOpenVms)
    ok = records.SetClientValue(ExampleJob::kClientId, "OperatingSystemId", RecordValue(kOsOpenVms)) &&
         records.SetClientProperty(ExampleJob::kClientId, "OpenVMSUserName", RecordValue(m_sshd.User())) &&
         records.SetClientProperty(ExampleJob::kClientId, "OpenVMSUserPassword",
                                   RecordValue(KXPassword::encrypt(kPassword))) &&
         records.SetClientProperty(ExampleJob::kClientId, "BaseInstallFolder", RecordValue(kVmsBaseFolder));
  else
    ok = records.SetClientProperty(ExampleJob::kClientId, "IBMiUserProfile", RecordValue(m_sshd.User()));
  if (!ok) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "The job's client is not in the records");
  std::printf("records: the client logs in as %s%s\n", m_sshd.User().c_str(),
              m_bOpenVms ? ", an OpenVMS client with its base folder DKA0:[APP.CLIENT]" : "");
  return CWqError::Success();
}

void ExampleDeployment::Report() const {
  std::printf("\n-- the emulated %s machine after the job --\n", m_bOpenVms ? "OpenVMS" : "IBM i");
  const bool running = m_system->DaemonRunning();
  std::printf("%s and %s received; the daemon is %s\n",
              Counted(m_system->Commands().size(), "remote command", "remote commands").c_str(),
              Counted(m_system->CopiedPaths().size(), "copy", "copies").c_str(), running ? "running" : "not running");
  ExampleStages::AddRow("software install", running ? "installed" : "NOT running", m_system->CopiedPaths().size(),
                        !running);
  if (m_bOpenVms) {
    for (const std::string& file : static_cast<const SimVmsSystem&>(*m_system).Files())
      std::printf("  %s\n", file.c_str());
  } else {
    const SimIbmiSystem& ibmi = static_cast<const SimIbmiSystem&>(*m_system);
    std::printf("  KXLIB/PKGINFO %s\n", ibmi.HasObject("KXLIB/PKGINFO", "*FILE") ? "present" : "missing");
    for (const auto& parameter : ibmi.LastInstall())
      std::printf("  install %s(%s)\n", parameter.first.c_str(), parameter.second.c_str());
  }
  const std::string section = std::string("ProxyClients/") + ExampleJob::kClientName;
  std::printf("settings section %s:\n", section.c_str());
  KXPlatformInfo settings;
  for (const char* name : {"checkBinary", "updateBinary"}) {
    unsigned long value = 0;
    if (settings.getNumber(section, name, &value) != 0) std::printf("  %s=%lu\n", name, value);
  }
  for (const char* name : {"dBASEHOME", "sCLIENTNAME", "packageChecked", "OSVersion"}) {
    std::string value;
    if (settings.getString(section, name, &value) != 0) std::printf("  %s=%s\n", name, value.c_str());
  }
}

CWqError ExampleDeployment::Uninstall() const {
  std::printf("\n-- uninstallation --\n");
  ClClientManager manager(ExampleJob::kHost, 0, ExampleJob::kClientId);
  CWqError result = manager.uninstall(ExampleJob::kProxyClientId);
  if (result.IsError()) return result.Push(FX_HERE, "Uninstalling the client software");
  std::printf("uninstall: done; %s received in all\n",
              Counted(m_system->Commands().size(), "remote command", "remote commands").c_str());
  bool left = false;
  if (m_bOpenVms) {
    const std::vector<std::string> files = static_cast<const SimVmsSystem&>(*m_system).Files();
    std::printf("files left on the machine: %zu\n", files.size());
    for (const std::string& file : files) std::printf("  %s\n", file.c_str());
    left = !files.empty();
  } else {
    left = static_cast<const SimIbmiSystem&>(*m_system).HasObject("KXLIB/PKGINFO", "*FILE");
    std::printf("KXLIB/PKGINFO %s\n", left ? "still present" : "removed");
  }
  const std::string section = std::string("ProxyClients/") + ExampleJob::kClientName;
  std::string base;
  const bool kept = KXPlatformInfo().getString(section, "dBASEHOME", &base) != 0;
  std::printf("settings section %s: %s\n", section.c_str(), kept ? "STILL THERE" : "gone");
  if (left || kept)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "The uninstallation left %s",
                                 left ? "client software on the machine" : "the client's settings section");
  return CWqError::Success();
}
