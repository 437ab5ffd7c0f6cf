// OpenVMS installation, start and stop through the ssh stand-ins, and the
// software check entry that the connector runs, with its events.
#include <algorithm>
#include <memory>
#include <sstream>

#include "ClProxyClientConnection.h"
#include "DeployFixtures.h"
#include "DeployTestUtil.h"
#include "FXThread.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"
#include "KXJobQuery.h"
#include "SimServiceDaemon.h"

namespace {

using namespace deploytest;

const char kVmsSection[] = "ProxyClients/vms1";
const char kIbmiSection[] = "ProxyClients/ibmi1";

class InstallTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    surroundings.reset(new CheckSurroundings);
    clock = surroundings->clock;
    sender = surroundings->sender;
    folder = tools.PackageFolder("OpenVMS");
  }
  void TearDown() override {
    surroundings.reset();
    DeployTest::TearDown();
  }
  void Local(const std::string& name, const std::string& content) {
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/" + name, content));
  }
  std::vector<std::string> Copied() {
    std::vector<std::string> destinations;
    for (const std::vector<std::string>& call : tools.CopyCalls()) destinations.push_back(call.back());
    return destinations;
  }

  std::unique_ptr<CheckSurroundings> surroundings;
  std::shared_ptr<HookClock> clock;
  boost::shared_ptr<KeepingSender> sender;
  std::string folder;
};

TEST_F(InstallTest, FreshInstallation) {
  Local("B.COM", "b");
  Local("a.exe", "a");  // read under its own name
  Local("PKGCRC.INFO", "info");
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
  CWqError result = manager->installClinet(true);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(std::vector<std::string>{"CREATE/DIRECTORY DKA0:[APP.CLIENT.bin]"}, tools.Commands());
  EXPECT_EQ((std::vector<std::string>{"SYSTEM@127.0.0.1:/DKA0/APP/CLIENT/bin/A.EXE",
                                      "SYSTEM@127.0.0.1:/DKA0/APP/CLIENT/bin/B.COM"}),
            Copied());
  EXPECT_EQ("a", tools.CopiedFile("/DKA0/APP/CLIENT/bin/A.EXE"));
  for (auto& entry : manager->getBinaries()) EXPECT_EQ(ClClientManager::FILE_GOOD, entry.second.second);
}

TEST_F(InstallTest, UpdateStopsThenCopiesAndRemovesInKeyOrder) {
  Local("A.EXE", "a");
  Local("B.COM", "b-new");
  Local("KXOV_PKGCRC32.EXE", "tool");
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
  // The client's list as the check leaves it: this package's CRCs, but
  // another for B.COM, and OLD.EXE that the package lacks.
  KxProcess::Options options;
  options.workingFolder = folder;
  std::string out, err;
  ASSERT_EQ(0, KxProcess::run({tools.BaseHome() + "/pkgcrc32", "A.EXE", "KXOV_PKGCRC32.EXE"}, options, &out, &err));
  ClClientManager::BinaryMap client;
  std::istringstream lines(out);
  std::string crc, name;
  while (lines >> crc >> name) client[name] = std::make_pair(crc, ClClientManager::FILE_ONLY_ON_CLIENT);
  client["B.COM"] = std::make_pair(std::string("1"), ClClientManager::FILE_ONLY_ON_CLIENT);
  client["OLD.EXE"] = std::make_pair(std::string("9"), ClClientManager::FILE_ONLY_ON_CLIENT);
  manager->getBinaries() = client;
  tools.AddCommandReply("KXOV_STOP.COM", "daemon stopped\n");
  CWqError result = manager->installClinet(false);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ((std::vector<std::string>{"@DKA0:[APP.CLIENT.bin]KXOV_STOP.COM DKA0:[APP.CLIENT]",
                                      "DELETE DKA0:[APP.CLIENT.bin]OLD.EXE;*"}),
            tools.Commands());
  EXPECT_EQ(std::vector<std::string>{"SYSTEM@127.0.0.1:/DKA0/APP/CLIENT/bin/B.COM"}, Copied());
}

