// Installation through the real ssh hop: the emulated IBM i and OpenVMS
// systems stand behind sshd, the copies go through scp, and the daemon that
// the client software starts is a simulated daemon in this process. Pauses
// run on the virtual clock.
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyClientConnection.h"
#include "DeployFixtures.h"
#include "FXErrorUtil.h"
#include "FXThread.h"
#include "ProxyEventIds.h"
#include "SimIbmiSystem.h"
#include "SimServiceDaemon.h"
#include "SimVmsSystem.h"
#include "SshdFixture.h"

namespace {

using namespace deploytest;

const char kVmsSection[] = "ProxyClients/vms1";
const char kIbmiSection[] = "ProxyClients/ibmi1";

bool HasNumber(const std::string& section, const std::string& name, unsigned long* value = nullptr) {
  unsigned long number = 0;
  const bool found = KXPlatformInfo().getNumber(section, name, &number) != 0;
  if (value) *value = number;
  return found;
}

class SshdInstallTest : public SshdTest {
 protected:
  void SetUp() override {
    SshdTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    surroundings.reset(new CheckSurroundings);
    clock = surroundings->clock;
    sender = surroundings->sender;
    daemon.reset(new SimServiceDaemon);
    daemon->SetVersionReply("5:20:");
    ASSERT_FALSE(daemon->Reserve().IsError());
    RecordRegistry::Instance().SetClientValue(kVmsClient, "KXDPort", RecordValue(daemon->GetPort()));
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon->GetPort()));
  }
  void TearDown() override {
    if (s_sshd && s_sshd->Running()) machine().Reset();  // its handlers point at this test's systems
    surroundings.reset();
    SshdTest::TearDown();
  }

  // The client software starts the simulated daemon on its own port.
  void Attach(SimEmulatedSystem& system, bool daemonStarts = true) {
    system.AttachTo(machine());
    system.SetDaemonControl(
        [this, daemonStarts](uint16_t port) {
          ++starts;
          return daemonStarts && port == daemon->GetPort() && !daemon->Start().IsError();
        },
        [this] { ++stops; });
  }
  CWqError Connect(int32_t clientId) {
    ClProxyClientConnection link;
    return link.connectToClient("127.0.0.1", daemon->GetPort(), 0, 0, clientId, false);
  }
  void Package(const std::string& platform, const std::map<std::string, std::string>& files) {
    for (const auto& file : files)
      ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder(platform) + "/" + file.first, file.second));
  }
  uint64_t Now() const { return static_cast<uint64_t>(FXTime()); }
  bool Sent(const std::string& text) const {
    for (const std::string& command : s_sshd->Machine().Commands())
      if (command.find(text) != std::string::npos) return true;
    return false;
  }

  std::unique_ptr<CheckSurroundings> surroundings;
  std::shared_ptr<HookClock> clock;
  boost::shared_ptr<KeepingSender> sender;
  std::unique_ptr<SimServiceDaemon> daemon;
  // Written on the machine's session threads; the ssh hop between is invisible to the race checker.
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
};

class IbmiSshdTest : public SshdInstallTest {
 protected:
  void SetUp() override {
    SshdInstallTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ibmi.AddObject("QSYS/KXSBS", "*SBSD");
    ibmi.AddObject("KXLIB/KXJOBQ", "*JOBQ");
    Package("iSeries", {{"pkginfo.dat", "5:20:\n"}, {"KXINSTPKG.savf", "saved KXSTAGE library"}});
  }
  SimIbmiSystem ibmi;
};

// A client without the software: the probe finds no KXLIB/PKGINFO, the
// installation runs step by step as the client's shell received it, the
// daemon it starts is reached, and the connect goes on to it.
TEST_F(IbmiSshdTest, FirstInstallationThroughSsh) {
  Attach(ibmi);
  const uint64_t due = Now();
  ScopedCapture capture(5);
  CWqError result = Connect(kIbmiClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_FALSE(capture.AnyContains("secret"));  // no log line shows the password

  const std::vector<std::string> expected = IbmiInstallCommands(s_sshd->User(), daemon->GetPort());
  EXPECT_EQ(expected, ibmi.Commands());
  EXPECT_EQ(std::vector<std::string>{"/kxdata/KXINSTPKG.savf"}, ibmi.CopiedPaths());
  EXPECT_TRUE(ibmi.HasObject("KXLIB/PKGINFO", "*FILE"));
  EXPECT_FALSE(ibmi.HasFile("/kxdata/KXINSTPKG.savf"));
  EXPECT_FALSE(Sent("secret"));

  EXPECT_EQ((std::vector<uint32_t>{EV_CLIENT_NOT_INSTALLED, EV_CLIENT_INSTALL_STARTED, EV_CLIENT_INSTALL_SUCCEEDED}),
            sender->Ids());
  unsigned long next = 0;
  ASSERT_TRUE(HasNumber(kIbmiSection, "checkBinary", &next));
  EXPECT_EQ(due + 5 * 3600, next);
  EXPECT_TRUE(daemon->WaitForAccepted(2, 10));  // the installation's wait, then the connect itself
  EXPECT_TRUE(clock->Sleeps().empty());
}

// A daemon that never comes up costs five attempts with five pauses of 30 s,
// and nothing is written.
TEST_F(IbmiSshdTest, DaemonThatNeverStarts) {
  Attach(ibmi, false);
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_INSTALL_FAILED)) << result.AsString();
  EXPECT_NE(result.AsString().find("Can't connect to the remote client using host name '127.0.0.1' and port '" +
                                   std::to_string(daemon->GetPort()) + "'."),
            std::string::npos);
  EXPECT_EQ(1, starts.load());
  const std::vector<int64_t> sleeps = clock->Sleeps();
  EXPECT_EQ(5, std::count(sleeps.begin(), sleeps.end(), 30000));
  EXPECT_FALSE(HasNumber(kIbmiSection, "checkBinary"));
}

