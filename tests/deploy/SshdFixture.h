// The deployment tests' fixture for the real ssh hop: one sshd (SimSshd)
// for the whole suite, the product tree with the real tools in front of it,
// and the client records pointing at its throwaway user. Without root or
// the ssh packages each test is skipped (failed under CI=true).
#pragma once

#include <string>

#include "DeployTestUtil.h"
#include "SimSshd.h"

namespace deploytest {

class SshdTest : public deploytest::DeployTest {
 protected:
  static void SetUpTestSuite() {
    s_sshd = new SimSshd;
    s_unavailable = new std::string;
    CWqError result = s_sshd->Start(SimSshd::Options());
    if (result.IsError()) *s_unavailable = result.AsString();
  }
  static void TearDownTestSuite() {
    delete s_sshd;
    delete s_unavailable;
    s_sshd = nullptr;
    s_unavailable = nullptr;
  }

  void SetUp() override {
    DeployTest::SetUp();
    if (!s_sshd->Running()) {
      if (SimSshd::MustRun()) FAIL() << "sshd cannot run: " << *s_unavailable;
      GTEST_SKIP() << "sshd cannot run: " << *s_unavailable;
    }
    ASSERT_FALSE(tools.InstallThrough(*s_sshd).IsError());
    KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", tools.HomeDirectory().c_str(),
                               tools.HomeDirectory().size());
    machine().Reset();
    ASSERT_FALSE(s_sshd->SetClientPort(0).IsError());
    ASSERT_FALSE(s_sshd->SetHomeFolder(false).IsError());
    ASSERT_FALSE(s_sshd->SetPassword("secret").IsError());
    RecordRegistry& r = RecordRegistry::Instance();
    r.SetClientProperty(kVmsClient, "OpenVMSUserName", RecordValue(s_sshd->User()));
    r.SetClientProperty(kIbmiClient, "IBMiUserProfile", RecordValue(s_sshd->User()));
  }

  SimClientMachine& machine() { return s_sshd->Machine(); }
  std::string target(const std::string& host) const { return s_sshd->User() + "@" + host; }

  static inline SimSshd* s_sshd = nullptr;
  static inline std::string* s_unavailable = nullptr;
};


}  // namespace deploytest
