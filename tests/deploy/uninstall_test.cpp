// Removal of the client software through the real ssh hop, with the
// emulated OpenVMS and IBM i systems answering: what each system received,
// what is left on it, and whether the client's settings section went.
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>

#include "DeployFixtures.h"
#include "ProxyEventIds.h"
#include "SimIbmiSystem.h"
#include "SimVmsSystem.h"
#include "SshdFixture.h"

namespace {

using namespace deploytest;

const char kVmsSection[] = "ProxyClients/vms1";
const char kIbmiSection[] = "ProxyClients/ibmi1";
const unsigned long kProxyClient = 3;

std::string Value(const std::string& section, const std::string& name) {
  std::string value;
  KXPlatformInfo().getString(section, name, &value);
  return value;
}

class UninstallTest : public SshdTest {
 protected:
  void SetUp() override {
    SshdTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ClClientManager::ResetVersionCheckState();
    clock = std::make_shared<HookClock>();
    FXSetClock(clock);
    ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());
    // A pending DR cleanup: the section holds more than the check writes.
    for (const char* section : {kVmsSection, kIbmiSection}) {
      KXPlatformInfo settings;
      settings.deleteSection(section);
      settings.setString(section, "CleanUpFolder", "/kxdr/stage", 11);
      settings.setString(section, "CleanUpFolderJob", "77", 2);
    }
    for (SimEmulatedSystem* system : {static_cast<SimEmulatedSystem*>(&vms), static_cast<SimEmulatedSystem*>(&ibmi)})
      system->SetDaemonControl([](uint16_t) { return true; }, [this] { ++stops; });
    vms.AttachTo(machine());
  }
  void TearDown() override {
    if (s_sshd && s_sshd->Running()) machine().Reset();  // its handlers point at this test's systems
    FXSetClock(nullptr);
    ClClientManager::ResetVersionCheckState();
    SshdTest::TearDown();
  }
  // An installed OpenVMS client under `base`: the package's files on both
  // sides (so the check finds it current), a subtree and a file of its own.
  void InstallVms(const std::string& base) {
    const std::map<std::string, std::string> package = {{"KXOV_PKGCRC32.EXE", "crc tool"},
                                                        {"KXOV_PKGCRC32.COM", "$ run kxov_pkgcrc32"},
                                                        {"KXOV_STOP.COM", "$ stop kxovd"},
                                                        {"KXD.EXE", "daemon image"}};
    std::string bin = base;
    bin.insert(bin.size() - 1, ".BIN");
    for (const auto& file : package) {
      ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("OpenVMS") + "/" + file.first, file.second));
      vms.PutFile(bin + file.first, file.second);
    }
    std::string logs = base;
    logs.insert(logs.size() - 1, ".LOGS.OLD");
    vms.PutFile(logs + "KXD.LOG", "log");
    vms.PutFile(base + "KXD.CFG", "cfg");
  }
  void UseVmsBase(const std::string& base) {
    RecordRegistry::Instance().SetClientProperty(kVmsClient, "BaseInstallFolder", RecordValue(base));
  }
  bool SectionGone(const std::string& section) {
    std::string value;
    unsigned long number = 0;
    KXPlatformInfo settings;
    for (const char* name : {"CleanUpFolder", "CleanUpFolderJob", "dBASEHOME", "sCLIENTNAME"})
      if (settings.getString(section, name, &value)) return false;
    return !settings.getNumber(section, "checkBinary", &number);
  }
  bool SectionKept(const std::string& section) {
    return Value(section, "CleanUpFolder") == "/kxdr/stage" && Value(section, "CleanUpFolderJob") == "77";
  }
  std::unique_ptr<ClClientManager> Manager(int32_t clientId) { return Loaded(clientId, "127.0.0.1"); }

  std::shared_ptr<HookClock> clock;
  SimVmsSystem vms;
  SimIbmiSystem ibmi;
  std::atomic<int> stops{0};  // counted on the ssh sessions' threads
};

TEST_F(UninstallTest, WrongProxyClientIdChangesNothing) {
  InstallVms("DKA0:[APP.CLIENT]");
  const std::vector<std::string> before = vms.Files();
  for (int32_t client : {kVmsClient, kIbmiClient}) {
    SCOPED_TRACE(client);
    CWqError result = Manager(client)->uninstall(kProxyClient + 1);
    ASSERT_TRUE(FXErrorUtil::IsInt(result, 3)) << result.AsString();
    EXPECT_NE(result.AsString().find("is not register with this proxy client id:4"), std::string::npos);
  }
  EXPECT_TRUE(machine().Commands().empty());
  EXPECT_EQ(before, vms.Files());
  EXPECT_TRUE(SectionKept(kVmsSection));
  EXPECT_TRUE(SectionKept(kIbmiSection));
}