TEST_F(InstallTest, FailuresTable) {
  struct Case {
    const char* name;
    bool fresh;
    const char* pattern;
    const char* out;
    uint32_t event;
    const char* text;
    size_t copies;
  } cases[] = {
      {"bin folder", true, "CREATE/DIRECTORY", "%RMS-E-FNF, not found", EV_CLIENT_FILE_OPERATION_FAILED,
       "Can't create BIN folder on the client host (failure found)", 0},
      {"stop", false, "KXOV_STOP.COM", "nothing to do", EV_CLIENT_STOP_FAILED,
       "Can't stop launch daemon on remote client (expected not found)", 0},
  };
  Local("A.EXE", "a");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tools.ClearCommandReplies();
    tools.AddCommandReply(c.pattern, c.out);
    const size_t before = tools.CopyCalls().size();
    std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
    CWqError result = manager->installClinet(c.fresh);
    EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, c.event)) << result.AsString();
    EXPECT_NE(std::string::npos, result.AsString().find(c.text)) << result.AsString();
    EXPECT_EQ(c.copies, tools.CopyCalls().size() - before);
  }
}

TEST_F(InstallTest, MissingLocalFileFailsTheCopy) {
  Local("A.EXE", "a");
  Local("B.EXE", "b");
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
  ASSERT_FALSE(manager->updateClientBinaryList().IsError());
  ::unlink((folder + "/B.EXE").c_str());
  manager->getBinaries()["B.EXE"].second = ClClientManager::FILE_MISSING_ON_CLIENT;
  CWqError result = manager->installClinet(true);
  // Never counted as copied: the client would be "updated" on every connect.
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
  EXPECT_EQ(1u, tools.CopyCalls().size());
  EXPECT_EQ(ClClientManager::FILE_MISSING_ON_CLIENT, manager->getBinaries()["B.EXE"].second);
}

TEST_F(InstallTest, StartAndStop) {
  std::unique_ptr<ClClientManager> ibmi = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = ibmi->startClient();
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED));
  EXPECT_NE(std::string::npos, result.AsString().find("Start/Stop not supported"));
  EXPECT_TRUE(tools.SshCalls().empty());
  unsigned long flag = 0;
  EXPECT_FALSE(KXPlatformInfo().getNumber(kIbmiSection, "updateBinary", &flag));
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(ibmi->stopClient(), EV_CLIENT_STOP_FAILED));

  std::unique_ptr<ClClientManager> vms = Loaded(kVmsClient, "127.0.0.1");
  tools.AddCommandReply("KXOV_START.COM", "launch daemon started\n");
  EXPECT_FALSE(vms->startClient().IsError());
  EXPECT_EQ("@DKA0:[APP.CLIENT.bin]KXOV_START.COM DKA0:[APP.CLIENT] 9402", tools.Commands().back());
  EXPECT_FALSE(KXPlatformInfo().getNumber(kVmsSection, "updateBinary", &flag));

  tools.ClearCommandReplies();
  result = vms->startClient();
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_START_FAILED));
  EXPECT_NE(std::string::npos, result.AsString().find("Can't start launch daemon on remote client (expected not found)"));
  EXPECT_TRUE(KXPlatformInfo().getNumber(kVmsSection, "updateBinary", &flag));
  EXPECT_EQ(1u, flag);
}

// checkAndStart's rows, through the connector as a managed connect runs it.
class EntryTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    daemon.reset(new SimServiceDaemon);
    daemon->SetVersionReply("5:20:");
    ASSERT_FALSE(daemon->Start().IsError());
    RecordRegistry::Instance().SetClientValue(kVmsClient, "KXDPort", RecordValue(daemon->GetPort()));
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon->GetPort()));
    ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/pkginfo.dat", "5:20:\n"));
  }
  CWqError Connect(int clientId) {
    ClProxyClientConnection link;
    return link.connectToClient("127.0.0.1", daemon->GetPort(), 0, 0, clientId, false);
  }
  std::unique_ptr<SimServiceDaemon> daemon;
};

