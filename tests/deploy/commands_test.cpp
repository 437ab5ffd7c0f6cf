// Remote commands: the builders, the command lines through the ssh and copy
// stand-ins (values reach the client exactly, never through a shell here),
// the markers and a failed ssh hop.
#include <stdlib.h>

#include <chrono>

#include "DeployTestUtil.h"
#include "ProxyEventIds.h"
#include "core/TestSupport.h"

namespace {

using deploytest::DeployTest;
using deploytest::kIbmiClient;
using deploytest::kVmsClient;

const long kEvent = 0x060000a5;

TEST_F(DeployTest, BuildersOpenVMS) {
  RecordRegistry::Instance().SetClientValue(kVmsClient, "KXDPort", RecordValue(9401));
  auto m = Loaded(kVmsClient);
  EXPECT_EQ(m->client_bin_exists().command, "DIRECTORY DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE");
  EXPECT_EQ(m->client_bin_exists().failure, "%DIRECT-");
  EXPECT_EQ(m->client_create_bin().command, "CREATE/DIRECTORY DKA0:[APP.CLIENT.bin]");
  EXPECT_EQ(m->client_kxpkgchk().command, "@DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.COM DKA0:[APP.CLIENT]");
  EXPECT_EQ(m->client_kxpkgchk().failure, "image file not found");
  EXPECT_EQ(m->client_stop().command, "@DKA0:[APP.CLIENT.bin]KXOV_STOP.COM DKA0:[APP.CLIENT]");
  EXPECT_EQ(m->client_stop().expected, "stopped");
  EXPECT_EQ(m->client_start().command, "@DKA0:[APP.CLIENT.bin]KXOV_START.COM DKA0:[APP.CLIENT] 9401");
  EXPECT_EQ(m->client_start().expected, "started");
  EXPECT_EQ(m->client_remove_file("/bin/KXOV_START.COM").command, "DELETE DKA0:[APP.CLIENT.bin]KXOV_START.COM;*");
  EXPECT_EQ(m->client_remove_file("/bin/KXOV_START.COM").failure, "RMS-E-FNF");
  EXPECT_EQ(m->client_copy_file("/bin/A.EXE").command, "/DKA0/APP/CLIENT/bin/A.EXE");
}

TEST_F(DeployTest, BuildersIbmi) {
  auto m = Loaded(kIbmiClient);
  EXPECT_EQ(m->client_bin_exists().command, "system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\"");
  EXPECT_EQ(m->client_bin_exists().failure, "CPF9");
  const clientCommand_t remove = m->client_remove_file("ignored");
  EXPECT_EQ(remove.command, " system \"DLTF FILE(QGPL/KXINSTPKG)\"  ");
  EXPECT_TRUE(remove.expected.empty() && remove.failure.empty());
  EXPECT_EQ(m->client_copy_file("x").command, "/kxdata/KXINSTPKG.savf");
  EXPECT_EQ(m->client_copy_file("x").failure, " ");

  ClClientManager unknown("h", 1, 99);
  EXPECT_TRUE(unknown.client_bin_exists().command.empty());
  EXPECT_TRUE(unknown.client_copy_file("x").command.empty());
}

TEST(StrReplace, Cases) {
  std::string text = "%A%%A%";
  EXPECT_EQ(strreplace(text, "%A%", "x%A%y"), "x%A%yx%A%y");
  text = "abc";
  EXPECT_EQ(strreplace(text, "", "z"), "abc");
}

// Each password reaches the client exactly, whatever a shell would do with it.
TEST_F(DeployTest, PasswordsReachTheClientExactly) {
  const char* passwords[] = {"pa`id`ss", "it's", "say \"hi\"", "back\\", "$(touch /tmp/deploy-pwned)", "a;b",
                             "two words", "$HOME"};
  for (const char* password : passwords) {
    SCOPED_TRACE(password);
    RecordRegistry::Instance().SetClientProperty(kVmsClient, "OpenVMSUserPassword",
                                                 RecordValue(KXPassword::encrypt(password)));
    RecordRegistry::Instance().SetClientProperty(kVmsClient, "BaseInstallFolder", RecordValue("SYS$DISK:[APP]"));
    tools.SetPassword(password);
    tools.SetReply("started\n", "");
    auto m = Loaded(kVmsClient);
    const size_t before = tools.SshCalls().size();
    std::string line, output;
    ASSERT_FALSE(m->remoteShellLine(m->client_start().command, line).IsError());
    deploytest::ScopedCapture capture;
    CWqError result = m->executeAndCheck(line.c_str(), m->client_start(), output, kEvent, "start");
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_FALSE(capture.AnyContains(password));
    const auto sshf = tools.SshfCalls().back();
    ASSERT_GE(sshf.size(), 2u);
    EXPECT_EQ(sshf[0], password);
    EXPECT_EQ(sshf[1], "ssh");
    const auto ssh = tools.SshCalls();
    ASSERT_EQ(ssh.size(), before + 1);
    const std::vector<std::string> expected = {password, "-q", "-o", "UserKnownHostsFile=/dev/null", "-o",
                                               "StrictHostKeyChecking=no", "-o", "ConnectTimeout=15", "--",
                                               "SYSTEM@vms1.example",
                                               "@SYS$DISK:[APP.bin]KXOV_START.COM SYS$DISK:[APP] 9402"};
    EXPECT_EQ(ssh.back(), expected);
    EXPECT_EQ(tools.Commands().back(), "@SYS$DISK:[APP.bin]KXOV_START.COM SYS$DISK:[APP] 9402");
  }
  EXPECT_NE(::access("/tmp/deploy-pwned", F_OK), 0);
}

TEST_F(DeployTest, CommandsReachTheClientWhole) {
  auto vms = Loaded(kVmsClient);
  auto ibmi = Loaded(kIbmiClient);
  const struct {
    ClClientManager* manager;
    clientCommand_t command;
  } cases[] = {
      {vms.get(), vms->client_remove_file("/bin/KXOV_START.COM")},
      {ibmi.get(), ibmi->client_bin_exists()},
      {ibmi.get(), ibmi->client_remove_file("")},
      {vms.get(), clientCommand_t("DIRECTORY %CLBASEBIN%* %CLBASE%", "", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command.command);
    std::string line, output;
    ASSERT_FALSE(c.manager->remoteShellLine(c.command.command, line).IsError());
    ASSERT_FALSE(c.manager->executeAndCheck(line.c_str(), c.command, output, kEvent, "cmd").IsError());
  }
  const std::vector<std::string> got = tools.Commands();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "DELETE DKA0:[APP.CLIENT.bin]KXOV_START.COM;*");
  EXPECT_EQ(got[1], "system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\"");
  EXPECT_EQ(got[2], " system \"DLTF FILE(QGPL/KXINSTPKG)\"  ");
  EXPECT_EQ(got[3], "DIRECTORY DKA0:[APP.CLIENT.bin]* DKA0:[APP.CLIENT]");
}

TEST_F(DeployTest, PlaceholdersStayForIbmi) {
  auto ibmi = Loaded(kIbmiClient);
  std::string line, output;
  ASSERT_FALSE(ibmi->remoteShellLine("ls %CLBASE%", line).IsError());
  ASSERT_FALSE(ibmi->executeAndCheck(line.c_str(), clientCommand_t(), output, kEvent, "x").IsError());
  EXPECT_EQ(tools.Commands().back(), "ls %CLBASE%");
}

TEST_F(DeployTest, MarkerTable) {
  auto vms = Loaded(kVmsClient);
  auto ibmi = Loaded(kIbmiClient);
  const std::string home = "Could not chdir to home directory /home/QSECOFR: No such file or directory\n";
  const struct {
    const char* name;
    ClClientManager* manager;
    clientCommand_t command;
    const char* out;
    std::string err;
    long event;
    const char* result;  // null: success, else the text's end
  } cases[] = {
      {"no markers, anything printed", ibmi.get(), clientCommand_t("c", "", ""), "junk", "CPF9801 failed", kEvent,
       nullptr},
      {"expected missing", vms.get(), clientCommand_t("c", "started", ""), "nothing", "", kEvent,
       "start (expected not found)"},
      {"expected present", vms.get(), clientCommand_t("c", "started", ""), "daemon started\n", "", kEvent, nullptr},
      {"expected in stderr only", vms.get(), clientCommand_t("c", "started", ""), "", "started", kEvent,
       "start (expected not found)"},
      {"failure in stderr", ibmi.get(), clientCommand_t("c", "", "CPF9"), "", "CPF9801 Object not found", kEvent,
       "start (failure found)"},
      {"openvms failure in stdout", vms.get(), clientCommand_t("c", "", "%DIRECT-"), "%DIRECT-W-NOFILES", "",
       kEvent, "start (failure found)"},
      {"ibm i failure in stdout ignored", ibmi.get(), clientCommand_t("c", "", "CPF9"), "CPF9801", "", kEvent,
       nullptr},
      {"home line cut", ibmi.get(), clientCommand_t("c", "", " "), "", home, kEvent, nullptr},
      {"home line first, CPF9 second", ibmi.get(), clientCommand_t("c", "", "CPF9"), "", home + "CPF9801 x\n",
       kEvent, "start (failure found)"},
      {"home line second", ibmi.get(), clientCommand_t("c", "", "CPF9"), "", "CPF9802 y\n" + home, kEvent,
       "start (failure found)"},
      {"ibm i copy: other blank output fails", ibmi.get(), clientCommand_t("c", "", " "), "", home + "cannot copy",
       kEvent, "start (failure found)"},
      {"event 0: missing expected only logged", vms.get(), clientCommand_t("c", "started", ""), "", "", 0, nullptr},
      {"event 0: failure only logged", vms.get(), clientCommand_t("c", "", "RMS-E-FNF"), "RMS-E-FNF", "", 0, nullptr},
      {"remote status unused", vms.get(), clientCommand_t("c", "", ""), "", "", kEvent, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tools.SetReply(c.out, c.err, std::string(c.name) == "remote status unused" ? 3 : 0);
    std::string line, output;
    ASSERT_FALSE(c.manager->remoteShellLine(c.command.command, line).IsError());
    CWqError result = c.manager->executeAndCheck(line.c_str(), c.command, output, c.event, "start");
    EXPECT_EQ(output, c.out);
    if (!c.result) {
      EXPECT_FALSE(result.IsError()) << result.AsString();
    } else {
      ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, static_cast<uint32_t>(c.event)));
      EXPECT_NE(result.AsString().find(c.result), std::string::npos) << result.AsString();
    }
  }
}

