// Removal of the client software over the ssh stand-ins, with the emulated
// OpenVMS and IBM i machines answering: what each machine received, what is
// left on it, and whether the client's settings section went.
#include <memory>

#include "DeployFixtures.h"
#include "DeployTestUtil.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"
#include "SimIbmiMachine.h"
#include "SimVmsMachine.h"

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

class UninstallTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    ClClientManager::ResetVersionCheckState();
    clock = std::make_shared<HookClock>();
    FXSetClock(clock);
    vms.reset(new SimVmsMachine(tools.Root() + "/vms"));
    ibmi.reset(new SimIbmiMachine(tools.Root() + "/ibmi"));
    tools.SetMachine("vms", tools.Root() + "/vms");
    // A pending DR cleanup and a check time: the section holds more than
    // the check writes.
    for (const char* section : {kVmsSection, kIbmiSection}) {
      KXPlatformInfo settings;
      settings.deleteSection(section);
      settings.setString(section, "CleanUpFolder", "/kxdr/stage", 11);
      settings.setString(section, "CleanUpFolderJob", "77", 2);
    }
  }
  void TearDown() override {
    FXSetClock(nullptr);
    ClClientManager::ResetVersionCheckState();
    DeployTest::TearDown();
  }
  // An installed OpenVMS client under `base`: the package's files on both
  // sides, the CRC list its procedure gives, and its stop procedure.
  void InstallVms(const std::string& base, bool stops = true) {
    const std::string folder = tools.PackageFolder("OpenVMS");
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_PKGCRC32.EXE", "tool"));
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_STOP.COM", "stop"));
    std::string bin = base;
    bin.insert(bin.size() - 1, ".BIN");
    ASSERT_TRUE(vms->WriteFile(bin + "KXOV_PKGCRC32.EXE", "tool"));
    ASSERT_TRUE(vms->WriteFile(bin + "KXOV_PKGCRC32.COM", "$ EXIT\n"));
    if (stops) {
      ASSERT_TRUE(vms->WriteFile(bin + "KXOV_STOP.COM", "$ WRITE SYS$OUTPUT \"KXD stopped\"\n"));
    }
    ASSERT_TRUE(vms->WriteFile(bin + "KXD.EXE", "daemon"));
    std::string logs = base;
    logs.insert(logs.size() - 1, ".LOGS.OLD");
    ASSERT_TRUE(vms->WriteFile(logs + "KXD.LOG", "one"));
    ASSERT_TRUE(vms->WriteFile(logs + "KXD.LOG", "two"));
    ASSERT_TRUE(vms->WriteFile(base + "KXD.CFG", "cfg"));
    KxProcess::Options options;
    options.workingFolder = folder;
    std::string list, err;
    ASSERT_EQ(0, KxProcess::run({tools.BaseHome() + "/pkgcrc32", "KXOV_PKGCRC32.EXE", "KXOV_STOP.COM"}, options,
                                &list, &err));
    tools.AddCommandReply("KXOV_PKGCRC32.COM", list);
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

  std::shared_ptr<HookClock> clock;
  std::unique_ptr<SimVmsMachine> vms;
  std::unique_ptr<SimIbmiMachine> ibmi;
};

TEST_F(UninstallTest, WrongProxyClientIdChangesNothing) {
  InstallVms("DKA0:[APP.CLIENT]");
  const std::vector<std::string> before = vms->List();
  for (int32_t client : {kVmsClient, kIbmiClient}) {
    SCOPED_TRACE(client);
    std::unique_ptr<ClClientManager> manager = Loaded(client);
    CWqError result = manager->uninstall(kProxyClient + 1);
    ASSERT_TRUE(FXErrorUtil::IsInt(result, 3)) << result.AsString();
    EXPECT_NE(result.AsString().find("is not register with this proxy client id:4"), std::string::npos);
  }
  EXPECT_TRUE(tools.SshCalls().empty());
  EXPECT_EQ(before, vms->List());
  EXPECT_EQ("/kxdr/stage", Value(kVmsSection, "CleanUpFolder"));
  EXPECT_EQ("77", Value(kIbmiSection, "CleanUpFolderJob"));
}