TEST_F(EntryTest, OpenVmsNotInstalledThenInstalled) {
  Local("KXOV_PKGCRC32.EXE", "tool");
  tools.AddCommandReply("DIRECTORY", "%DIRECT-W-NOFILES, no files found");
  CWqError result = Connect(kVmsClient);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_EQ(1u, sender->Events().size());
  EXPECT_EQ(EV_CLIENT_NOT_INSTALLED, sender->Events()[0].id);
  EXPECT_FALSE(sender->Events()[0].critical);
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1"}, sender->Events()[0].texts);
  EXPECT_EQ(1u, tools.CopyCalls().size());
  EXPECT_TRUE(daemon->WaitForAccepted(1, 10));
  EXPECT_EQ(1u, daemon->GetConnectionCount());  // no DR cleanup, no second check
}

TEST_F(EntryTest, OpenVmsUpdateFails) {
  Local("KXOV_PKGCRC32.EXE", "tool");
  tools.AddCommandReply("KXOV_PKGCRC32.COM", "1 KXOV_PKGCRC32.EXE\n");
  tools.AddCommandReply("KXOV_STOP.COM", "not now");
  ScopedCapture capture(0);
  CWqError result = Connect(kVmsClient);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
  EXPECT_EQ(std::string::npos, result.AsString().find("Can't stop"));
  EXPECT_EQ((std::vector<uint32_t>{EV_CLIENT_OUT_OF_DATE, EV_CLIENT_OPERATION_FAILED}), sender->Ids());
  EXPECT_TRUE(sender->Events()[1].critical);
  EXPECT_TRUE(capture.AnyContains("Can't stop launch daemon on remote client"));
  EXPECT_EQ(0u, daemon->GetConnectionCount());
}

TEST_F(EntryTest, IbmiUnreachableWithSoftware) {
  SimServiceDaemon refusing;
  ASSERT_FALSE(refusing.Reserve().IsError());
  RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(refusing.GetPort()));
  CWqError result = Connect(kIbmiClient);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1627)) << result.AsString();
  EXPECT_NE(std::string::npos, result.AsString().find("Failed to connect to client."));
  ASSERT_EQ(1u, sender->Events().size());
  EXPECT_EQ(EV_CLIENT_CONNECT_FAILED, sender->Events()[0].id);
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1", std::to_string(refusing.GetPort())}), sender->Events()[0].texts);
}

TEST_F(EntryTest, OtherFailureIsCritical) {
  RecordRegistry::Instance().SetClientProperty(kIbmiClient, "SubsystemDesc", RecordValue());
  ScopedCapture capture(0);
  CWqError result = Connect(kIbmiClient);
  EXPECT_TRUE(result.IsError());
  ASSERT_EQ(1u, sender->Events().size());
  EXPECT_TRUE(sender->Events()[0].critical);
  EXPECT_TRUE(capture.AnyContains("isClientInstalledAndUptodate return"));
}

TEST_F(EntryTest, IbmiCurrentRunsTheCleanupWhichNeverFailsTheConnect) {
  KXPlatformInfo settings;
  settings.setString(kIbmiSection, "CleanUpFolder", "/kxdr", 5);
  settings.setString(kIbmiSection, "CleanUpFolderJob", "77", 2);
  KXJobQueryScript::Instance().Reset();
  KXJobQueryScript::Instance().SetJobState(77, 4);
  KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_DAEMON_REPLY", 1);
  CWqError result = Connect(kIbmiClient);
  EXPECT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(std::vector<long long>{77}, KXJobQueryScript::Instance().Queries());
  std::string folder;
  EXPECT_TRUE(settings.getString(kIbmiSection, "CleanUpFolder", &folder));  // no confirmation: kept
  EXPECT_TRUE(sender->Events().empty());
  KXJobQueryScript::Instance().Reset();
}

}  // namespace