// The check finds the client current, the stop runs, then the tree and the
// base folder's directory file go; the parent folder stays.
TEST_F(UninstallTest, InstalledClientIsStoppedAndRemoved) {
  InstallVms("DKA0:[APP.CLIENT]");
  CWqError result = Manager(kVmsClient)->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ((std::vector<std::string>{"DIRECTORY DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE",
                                      "@DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.COM DKA0:[APP.CLIENT]",
                                      "@DKA0:[APP.CLIENT.bin]KXOV_STOP.COM DKA0:[APP.CLIENT]",
                                      "DELETE DKA0:[APP.CLIENT...]*.*;*,;,;,;,;,;",
                                      "IF (F$SEARCH(\"DKA0:[APP]CLIENT.DIR;1\") .NES. \"\") THEN DELETE "
                                      "DKA0:[APP]CLIENT.DIR;1"}),
            vms.Commands());
  EXPECT_EQ(1, stops);
  EXPECT_TRUE(vms.Files().empty());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP]"}), vms.Directories());
  EXPECT_TRUE(SectionGone(kVmsSection));
}

TEST_F(UninstallTest, ClientNotInstalledIsNotStopped) {
  // Leftovers of a broken installation: no CRC tool, so the check says the
  // client is not installed.
  vms.PutFile("DKA0:[APP.CLIENT.LOGS]KXD.LOG", "log");
  vms.PutFile("DKA0:[APP]OTHER.DAT", "not ours");
  CWqError result = Manager(kVmsClient)->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  const std::vector<std::string> commands = vms.Commands();
  ASSERT_EQ(3u, commands.size());
  EXPECT_EQ("DIRECTORY DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE", commands[0]);
  EXPECT_EQ(0, stops);
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP]OTHER.DAT"}), vms.Files());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP]"}), vms.Directories());
  EXPECT_TRUE(SectionGone(kVmsSection));
}

TEST_F(UninstallTest, StopThatFailsKeepsEverything) {
  InstallVms("DKA0:[APP.CLIENT]");
  vms.FailCommands("KXOV_STOP.COM");
  const std::vector<std::string> before = vms.Files();
  CWqError result = Manager(kVmsClient)->uninstall(kProxyClient);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_STOP_FAILED)) << result.AsString();
  EXPECT_EQ(3u, vms.Commands().size());
  EXPECT_EQ(before, vms.Files());
  EXPECT_TRUE(SectionKept(kVmsSection));
}

TEST_F(UninstallTest, BaseFolderTable) {
  const struct {
    const char* base;
    const char* list;
    const char* directoryFile;
    std::vector<std::string> directories;
  } cases[] = {
      {"DKA0:[CLIENT]", "DKA0:[CLIENT...]*.*;*,;,;,;,;,;", "DKA0:[000000]CLIENT.DIR;1", {"DKA0:[APP]"}},
      {"DKA0:[APP.TOOLS.CLIENT]", "DKA0:[APP.TOOLS.CLIENT...]*.*;*,;,;,;,;,;", "DKA0:[APP.TOOLS]CLIENT.DIR;1",
       {"DKA0:[APP.TOOLS]", "DKA0:[APP]"}},
  };
  vms.CreateDirectory("DKA0:[APP]");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base);
    KXPlatformInfo().deleteSection(kVmsSection);
    UseVmsBase(c.base);
    InstallVms(c.base);
    const size_t before = vms.Commands().size();
    CWqError result = Manager(kVmsClient)->uninstall(kProxyClient);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    const std::vector<std::string> commands = vms.Commands();
    ASSERT_EQ(before + 5, commands.size());
    EXPECT_EQ(std::string("DELETE ") + c.list, commands[before + 3]);
    EXPECT_EQ(std::string("IF (F$SEARCH(\"") + c.directoryFile + "\") .NES. \"\") THEN DELETE " + c.directoryFile,
              commands[before + 4]);
    EXPECT_TRUE(vms.Files().empty());
    EXPECT_EQ(c.directories, vms.Directories());
    EXPECT_TRUE(SectionGone(kVmsSection));
  }
}