// A hop that never reached the client fails even where the markers pass.
TEST_F(DeployTest, FailedHopTable) {
  const struct {
    const char* name;
    std::function<void(SimSshTools&)> setup;
    std::function<void(ClClientManager&)> change;
  } cases[] = {
      {"wrong password", [](SimSshTools& t) { t.SetPassword("other"); }, nullptr},
      {"unreachable host", [](SimSshTools& t) { t.SetUnreachable(true); }, nullptr},
      {"exit 255", [](SimSshTools& t) { t.SetReply("", "", 255); }, nullptr},
      {"password that would not decrypt", nullptr, nullptr},
      {"tool missing", [](SimSshTools& t) { ::unlink((t.BaseHome() + "/sshf").c_str()); }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(tools.Install().IsError());
    KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", tools.HomeDirectory().c_str(),
                               tools.HomeDirectory().size());
    tools.SetPassword("secret");
    if (std::string(c.name) == "password that would not decrypt")
      RecordRegistry::Instance().SetClientProperty(kVmsClient, "OpenVMSUserPassword", RecordValue("kxp1:zz"));
    else
      RecordRegistry::Instance().SetClientProperty(kVmsClient, "OpenVMSUserPassword",
                                                   RecordValue(KXPassword::encrypt("secret")));
    if (c.setup) c.setup(tools);
    auto m = Loaded(kVmsClient);
    std::string line, output;
    ASSERT_FALSE(m->remoteShellLine("SHOW TIME", line).IsError());
    CWqError result = m->executeAndCheck(line.c_str(), clientCommand_t("SHOW TIME", "", ""), output, kEvent, "t");
    ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
    EXPECT_NE(result.AsString().find("Can't reach the client over ssh"), std::string::npos);
    EXPECT_EQ(result.AsString().find("secret"), std::string::npos);
  }
}

