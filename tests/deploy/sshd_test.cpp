// Remote commands and copies through a real sshd (SimSshd): the password
// reaches sshd exactly whatever a shell would make of it, the client machine
// gets each command whole, copies arrive through scp's legacy protocol, and
// a refused login or a closed port fails the step. One sshd serves the whole
// suite; without root or the ssh packages the tests are skipped (failed
// under CI=true).
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "DeployTestUtil.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"
#include "SimSshd.h"
#include "SshdFixture.h"

extern char** environ;

namespace {

using deploytest::kIbmiClient;
using deploytest::kVmsClient;

const long kEvent = 0x060000a5;
const char* const kSshOptions[] = {"-q", "-o", "UserKnownHostsFile=/dev/null", "-o", "StrictHostKeyChecking=no",
                                   "-o", "ConnectTimeout=15"};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Bound but not listening: connections to it are refused.
class ClosedPort {
 public:
  ClosedPort() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      m_port = ntohs(address.sin_port);
  }
  ~ClosedPort() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int Port() const { return m_port; }

 private:
  int m_fd;
  int m_port = 0;
};

using deploytest::SshdTest;

// Passwords a shell on this host would mangle or run; the last one would
// make `pwned` if it ever ran.
std::vector<std::string> Passwords(const std::string& pwned) {
  return {"pa`id`ss", "it's", "say \"hi\"", "back\\", "$(touch " + pwned + ")", "a;b", "two words"};
}

// Each password logs in, and sshf and the client get exactly what they
// should.
TEST_F(SshdTest, PasswordsLogInExactly) {
  const std::string pwned = "/tmp/simsshd-pwned-" + std::to_string(::getpid());
  ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());
  machine().AddHandler([](const SimRemoteCommand& command, SimRemoteReply& reply) {
    if (command.command.compare(0, 1, "@") != 0 || command.command.find("KXOV_START.COM") == std::string::npos)
      return false;
    reply.out = "daemon started\n";
    return true;
  });
  RecordRegistry::Instance().SetClientProperty(kVmsClient, "BaseInstallFolder", RecordValue("SYS$DISK:[APP]"));
  for (const std::string& password : Passwords(pwned)) {
    SCOPED_TRACE(password);
    ASSERT_FALSE(s_sshd->SetPassword(password).IsError());
    RecordRegistry::Instance().SetClientProperty(kVmsClient, "OpenVMSUserPassword",
                                                 RecordValue(KXPassword::encrypt(password)));
    auto m = Loaded(kVmsClient);
    const clientCommand_t start = m->client_start();
    ASSERT_EQ(start.command, "@SYS$DISK:[APP.bin]KXOV_START.COM SYS$DISK:[APP] 9402");
    std::string line, output;
    ASSERT_FALSE(m->remoteShellLine(start.command, line).IsError());
    deploytest::ScopedCapture capture;
    CWqError result = m->executeAndCheck(line.c_str(), start, output, kEvent, "start");
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(output, "daemon started\n");
    EXPECT_FALSE(capture.AnyContains(password));

    std::vector<std::string> expected = {password, "ssh"};
    expected.insert(expected.end(), std::begin(kSshOptions), std::end(kSshOptions));
    expected.push_back("--");
    expected.push_back(target("vms1.example"));
    expected.push_back(start.command);
    EXPECT_EQ(tools.SshfCalls().back(), expected);
    const std::vector<SimRemoteCommand> received = machine().Received();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back().command, start.command);
    EXPECT_EQ(received.back().user, s_sshd->User());
  }
  EXPECT_NE(::access(pwned.c_str(), F_OK), 0);
}