class VmsSshdTest : public SshdInstallTest {
 protected:
  void SetUp() override {
    SshdInstallTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());
    vms.CreateDirectory("DKA0:[APP]");
    Package("OpenVMS", {{"KXOV_PKGCRC32.EXE", "crc tool"},
                        {"KXOV_PKGCRC32.COM", "$ run kxov_pkgcrc32"},
                        {"KXOV_START.COM", "$ run kxovd"},
                        {"KXOV_STOP.COM", "$ stop kxovd"},
                        {"kxovd.exe", "daemon image"}});
    Attach(vms);
  }
  SimVmsSystem vms;
};

// Not installed: the bin folder is made and every package file copied; the
// refused connect starts the daemon over ssh. The next connect's check then
// finds the client's list equal to the local one and writes the next check.
// A package file changed later is all that an update copies, after a stop.
TEST_F(VmsSshdTest, InstallStartThenCurrentThenUpdate) {
  CWqError result = Connect(kVmsClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP.CLIENT.BIN]KXOVD.EXE", "DKA0:[APP.CLIENT.BIN]KXOV_PKGCRC32.COM",
                                      "DKA0:[APP.CLIENT.BIN]KXOV_PKGCRC32.EXE", "DKA0:[APP.CLIENT.BIN]KXOV_START.COM",
                                      "DKA0:[APP.CLIENT.BIN]KXOV_STOP.COM"}),
            vms.Files());
  EXPECT_EQ(1, starts.load());
  EXPECT_TRUE(Sent("@DKA0:[APP.CLIENT.bin]KXOV_START.COM DKA0:[APP.CLIENT] " + std::to_string(daemon->GetPort())));
  EXPECT_EQ(std::vector<uint32_t>{EV_CLIENT_NOT_INSTALLED}, sender->Ids());
  EXPECT_FALSE(HasNumber(kVmsSection, "checkBinary"));
  EXPECT_FALSE(Sent("secret"));

  const uint64_t due = Now();
  result = Connect(kVmsClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  unsigned long next = 0;
  ASSERT_TRUE(HasNumber(kVmsSection, "checkBinary", &next));
  EXPECT_EQ(due + 5 * 3600, next);
  EXPECT_EQ(1u, sender->Ids().size());

  Package("OpenVMS", {{"KXOV_START.COM", "$ run kxovd /new"}});
  KXPlatformInfo().setNumber(kVmsSection, "updateBinary", 1);
  const size_t copiesBefore = vms.CopiedPaths().size();
  result = Connect(kVmsClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(1, stops.load());
  const std::vector<std::string> copies = vms.CopiedPaths();
  EXPECT_EQ(std::vector<std::string>(copies.begin() + copiesBefore, copies.end()),
            std::vector<std::string>{"/DKA0/APP/CLIENT/bin/KXOV_START.COM"});
  EXPECT_EQ((std::vector<uint32_t>{EV_CLIENT_NOT_INSTALLED, EV_CLIENT_OUT_OF_DATE}), sender->Ids());
}

// A wrong password fails every hop: the connect fails with 1627 and the
// next check stays due.
TEST_F(VmsSshdTest, WrongPasswordFailsTheConnect) {
  ASSERT_FALSE(s_sshd->SetPassword("another").IsError());
  CWqError result = Connect(kVmsClient);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1627)) << result.AsString();
  EXPECT_FALSE(HasNumber(kVmsSection, "checkBinary"));
  EXPECT_TRUE(vms.Commands().empty());
  EXPECT_EQ(0, starts.load());
}

}  // namespace