TEST_F(DeployTest, HostAndUserCheckedBeforeAnythingRuns) {
  const struct {
    const char* host;
    const char* user;
    const char* field;
  } cases[] = {
      {"-oProxyCommand=touch /tmp/x", "SYSTEM", "host"},
      {"vms1 example", "SYSTEM", "host"},
      {"vms1\nx", "SYSTEM", "host"},
      {"vms1", "-oProxyCommand=x", "user"},
      {"vms1", "SYS TEM", "user"},
      {"vms1", "SYS'TEM", "user"},
      {"vms1", "SYS\"TEM", "user"},
      {"vms1", "SYS\tTEM", "user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + std::string(" / ") + c.user);
    RecordRegistry::Instance().SetClientProperty(kVmsClient, "OpenVMSUserName", RecordValue(c.user));
    auto m = Loaded(kVmsClient, c.host);
    std::string line;
    for (CWqError result : {m->remoteShellLine("SHOW TIME", line), m->wrappedCopyLine("/etc/hosts", "/d", line),
                            m->directCopyLine("/etc/hosts", "/d", line)}) {
      ASSERT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL));
      EXPECT_NE(result.AsString().find(std::string("client ") + c.field + " name"), std::string::npos);
    }
    std::string output;
    CWqError copy = m->executeCopy("/etc/hosts", clientCommand_t("/d", "", ""), output, kEvent, "copy");
    EXPECT_TRUE(FXErrorUtil::IsErrNo(copy, EINVAL));
  }
  EXPECT_TRUE(tools.SshfCalls().empty());
  EXPECT_TRUE(tools.CopyCalls().empty());
}