// Each password copies: the copy tool alone sees it, in KX_PUTTY_PASS; this
// process's environment never holds it.
TEST_F(SshdTest, PasswordsCopyExactly) {
  const std::string pwned = "/tmp/simsshd-pwned-" + std::to_string(::getpid());
  ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());
  RecordRegistry::Instance().SetClientProperty(kVmsClient, "BaseInstallFolder", RecordValue("SYS$DISK:[APP]"));
  const std::string local = tools.Root() + "/KXOV_START.COM";
  ASSERT_TRUE(SimSshTools::WriteFile(local, "$ WRITE SYS$OUTPUT \"started\"\n"));
  for (const std::string& password : Passwords(pwned)) {
    SCOPED_TRACE(password);
    ASSERT_FALSE(s_sshd->SetPassword(password).IsError());
    RecordRegistry::Instance().SetClientProperty(kVmsClient, "OpenVMSUserPassword",
                                                 RecordValue(KXPassword::encrypt(password)));
    auto m = Loaded(kVmsClient);
    const clientCommand_t copy = m->client_copy_file("/bin/KXOV_START.COM");
    ASSERT_EQ(copy.command, "/SYS$DISK/APP/bin/KXOV_START.COM");
    std::string output;
    deploytest::ScopedCapture capture;
    CWqError result = m->executeCopy(local, copy, output, kEvent, "copy");
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_FALSE(capture.AnyContains(password));
    const std::vector<std::string> copyCall = {password, "<unset>", "-q", "--", local,
                                               target("vms1.example") + ":" + copy.command};
    EXPECT_EQ(tools.CopyCalls().back(), copyCall);
    std::string stored;
    ASSERT_TRUE(machine().GetFile(copy.command, stored));
    EXPECT_EQ(stored, "$ WRITE SYS$OUTPUT \"started\"\n");
    EXPECT_EQ(machine().Commands().back(), "scp -t " + copy.command);
    machine().Reset();
    EXPECT_EQ(getenv("KX_PUTTY_PASS"), nullptr);
    EXPECT_EQ(ReadAll("/proc/self/environ").find("KX_PUTTY_PASS"), std::string::npos);
  }
  EXPECT_NE(::access(pwned.c_str(), F_OK), 0);
}

// The client gets each command as it stands: nothing expanded, globbed or
// split; leading and trailing blanks kept. The remote status stays unused.
TEST_F(SshdTest, CommandsReachTheClientWhole) {
  ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());
  machine().SetDefaultReply({"", "some complaint\n", 3});
  auto vms = Loaded(kVmsClient);
  auto ibmi = Loaded(kIbmiClient);
  const struct {
    ClClientManager* manager;
    clientCommand_t command;
    const char* received;
  } cases[] = {
      {vms.get(), vms->client_remove_file("/bin/KXOV_START.COM"), "DELETE DKA0:[APP.CLIENT.bin]KXOV_START.COM;*"},
      {vms.get(), clientCommand_t("DIRECTORY %CLBASEBIN%* %CLBASE%", "", ""),
       "DIRECTORY DKA0:[APP.CLIENT.bin]* DKA0:[APP.CLIENT]"},
      {vms.get(), clientCommand_t("SHOW $HOME `id` \"a  b\" 'c' \\ ;|&", "", ""),
       "SHOW $HOME `id` \"a  b\" 'c' \\ ;|&"},
      {ibmi.get(), ibmi->client_bin_exists(), "system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\""},
      {ibmi.get(), ibmi->client_remove_file(""), " system \"DLTF FILE(QGPL/KXINSTPKG)\"  "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.received);
    std::string line, output;
    ASSERT_FALSE(c.manager->remoteShellLine(c.command.command, line).IsError());
    CWqError result = c.manager->executeAndCheck(line.c_str(), c.command, output, kEvent, "cmd");
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(machine().Commands().back(), c.received);
  }
  EXPECT_EQ(machine().Commands().size(), 5u);
}

// Without a home folder sshd says so on the error stream: the IBM i copy's
// marker (any blank there) passes once that line is cut. The wrapped copy
// goes through sshf instead, which alone gets the password.
TEST_F(SshdTest, IbmiCopiesThroughScp) {
  const std::string password = "p$`x`'\" \\";
  ASSERT_FALSE(s_sshd->SetPassword(password).IsError());
  RecordRegistry::Instance().SetClientProperty(kIbmiClient, "IBMiUserPassword",
                                               RecordValue(KXPassword::encrypt(password)));
  auto m = Loaded(kIbmiClient);
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
  const std::string local = tools.Root() + "/KXINSTPKG.savf";
  ASSERT_TRUE(SimSshTools::WriteFile(local, bytes));

  std::string output;
  CWqError result = m->executeCopy(local, m->client_copy_file(""), output, kEvent, "copy");
  ASSERT_FALSE(result.IsError()) << result.AsString();
  std::string stored;
  ASSERT_TRUE(machine().GetFile("/kxdata/KXINSTPKG.savf", stored));
  EXPECT_TRUE(stored == bytes);

  std::string line;
  ASSERT_FALSE(m->wrappedCopyLine(local, "/kxdata/second.savf", line).IsError());
  result = m->executeAndCheck(line.c_str(), clientCommand_t(), output, kEvent, "copy");
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_EQ(tools.CopyCalls().size(), 2u);
  EXPECT_EQ(tools.CopyCalls()[1][0], "<unset>");
  EXPECT_EQ(tools.SshfCalls().back()[0], password);
  EXPECT_EQ(tools.SshfCalls().back()[1], tools.BaseHome() + "/kxpscp.exe");
  ASSERT_TRUE(machine().GetFile("/kxdata/second.savf", stored));
  EXPECT_TRUE(stored == bytes);
  EXPECT_EQ(getenv("KX_PUTTY_PASS"), nullptr);
}

