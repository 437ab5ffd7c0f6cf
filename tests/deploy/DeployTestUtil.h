// Shared pieces of the deployment tests: a settings store of the test's own,
// log capture, the product tree with the ssh stand-ins (SimSshTools), and
// client records of an OpenVMS client (vms1) and an IBM i client (ibmi1).
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPassword.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimSshTools.h"

namespace deploytest {

const int32_t kVmsClient = 7;
const int32_t kIbmiClient = 8;

class ScopedCapture {
 public:
  explicit ScopedCapture(int level = 5) : m_saved(g_ptrLogWriter) {
    boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
    writer->SetQuiet(true);
    writer->SetCapture(true);
    writer->SetLevel(level);
    g_ptrLogWriter = writer;
  }
  ~ScopedCapture() { g_ptrLogWriter = m_saved; }
  bool Has(const std::string& fragment) const { return g_ptrLogWriter->HasCapturedLine(fragment); }
  size_t Count(const std::string& fragment) const {
    size_t count = 0;
    for (const std::string& line : g_ptrLogWriter->CapturedLines())
      if (line.find(fragment) != std::string::npos) ++count;
    return count;
  }
  bool AnyContains(const std::string& fragment) const { return Count(fragment) != 0; }

 private:
  boost::shared_ptr<FXLogWriter> m_saved;
};

class DeployTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordRegistry::Instance().Reset();
    ASSERT_FALSE(tools.Install().IsError());
    KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", tools.HomeDirectory().c_str(),
                               tools.HomeDirectory().size());
    AddVms("DKA0:[APP.CLIENT]", "SYSTEM", "secret");
    AddIbmi("QSECOFR", "secret");
    tools.SetPassword("secret");
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }

  void AddVms(const std::string& folder, const std::string& user, const std::string& password) {
    RecordRegistry& r = RecordRegistry::Instance();
    r.AddClient(kVmsClient, "vms1", 49);
    r.SetClientValue(kVmsClient, "NetworkHostname", RecordValue("vms1.example"));
    r.SetClientValue(kVmsClient, "KXDPort", RecordValue(9402));
    r.SetClientProperty(kVmsClient, "OpenVMSUserName", RecordValue(user));
    r.SetClientProperty(kVmsClient, "OpenVMSUserPassword", RecordValue(KXPassword::encrypt(password)));
    r.SetClientProperty(kVmsClient, "BaseInstallFolder", RecordValue(folder));
    r.SetClientProperty(kVmsClient, "OpenVMSProxyClientId", RecordValue(3));
    r.SetClientProperty(kVmsClient, "IsUpdateInstallBlocked", RecordValue(false));
  }
  void AddIbmi(const std::string& user, const std::string& password) {
    RecordRegistry& r = RecordRegistry::Instance();
    r.AddClient(kIbmiClient, "ibmi1", 118);
    r.SetClientValue(kIbmiClient, "NetworkHostname", RecordValue("ibmi1.example"));
    r.SetClientValue(kIbmiClient, "KXDPort", RecordValue(9401));
    r.SetClientProperty(kIbmiClient, "IBMiUserProfile", RecordValue(user));
    r.SetClientProperty(kIbmiClient, "IBMiUserPassword", RecordValue(KXPassword::encrypt(password)));
    r.SetClientProperty(kIbmiClient, "IBMiDataFolder", RecordValue("/kxdata"));
    r.SetClientProperty(kIbmiClient, "SubsystemDesc", RecordValue("KXSBS"));
    r.SetClientProperty(kIbmiClient, "CreateJobQueue", RecordValue(false));
    r.SetClientProperty(kIbmiClient, "JobQueue", RecordValue("KXLIB/KXJOBQ"));
    r.SetClientProperty(kIbmiClient, "JobPriority", RecordValue(5));
    r.SetClientProperty(kIbmiClient, "RunPriority", RecordValue(20));
    r.SetClientProperty(kIbmiClient, "OpenVMSProxyClientId", RecordValue(3));
    r.SetClientProperty(kIbmiClient, "IsUpdateInstallBlocked", RecordValue(false));
  }
  // A manager of the client whose data loaded.
  std::unique_ptr<ClClientManager> Loaded(int32_t clientId, const std::string& host = "") {
    std::unique_ptr<ClClientManager> manager(new ClClientManager(host, 1, clientId));
    CWqError result = manager->initData();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    return manager;
  }

  ScopedSettingsRoot settings;
  SimSshTools tools;
};

// The processes whose command line or environment holds `text` (a
// marker of one test's command, or its scratch folder, which the tools put
// on PATH for everything they start).
inline std::vector<std::string> ProcessesWith(const std::string& text) {
  std::vector<std::string> found;
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    for (const char* part : {"/cmdline", "/environ"}) {
      std::ifstream in(std::string("/proc/") + entry->d_name + part, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      if (content.str().find(text) == std::string::npos) continue;
      found.push_back(entry->d_name);
      break;
    }
  }
  ::closedir(proc);
  return found;
}

inline std::string ErrorText(const CWqError& error) { return error.AsString(); }

}  // namespace deploytest