TEST_F(UninstallTest, InstalledClientIsStoppedAndRemoved) {
  InstallVms("DKA0:[APP.CLIENT]");
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
  CWqError result = manager->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  const std::vector<std::string> commands = tools.Commands();
  ASSERT_EQ(5u, commands.size());
  EXPECT_EQ("@DKA0:[APP.CLIENT.bin]KXOV_STOP.COM DKA0:[APP.CLIENT]", commands[2]);
  EXPECT_EQ((std::vector<std::string>{"DKA0:[000000]APP.DIR;1"}), vms->List());
  EXPECT_TRUE(SectionGone(kVmsSection));
}

TEST_F(UninstallTest, ClientNotInstalledIsNotStopped) {
  // Leftovers of a broken installation: no CRC tool, so the check says the
  // client is not installed.
  ASSERT_TRUE(vms->WriteFile("DKA0:[APP.CLIENT.LOGS]KXD.LOG", "log"));
  ASSERT_TRUE(vms->WriteFile("DKA0:[APP]OTHER.DAT", "not ours"));
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
  CWqError result = manager->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  const std::vector<std::string> commands = tools.Commands();
  ASSERT_EQ(3u, commands.size());
  EXPECT_EQ("DIRECTORY DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE", commands[0]);
  EXPECT_EQ("DELETE DKA0:[APP.CLIENT...]*.*;*,;,;,;,;,;", commands[1]);
  EXPECT_EQ("IF (F$SEARCH(\"DKA0:[APP]CLIENT.DIR;1\") .NES. \"\") THEN DELETE DKA0:[APP]CLIENT.DIR;1", commands[2]);
  EXPECT_EQ((std::vector<std::string>{"DKA0:[000000]APP.DIR;1", "DKA0:[APP]OTHER.DAT;1"}), vms->List());
  EXPECT_TRUE(SectionGone(kVmsSection));
}

TEST_F(UninstallTest, StopThatFailsKeepsEverything) {
  InstallVms("DKA0:[APP.CLIENT]", false);
  const std::vector<std::string> before = vms->List();
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
  CWqError result = manager->uninstall(kProxyClient);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_STOP_FAILED)) << result.AsString();
  EXPECT_EQ(3u, tools.Commands().size());
  EXPECT_EQ(before, vms->List());
  EXPECT_EQ("/kxdr/stage", Value(kVmsSection, "CleanUpFolder"));
  EXPECT_EQ("77", Value(kVmsSection, "CleanUpFolderJob"));
}

TEST_F(UninstallTest, BaseFolderTable) {
  const struct {
    const char* base;
    const char* list;
    const char* directoryFile;
    std::vector<std::string> left;
  } cases[] = {
      {"DKA0:[CLIENT]", "DKA0:[CLIENT...]*.*;*,;,;,;,;,;", "DKA0:[000000]CLIENT.DIR;1", {"DKA0:[000000]KEEP.DAT;1"}},
      {"DKA0:[APP.TOOLS.CLIENT]", "DKA0:[APP.TOOLS.CLIENT...]*.*;*,;,;,;,;,;", "DKA0:[APP.TOOLS]CLIENT.DIR;1",
       {"DKA0:[000000]APP.DIR;1", "DKA0:[000000]KEEP.DAT;1", "DKA0:[APP]TOOLS.DIR;1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base);
    ASSERT_FALSE(tools.Install().IsError());
    tools.SetPassword("secret");
    vms.reset(new SimVmsMachine(tools.Root() + "/vms"));
    tools.SetMachine("vms", tools.Root() + "/vms");
    KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", tools.HomeDirectory().c_str(),
                               tools.HomeDirectory().size());
    KXPlatformInfo().deleteSection(kVmsSection);
    UseVmsBase(c.base);
    InstallVms(c.base);
    ASSERT_TRUE(vms->WriteFile("DKA0:[000000]KEEP.DAT", "x"));
    std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
    CWqError result = manager->uninstall(kProxyClient);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    const std::vector<std::string> commands = tools.Commands();
    ASSERT_EQ(5u, commands.size());
    EXPECT_EQ(std::string("DELETE ") + c.list, commands[3]);
    EXPECT_EQ(std::string("IF (F$SEARCH(\"") + c.directoryFile + "\") .NES. \"\") THEN DELETE " + c.directoryFile,
              commands[4]);
    EXPECT_EQ(c.left, vms->List());
    EXPECT_TRUE(SectionGone(kVmsSection));
  }
}

// Each repetition of the file list removes one more level of emptied
// directories: a tree deeper than the list reaches keeps the base folder's
// directory file, whose deletion then reports -RMS-E-.
TEST_F(UninstallTest, TreeTooDeepForTheListFails) {
  ASSERT_TRUE(vms->WriteFile("DKA0:[APP.CLIENT.A.B.C.D.E.F.G]DEEP.DAT", "x"));
  ASSERT_TRUE(vms->WriteFile("DKA0:[APP.CLIENT]KXD.CFG", "x"));
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
  CWqError result = manager->uninstall(kProxyClient);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_PROCESS_FAILED)) << result.AsString();
  EXPECT_NE(result.AsString().find("Can't execute on the remote client (failure found)"), std::string::npos);
  EXPECT_EQ(3u, tools.Commands().size());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[000000]APP.DIR;1", "DKA0:[APP.CLIENT.A]B.DIR;1",
                                      "DKA0:[APP.CLIENT]A.DIR;1", "DKA0:[APP]CLIENT.DIR;1"}),
            vms->List());
  EXPECT_EQ("/kxdr/stage", Value(kVmsSection, "CleanUpFolder"));
}