// Each repetition of the file list removes one more level of emptied
// directories: a tree deeper than the list reaches keeps the base folder's
// directory file, whose deletion then reports -RMS-E-.
TEST_F(UninstallTest, TreeTooDeepForTheListFails) {
  vms.PutFile("DKA0:[APP.CLIENT.A.B.C.D.E.F.G]DEEP.DAT", "x");
  vms.PutFile("DKA0:[APP.CLIENT]KXD.CFG", "x");
  CWqError result = Manager(kVmsClient)->uninstall(kProxyClient);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_PROCESS_FAILED)) << result.AsString();
  EXPECT_NE(result.AsString().find("Can't execute on the remote client (failure found)"), std::string::npos);
  EXPECT_EQ(3u, vms.Commands().size());
  EXPECT_TRUE(vms.Files().empty());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP.CLIENT.A.B]", "DKA0:[APP.CLIENT.A]", "DKA0:[APP.CLIENT]",
                                      "DKA0:[APP]"}),
            vms.Directories());
  EXPECT_TRUE(SectionKept(kVmsSection));
}

TEST_F(UninstallTest, TopDirectoryIsRefused) {
  vms.PutFile("DKA0:[APP]KEEP.DAT", "x");
  for (const std::string base : {"DKA0:[000000]", "DKA0:[000000.000000]"}) {
    SCOPED_TRACE(base);
    UseVmsBase(base);
    CWqError result = Manager(kVmsClient)->uninstall(kProxyClient);
    ASSERT_TRUE(FXErrorUtil::IsInt(result, 3)) << result.AsString();
    EXPECT_NE(result.AsString().find("Client 'vms1' has invalid base directory '" + base + "'"), std::string::npos)
        << result.AsString();
  }
  EXPECT_TRUE(machine().Commands().empty());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP]KEEP.DAT"}), vms.Files());
  EXPECT_TRUE(SectionKept(kVmsSection));
}

// A base folder that names a parent or a relative folder never reaches the
// DELETE: the client data does not load, nothing runs, the section stays.
TEST_F(UninstallTest, ParentAndRelativeBasesAreRefused) {
  vms.PutFile("DKA0:[APP]KEEP.DAT", "x");
  for (const std::string base : {"DKA0:[-]", "DKA0:[-.-]", "DKA0:[A.-]", "DKA0:[.A]", "SYS$LOGIN:[-]", "/DKA0/-/-"}) {
    SCOPED_TRACE(base);
    UseVmsBase(base);
    ClClientManager manager("127.0.0.1", 1, kVmsClient);
    CWqError result = manager.uninstall(kProxyClient);
    ASSERT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
    EXPECT_NE(result.AsString().find(base), std::string::npos) << result.AsString();
  }
  EXPECT_TRUE(machine().Commands().empty());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[APP]KEEP.DAT"}), vms.Files());
  EXPECT_TRUE(SectionKept(kVmsSection));
}

TEST_F(UninstallTest, IbmiRunsOneCommand) {
  ASSERT_FALSE(s_sshd->SetHomeFolder(false).IsError());
  machine().Reset();
  ibmi.AttachTo(machine());
  ibmi.InstallClient();
  ibmi.AddObject("KXLIB/KXD", "*PGM");
  ibmi.AddObject("QSYS/KXSBS", "*SBSD");
  CWqError result = Manager(kIbmiClient)->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ((std::vector<std::string>{"system \"KXLIB/TELDRON UNINSTALL\"  "}), ibmi.Commands());
  EXPECT_EQ((std::vector<std::string>{"QSYS/KXSBS *SBSD"}), ibmi.Objects());
  EXPECT_EQ(1, stops);
  EXPECT_TRUE(SectionGone(kIbmiSection));

  // Whatever it prints: a second run finds no such command, and still
  // forgets the client.
  KXPlatformInfo().setString(kIbmiSection, "CleanUpFolder", "/kxdr/stage", 11);
  result = Manager(kIbmiClient)->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(2u, ibmi.Commands().size());
  EXPECT_TRUE(SectionGone(kIbmiSection));
}

TEST_F(UninstallTest, FailedHopKeepsTheSection) {
  InstallVms("DKA0:[APP.CLIENT]");
  const std::vector<std::string> before = vms.Files();
  ASSERT_FALSE(s_sshd->SetPassword("changed").IsError());
  for (int32_t client : {kVmsClient, kIbmiClient}) {
    SCOPED_TRACE(client);
    CWqError result = Manager(client)->uninstall(kProxyClient);
    ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
  }
  EXPECT_TRUE(machine().Commands().empty());
  EXPECT_EQ(before, vms.Files());
  EXPECT_EQ(0, stops);
  EXPECT_TRUE(SectionKept(kVmsSection));
  EXPECT_TRUE(SectionKept(kIbmiSection));
}

}  // namespace