TEST_F(DeployTest, CopiesCarryThePasswordToTheToolAlone) {
  const std::string password = "p$`x`'\" \\";
  RecordRegistry::Instance().SetClientProperty(kIbmiClient, "IBMiUserPassword",
                                               RecordValue(KXPassword::encrypt(password)));
  tools.SetPassword(password);
  auto m = Loaded(kIbmiClient);
  const std::string local = tools.Root() + "/KXINSTPKG.savf";
  ASSERT_TRUE(SimSshTools::WriteFile(local, "package bytes"));
  ASSERT_EQ(getenv("KX_PUTTY_PASS"), nullptr);
  std::string output;
  CWqError result = m->executeCopy(local, m->client_copy_file(""), output, kEvent, "copy");
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(getenv("KX_PUTTY_PASS"), nullptr);
  ASSERT_EQ(tools.CopyCalls().size(), 1u);
  const std::vector<std::string> expected = {password, "<unset>", "-q", "--", local,
                                             "QSECOFR@ibmi1.example:/kxdata/KXINSTPKG.savf"};
  EXPECT_EQ(tools.CopyCalls()[0], expected);
  EXPECT_EQ(tools.CopiedFile("/kxdata/KXINSTPKG.savf"), "package bytes");

  // The wrapped form hands the password to sshf instead.
  std::string line;
  ASSERT_FALSE(m->wrappedCopyLine(local, "/kxdata/second.savf", line).IsError());
  ASSERT_FALSE(m->executeAndCheck(line.c_str(), clientCommand_t(), output, kEvent, "copy").IsError());
  ASSERT_EQ(tools.CopyCalls().size(), 2u);
  EXPECT_EQ(tools.CopyCalls()[1][0], "<unset>");
  EXPECT_EQ(tools.CopyCalls()[1][1], password);
  EXPECT_EQ(tools.CopiedFile("/kxdata/second.savf"), "package bytes");

  // A wrong password fails the hop: that is the failure, with the copy's
  // marker (any blank in the error output) or without one.
  tools.SetPassword("other");
  result = m->executeCopy(local, m->client_copy_file(""), output, kEvent, "copy");
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
  result = m->executeCopy(local, clientCommand_t("/kxdata/KXINSTPKG.savf", "", ""), output, kEvent, "copy");
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED));
}

// The hanging hop goes with its whole group (the client's end sleeps in a
// child of its own): the call returns at the limit and leaves no process.
TEST_F(DeployTest, LineKilledAtTheLimit) {
  KXPlatformInfo().setNumber("FileSystemAgent", ClClientManager::kCommandLimitSetting, 1);
  tools.SetHang(true);
  auto m = Loaded(kVmsClient);
  std::string line, output;
  ASSERT_FALSE(m->remoteShellLine("SHOW TIME", line).IsError());
  const auto start = std::chrono::steady_clock::now();
  CWqError result = m->executeAndCheck(line.c_str(), clientCommand_t(), output, kEvent, "t");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // The killed group may take a moment to be gone from the process table.
  std::vector<std::string> left;
  coretest::WaitUntil([&] { return (left = deploytest::ProcessesWith(tools.Root())).empty(); }, 3);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED));
  EXPECT_NE(result.AsString().find("killed after 1 seconds"), std::string::npos);
  EXPECT_LT(elapsed, std::chrono::seconds(5));  // a 1 s limit; a loaded machine is slow
  EXPECT_TRUE(left.empty()) << left.size() << " process(es) left, the first " << left.front();
}

}  // namespace