TEST_F(UninstallTest, TopDirectoryIsRefused) {
  ASSERT_TRUE(vms->WriteFile("DKA0:[000000]KEEP.DAT", "x"));
  for (const std::string base : {"DKA0:[000000]", "DKA0:[000000.000000]"}) {
    SCOPED_TRACE(base);
    UseVmsBase(base);
    std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
    CWqError result = manager->uninstall(kProxyClient);
    ASSERT_TRUE(FXErrorUtil::IsInt(result, 3)) << result.AsString();
    EXPECT_NE(result.AsString().find("Client 'vms1' has invalid base directory '" + base + "'"), std::string::npos)
        << result.AsString();
  }
  EXPECT_TRUE(tools.SshCalls().empty());
  EXPECT_EQ((std::vector<std::string>{"DKA0:[000000]KEEP.DAT;1"}), vms->List());
  EXPECT_EQ("/kxdr/stage", Value(kVmsSection, "CleanUpFolder"));
}

TEST_F(UninstallTest, IbmiRunsOneCommand) {
  tools.SetMachine("ibmi", tools.Root() + "/ibmi");
  ASSERT_TRUE(ibmi->InstallClient());
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient);
  CWqError result = manager->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ((std::vector<std::string>{"system \"KXLIB/TELDRON UNINSTALL\" "}), tools.Commands());
  EXPECT_TRUE(ibmi->List().empty());
  EXPECT_FALSE(ibmi->IsDaemonActive());
  EXPECT_TRUE(SectionGone(kIbmiSection));

  // Whatever it prints: a second run finds no command, and still forgets
  // the client.
  KXPlatformInfo().setString(kIbmiSection, "CleanUpFolder", "/kxdr/stage", 11);
  result = manager->uninstall(kProxyClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(2u, tools.Commands().size());
  EXPECT_TRUE(SectionGone(kIbmiSection));
}

TEST_F(UninstallTest, FailedHopKeepsTheSection) {
  InstallVms("DKA0:[APP.CLIENT]");
  tools.SetMachine("ibmi", tools.Root() + "/ibmi");
  ASSERT_TRUE(ibmi->InstallClient());
  tools.SetMachine("vms", tools.Root() + "/vms");
  const std::vector<std::string> before = vms->List();
  tools.SetPassword("changed");
  for (int32_t client : {kVmsClient, kIbmiClient}) {
    SCOPED_TRACE(client);
    const size_t calls = tools.SshCalls().size();
    std::unique_ptr<ClClientManager> manager = Loaded(client);
    CWqError result = manager->uninstall(kProxyClient);
    ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
    // The first command that could not reach the client is the last.
    EXPECT_EQ(calls + 1, tools.SshCalls().size());
  }
  EXPECT_EQ(before, vms->List());
  EXPECT_TRUE(ibmi->IsDaemonActive());
  for (const char* section : {kVmsSection, kIbmiSection}) {
    EXPECT_EQ("/kxdr/stage", Value(section, "CleanUpFolder"));
    EXPECT_EQ("77", Value(section, "CleanUpFolderJob"));
  }
}

}  // namespace