// A refused login and a closed port fail the step, commands and copies
// alike, and the client machine hears nothing.
TEST_F(SshdTest, FailedHopTable) {
  ClosedPort closed;
  ASSERT_NE(closed.Port(), 0);
  const std::string local = tools.Root() + "/A.EXE";
  ASSERT_TRUE(SimSshTools::WriteFile(local, "x"));
  const struct {
    const char* name;
    std::string password;  // sshd's; the record keeps "secret"
    int port;
  } cases[] = {
      {"wrong password", "other", 0},
      {"closed ssh port", "secret", closed.Port()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(s_sshd->SetPassword(c.password).IsError());
    ASSERT_FALSE(s_sshd->SetClientPort(c.port).IsError());
    for (int client : {kVmsClient, kIbmiClient}) {
      auto m = Loaded(client);
      std::string line, output;
      ASSERT_FALSE(m->remoteShellLine("SHOW TIME", line).IsError());
      CWqError result = m->executeAndCheck(line.c_str(), clientCommand_t("SHOW TIME", "", ""), output, kEvent, "t");
      ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
      EXPECT_NE(result.AsString().find("Can't reach the client over ssh"), std::string::npos);
      EXPECT_EQ(result.AsString().find("secret"), std::string::npos);
      result = m->executeCopy(local, clientCommand_t("/kxdata/A.EXE", "", ""), output, kEvent, "copy");
      ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
    }
  }
  EXPECT_TRUE(machine().Received().empty());
  EXPECT_TRUE(machine().Files().empty());
}

// The machine's source side: a copy from the client through the wrappers.
TEST_F(SshdTest, CopyFromTheMachine) {
  machine().PutFile("/kxdata/PKGCRC.INFO", "123 A.EXE\n");
  const std::string local = tools.Root() + "/fetched";
  std::string out, err;
  const std::vector<std::string> words = {tools.BaseHome() + "/sshf", "-p", "secret", "--", "scp", "-O", "-q",
                                          target("ibmi1.example") + ":/kxdata/PKGCRC.INFO", local};
  ASSERT_EQ(KxProcess::run(words, KxProcess::Options(), &out, &err), 0) << err;
  EXPECT_EQ(ReadAll(local), "123 A.EXE\n");
  const std::vector<std::string> missing = {tools.BaseHome() + "/sshf", "-p", "secret", "--", "scp", "-O", "-q",
                                            target("ibmi1.example") + ":/kxdata/none", local};
  EXPECT_EQ(KxProcess::run(missing, KxProcess::Options(), &out, &err), 1);
  EXPECT_NE(err.find("No such file"), std::string::npos) << err;
}

// What a killed process left (its folder and its user) goes at the next
// start; a live process's are left alone.
TEST_F(SshdTest, LeftoversOfADeadProcessGo) {
  pid_t dead = -1;
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  ASSERT_EQ(::posix_spawn(&dead, argv[0], nullptr, nullptr, argv, environ), 0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string folder = "/tmp/simsshd." + std::to_string(dead) + ".0";
  const std::string user = "kx" + std::to_string(dead) + "a";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  std::string out, err;
  ASSERT_EQ(KxProcess::run({"/usr/sbin/useradd", "-M", "-s", "/bin/sh", user}, KxProcess::Options(), &out, &err), 0) << err;

  SimSshd second;
  ASSERT_FALSE(second.Start(SimSshd::Options()).IsError());
  EXPECT_NE(::access(folder.c_str(), F_OK), 0);
  EXPECT_EQ(ReadAll("/etc/passwd").find(user + ":"), std::string::npos);
  EXPECT_NE(ReadAll("/etc/passwd").find(s_sshd->User() + ":"), std::string::npos);
  EXPECT_EQ(::access(s_sshd->Folder().c_str(), F_OK), 0);
  const std::string secondFolder = second.Folder();
  const std::string secondUser = second.User();
  second.Stop();
  EXPECT_NE(::access(secondFolder.c_str(), F_OK), 0);
  EXPECT_EQ(ReadAll("/etc/passwd").find(secondUser + ":"), std::string::npos);
}

}  // namespace
