// The installation check: the gate on "checkBinary" with the settings on
// disk, the OpenVMS list through the ssh stand-ins, the IBM i version through
// the simulated daemon, and the IBM i first installation on the virtual clock.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "ClProxyClientConnection.h"
#include "DeployFixtures.h"
#include "DeployTestUtil.h"
#include "FXThread.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"
#include "SimServiceDaemon.h"

namespace {

using namespace deploytest;

const char kVmsSection[] = "ProxyClients/vms1";
const char kIbmiSection[] = "ProxyClients/ibmi1";

bool Has(KXPlatformInfo& settings, const std::string& section, const std::string& name) {
  unsigned long value = 0;
  std::string text;
  return settings.getNumber(section, name, &value) != 0 || settings.getString(section, name, &text) != 0;
}

unsigned long Number(const std::string& section, const std::string& name) {
  unsigned long value = 0;
  KXPlatformInfo().getNumber(section, name, &value);
  return value;
}

// A Unix socket at `path`: there, but no file to open.
bool BoundSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    ::close(fd);
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return bound;
}

bool AnyCommandHas(const std::vector<std::string>& commands, const std::string& text) {
  return std::any_of(commands.begin(), commands.end(),
                     [&](const std::string& c) { return c.find(text) != std::string::npos; });
}

class CheckTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    surroundings.reset(new CheckSurroundings);
    clock = surroundings->clock;
    sender = surroundings->sender;
  }
  void TearDown() override {
    surroundings.reset();
    DeployTest::TearDown();
  }
  // An OpenVMS package and a client that lists exactly it.
  void CurrentVmsClient() {
    const std::string folder = tools.PackageFolder("OpenVMS");
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_PKGCRC32.EXE", "tool"));
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_START.COM", "start"));
    tools.AddCommandReply("KXOV_PKGCRC32.COM", LocalList());
  }
  std::string LocalList() {
    const std::string folder = tools.PackageFolder("OpenVMS");
    KxProcess::Options options;
    options.workingFolder = folder;
    std::string out, err;
    EXPECT_EQ(0, KxProcess::run({tools.BaseHome() + "/pkgcrc32", "KXOV_PKGCRC32.EXE", "KXOV_START.COM"}, options,
                                &out, &err));
    return out;
  }
  uint64_t Now() const { return static_cast<uint64_t>(FXTime()); }

  std::unique_ptr<CheckSurroundings> surroundings;
  std::shared_ptr<HookClock> clock;
  boost::shared_ptr<KeepingSender> sender;
};

// The gate on an OpenVMS client whose software is current.
TEST_F(CheckTest, GateTable) {
  struct Case {
    const char* name;
    long long checkOffset;  // seconds from now; 0: absent
    bool updateBinary;
    bool runs;
    bool updateBinaryAfter;
  } cases[] = {
      {"absent", 0, false, true, false},
      {"one hour ahead", 3600, false, false, false},
      {"one hour ahead, forced", 3600, true, true, false},
      {"absent, forced stays", 0, true, true, true},
      {"reached", -1, false, true, false},
      {"far ahead (clock went back)", 49LL * 3600 + 1801, false, true, false},
      {"at the limit", 48LL * 3600 + 1800, false, false, false},
  };
  CurrentVmsClient();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KXPlatformInfo settings;
    settings.deleteSection(kVmsSection);
    if (c.checkOffset != 0)
      settings.setNumber(kVmsSection, "checkBinary", static_cast<unsigned long>(Now() + c.checkOffset));
    if (c.updateBinary) settings.setNumber(kVmsSection, "updateBinary", 1);
    const size_t before = tools.SshCalls().size();
    std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
    CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
    EXPECT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(c.runs, tools.SshCalls().size() > before);
    EXPECT_EQ(c.updateBinaryAfter, Has(settings, kVmsSection, "updateBinary"));
    if (c.runs) {
      EXPECT_EQ(Now() + 5 * 3600, Number(kVmsSection, "checkBinary"));
      std::string name;
      settings.getString(kVmsSection, "sCLIENTNAME", &name);
      EXPECT_EQ("vms1:7", name);
    } else {
      EXPECT_FALSE(Has(settings, kVmsSection, "dBASEHOME"));
    }
  }
}

TEST_F(CheckTest, IntervalTable) {
  struct Case {
    long long setting;  // -2: absent
    int hours;
  } cases[] = {{0, 1}, {100, 48}, {48, 48}, {-5, 1}, {3, 3}, {-2, 3}};
  CurrentVmsClient();
  ScopedCapture capture(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    KXPlatformInfo settings;
    settings.deleteSection(kVmsSection);
    if (c.setting == -2)
      settings.deleteField("FileSystemAgent", "iProxyIntervalBetweenVersionCheck");
    else
      settings.setNumber("FileSystemAgent", "iProxyIntervalBetweenVersionCheck",
                         static_cast<unsigned long>(static_cast<uint32_t>(static_cast<int32_t>(c.setting))));
    std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
    ASSERT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
    EXPECT_EQ(c.hours, ClClientManager::s_iHourBetweenVersionCheck);
    EXPECT_EQ(Now() + c.hours * 3600ULL, Number(kVmsSection, "checkBinary"));
  }
  EXPECT_EQ(1u, capture.Count("Registry set to change version check interval"));
}

TEST_F(CheckTest, OpenVmsListTable) {
  struct Case {
    const char* name;
    std::string list;  // empty: the local list
    const char* directoryErr;
    uint32_t event;  // 0: success
    const char* text;
  } cases[] = {
      {"current", "", "", 0, ""},
      {"no folder", "", "%DIRECT-E-OPENIN, no such file", EV_CLIENT_NOT_INSTALLED, "Client's base folder not found"},
      {"empty list", "\n", "", EV_CLIENT_NOT_INSTALLED, "KXPKGCHK failed"},
      {"no crc tool", "1 KXOV_START.COM\n", "", EV_CLIENT_NOT_INSTALLED, "KXPKGCHK failed"},
      {"other crc", "1 kxov_start.com\n2 KXOV_PKGCRC32.EXE\n", "", EV_CLIENT_OUT_OF_DATE,
       "Client binaries are not up-to-date."},
      {"bad name skipped", "", "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tools.ClearCommandReplies();
    KXPlatformInfo().deleteSection(kVmsSection);
    const std::string folder = tools.PackageFolder("OpenVMS");
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_PKGCRC32.EXE", "tool"));
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_START.COM", "start"));
    std::string list = c.list.empty() ? LocalList() : c.list;
    if (std::string(c.name) == "bad name skipped") list += "3 [-]X.EXE\n4 a b\n";
    tools.AddCommandReply("DIRECTORY", "", c.directoryErr);
    tools.AddCommandReply("KXOV_PKGCRC32.COM", list);
    std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");
    CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
    if (c.event == 0) {
      EXPECT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ(0u, manager->getBinaries().count("[-]X.EXE"));
    } else {
      EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, c.event)) << result.AsString();
      EXPECT_NE(std::string::npos, result.AsString().find(c.text)) << result.AsString();
      EXPECT_EQ(0u, Number(kVmsSection, "checkBinary"));
    }
  }
}

// Checks of two clients at once both store the interval and the once-only
// log line's flag: the race checker sees them (the deploy suite runs under
// it). Neither check is due, so nothing remote runs.
TEST_F(CheckTest, TwoClientsCheckAtOnce) {
  const std::string description = tools.PackageFolder("iSeries") + "/pkginfo.dat";
  ASSERT_TRUE(SimSshTools::WriteFile(description, "5:20:\n"));
  struct stat st;
  ASSERT_EQ(0, ::stat(description.c_str(), &st));
  KXPlatformInfo settings;
  settings.setNumber("FileSystemAgent", "iProxyIntervalBetweenVersionCheck", 7);
  const unsigned long ahead = static_cast<unsigned long>(Now() + 3600);
  settings.setNumber(kVmsSection, "checkBinary", ahead);
  settings.setNumber(kIbmiSection, "checkBinary", ahead);
  // The description was examined already.
  settings.setNumber(kIbmiSection, "packageTime", static_cast<unsigned long>(st.st_mtime));
  std::unique_ptr<ClClientManager> vms = Loaded(kVmsClient, "127.0.0.1");
  std::unique_ptr<ClClientManager> ibmi = Loaded(kIbmiClient, "127.0.0.1");
  ScopedCapture capture(0);
  auto checks = [](ClClientManager* manager) {
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
  };
  std::thread first(checks, vms.get());
  std::thread second(checks, ibmi.get());
  first.join();
  second.join();
  EXPECT_EQ(7, ClClientManager::s_iHourBetweenVersionCheck);
  EXPECT_EQ(1u, capture.Count("Registry set to change version check interval to 7 hours."));
  EXPECT_TRUE(tools.SshCalls().empty());
}

class IbmiCheckTest : public CheckTest {
 protected:
  void SetUp() override {
    CheckTest::SetUp();
    KXPlatformInfo().deleteSection(kIbmiSection);
    daemon.reset(new SimServiceDaemon);
    daemon->SetVersionReply("5:20:OSVERSION=V7R4M0");
    ASSERT_FALSE(daemon->Reserve().IsError());
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon->GetPort()));
    Describe("5:20:\n");
    ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/KXINSTPKG.savf", "savf-bytes"));
  }
  void Describe(const std::string& text) {
    ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/pkginfo.dat", text));
  }
  // The replies of an installation that goes through.
  void InstallReplies() {
    tools.AddCommandReply("CHKOBJ OBJ(KXLIB/PKGINFO)", "", "CPF9801: Object PKGINFO in library KXLIB not found.");
    tools.AddCommandReply("RSTLIB", "CPC3703: 12 objects restored from KXSTAGE to KXINST.");
    tools.AddCommandReply("INSKXTEL", "Zorvanta client is successfully Installed");
  }
  // The installed daemon accepts from the pause `after` on (0: never).
  void DaemonStartsAfter(int pauses) {
    clock->onSleep = [this, pauses](int64_t ms, int seen) {
      if (ms == 30000 && seen == pauses) { EXPECT_FALSE(daemon->Start().IsError()); }
    };
  }

  std::unique_ptr<SimServiceDaemon> daemon;
};

TEST_F(IbmiCheckTest, CurrentClientCompletes) {
  ASSERT_FALSE(daemon->Start().IsError());
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(Now() + 5 * 3600, Number(kIbmiSection, "checkBinary"));
  std::string checked;
  KXPlatformInfo().getString(kIbmiSection, "packageChecked", &checked);
  EXPECT_EQ("5:20:", checked);
  EXPECT_TRUE(tools.SshCalls().empty());
}

TEST_F(IbmiCheckTest, PackageDescriptionTable) {
  struct Case {
    const char* name;
    const char* content;  // null: no file
    bool remote;
  } cases[] = {
      {"missing", nullptr, false},
      {"empty", "", false},
      {"no colon", "5.20\n", false},
      {"trailing CR and blanks", "5:20: \r\n", true},
  };
  ASSERT_FALSE(daemon->Start().IsError());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KXPlatformInfo().deleteSection(kIbmiSection);
    const std::string path = tools.PackageFolder("iSeries") + "/pkginfo.dat";
    if (c.content)
      Describe(c.content);
    else
      ::unlink(path.c_str());
    const size_t links = daemon->GetConnectionCount();
    std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
    ASSERT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
    EXPECT_EQ(c.remote, daemon->GetConnectionCount() > links);
    EXPECT_EQ(c.remote ? Now() + 5 * 3600 : Now() + 120, Number(kIbmiSection, "checkBinary"));
  }
}

TEST_F(IbmiCheckTest, UpdateBlockedAndBackOff) {
  ASSERT_FALSE(daemon->Start().IsError());
  Describe("5:21:\n");
  RecordRegistry::Instance().SetClientProperty(kIbmiClient, "IsUpdateInstallBlocked", RecordValue(true));
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  ASSERT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
  EXPECT_EQ(Now() + 1800, Number(kIbmiSection, "checkBinary"));
  EXPECT_EQ(std::vector<uint32_t>{EV_CLIENT_UPDATE_BLOCKED}, sender->Ids());
  EXPECT_EQ(0u, daemon->GetPackageBlocks());

  // Within the 30 minutes the same package does not reopen the gate, even
  // though it is newer than "checkBinary" minus the interval.
  const size_t links = daemon->GetConnectionCount();
  clock->Advance(600 * 1000);
  std::unique_ptr<ClClientManager> again = Loaded(kIbmiClient, "127.0.0.1");
  ASSERT_FALSE(again->isClientInstalledAndUptodate(nullptr, 0).IsError());
  EXPECT_EQ(links, daemon->GetConnectionCount());

  // A package replaced after that check does.
  const std::string path = tools.PackageFolder("iSeries") + "/pkginfo.dat";
  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  struct timespec times[2] = {{st.st_mtime + 10, 0}, {st.st_mtime + 10, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
  std::unique_ptr<ClClientManager> third = Loaded(kIbmiClient, "127.0.0.1");
  ASSERT_FALSE(third->isClientInstalledAndUptodate(nullptr, 0).IsError());
  EXPECT_GT(daemon->GetConnectionCount(), links);
}

TEST_F(IbmiCheckTest, SilentDaemonFailsWithoutWriting) {
  daemon->SetVersionReply("");
  SimServiceDaemon silent;
  silent.SetBindAddress("127.0.0.1");
  ASSERT_FALSE(silent.Start().IsError());
  RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(silent.GetPort()));
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
  EXPECT_NE(std::string::npos, result.AsString().find("Version message receive failed"));
  EXPECT_EQ(0u, Number(kIbmiSection, "checkBinary"));
  EXPECT_EQ(3u, silent.GetConnectionCount());
}

TEST_F(IbmiCheckTest, UnreachableWithSoftwarePresent) {
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
  EXPECT_EQ(std::vector<std::string>{"system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\""}, tools.Commands());
  KXPlatformInfo settings;
  EXPECT_TRUE(Has(settings, kIbmiSection, "dBASEHOME"));
  EXPECT_FALSE(Has(settings, kIbmiSection, "checkBinary"));
}

TEST_F(IbmiCheckTest, FirstInstallationRunsEachCommand) {
  InstallReplies();
  DaemonStartsAfter(1);
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  const uint64_t due = Now();
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  const std::vector<std::string> expected = IbmiInstallCommands("QSECOFR", daemon->GetPort());
  EXPECT_EQ(expected, tools.Commands());
  EXPECT_EQ("savf-bytes", tools.CopiedFile("/kxdata/KXINSTPKG.savf"));
  ASSERT_EQ(1u, tools.CopyCalls().size());
  EXPECT_EQ("secret", tools.CopyCalls()[0][0]);  // KX_PUTTY_PASS, for the copy alone
  EXPECT_EQ(nullptr, std::getenv("KX_PUTTY_PASS"));
  EXPECT_EQ((std::vector<uint32_t>{EV_CLIENT_NOT_INSTALLED, EV_CLIENT_INSTALL_STARTED, EV_CLIENT_INSTALL_SUCCEEDED}),
            sender->Ids());
  EXPECT_EQ(std::vector<int64_t>{30000}, clock->Sleeps());
  EXPECT_EQ(due + 5 * 3600, Number(kIbmiSection, "checkBinary"));
  KXPlatformInfo settings;
  EXPECT_FALSE(Has(settings, kIbmiSection, "packageChecked"));
}

TEST_F(IbmiCheckTest, CreatedJobQueueSkipsItsCheck) {
  RecordRegistry::Instance().SetClientProperty(kIbmiClient, "CreateJobQueue", RecordValue(true));
  InstallReplies();
  DaemonStartsAfter(1);
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  ASSERT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
  const std::vector<std::string> commands = tools.Commands();
  EXPECT_FALSE(AnyCommandHas(commands, "OBJTYPE(*JOBQ)"));
  EXPECT_TRUE(AnyCommandHas(commands, "JOBQ(*CREATE)"));
}

TEST_F(IbmiCheckTest, FailingStepTable) {
  struct Case {
    const char* pattern;
    const char* out;
    const char* err;
    const char* text;
    const char* notRun;  // a later command that must not run
  } cases[] = {
      {"OBJTYPE(*SBSD)", "", "CPF9801: Object KXSBS not found.", "Subsystem description not present.", "DLTF"},
      {"OBJTYPE(*JOBQ)", "", "CPF9801: Object KXJOBQ not found.", "Job Queue not present.", "DLTF"},
      {"CPYFRMSTMF", "", "CPFA095: Stream file not copied", "Can't copy the KXINSTPKG.savf file", "RSTLIB"},
      {"RSTLIB", "CPF3780: nothing", "", "Can't restore the installation data to KXINST", "SNDMSG"},
      {"INSKXTEL", "install ended", "", "Can't install the binaries on the client.", "RMVLNK"},
      {"RMVLNK", "", "CPFA0A7: Path name not found.", "Can't cleanup after install", "~"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    TearDown();
    SetUp();
    tools.AddCommandReply(c.pattern, c.out, c.err);
    InstallReplies();
    DaemonStartsAfter(1);
    std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
    CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
    EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_INSTALL_FAILED)) << result.AsString();
    EXPECT_NE(std::string::npos, result.AsString().find(c.text)) << result.AsString();
    EXPECT_FALSE(AnyCommandHas(tools.Commands(), c.notRun));
    EXPECT_EQ(0u, Number(kIbmiSection, "checkBinary"));
  }
}

// A copy whose hop failed says so, though its error output also trips the
// copy's own marker (any blank).
TEST_F(IbmiCheckTest, CopyHopFailureIsReportedAsSuch) {
  InstallReplies();
  ASSERT_TRUE(SimSshTools::WriteFile(tools.BaseHome() + "/kxpscp.exe",
                                     "#!/bin/sh\necho 'ssh: connect to host ibmi1 port 22: Connection refused' >&2\n"
                                     "echo 'lost connection' >&2\nexit 255\n",
                                     0755));
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_INSTALL_FAILED)) << result.AsString();
  EXPECT_NE(std::string::npos, result.AsString().find("Can't reach the client over ssh")) << result.AsString();
  EXPECT_EQ(std::string::npos, result.AsString().find("Can't copy package")) << result.AsString();
  EXPECT_FALSE(AnyCommandHas(tools.Commands(), "CPYFRMSTMF"));
}

TEST_F(IbmiCheckTest, BadValueTable) {
  struct Case {
    const char* property;
    RecordValue value;
    const char* text;
  } cases[] = {
      {"IBMiUserProfile", RecordValue("QSEC;rm"), "user profile"},
      {"SubsystemDesc", RecordValue("KX SBS"), "subsystem description"},
      {"SubsystemDesc", RecordValue("ABCDEFGHIJK"), "subsystem description"},
      {"JobQueue", RecordValue("KX\"Q"), "job queue"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.property);
    TearDown();
    SetUp();
    RecordRegistry::Instance().SetClientProperty(kIbmiClient, c.property, c.value);
    InstallReplies();
    std::unique_ptr<ClClientManager> manager(new ClClientManager("127.0.0.1", 1, kIbmiClient));
    CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
    if (!manager->isInitialized()) continue;  // refused when the data loaded
    EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_INSTALL_FAILED)) << result.AsString();
    EXPECT_NE(std::string::npos, result.AsString().find(c.text)) << result.AsString();
    EXPECT_EQ(1u, tools.Commands().size());  // the probe alone
  }
}

TEST_F(IbmiCheckTest, DaemonThatNeverStarts) {
  InstallReplies();
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_INSTALL_FAILED)) << result.AsString();
  EXPECT_NE(std::string::npos,
            result.AsString().find("Can't connect to the remote client using host name '127.0.0.1' and port '" +
                                   std::to_string(daemon->GetPort()) + "'."));
  EXPECT_EQ(std::vector<int64_t>(5, 30000), clock->Sleeps());
}

TEST_F(IbmiCheckTest, DaemonReachedAtTheFourthAttempt) {
  InstallReplies();
  DaemonStartsAfter(3);
  std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
  ASSERT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
  EXPECT_EQ(std::vector<int64_t>(3, 30000), clock->Sleeps());
}

// A data folder goes unquoted into the client's shell (mkdir) and into the
// copy destination that scp's remote side reads: anything but letters,
// digits, "_", ".", "/" and "-" is refused before an installation command
// runs, with the folder named.
TEST_F(IbmiCheckTest, DataFolderMetacharacterTable) {
  const std::string folders[] = {"/kxdata;reboot", "/kx&data", "/kx|data", "/kx<data", "/kx>data", "/kx*",
                                 "/kx(data)",      "/kx`id`",  "/kx$HOME", "/kx'a'",   "/kx\"a\"", "/kx\\a",
                                 "/kx data",       "/kx\tdata", "/kx\ndata", "/kx?",   "/kx[a]",   "/kx{a,b}",
                                 "/kx~",           "/kx!",     "/kx#a",    "/kx=a",    "/kx%a",    "/kx^a",
                                 "/kx:a",          "/kx@a",    "/kx+a",    "/kx,a",    "kxdata",   ""};
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    TearDown();
    SetUp();
    RecordRegistry::Instance().SetClientProperty(kIbmiClient, "IBMiDataFolder", RecordValue(folder));
    InstallReplies();
    std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
    CWqError result = manager->isClientInstalledAndUptodate(nullptr, 0);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
    EXPECT_NE(std::string::npos, result.AsString().find("data folder [" + folder + "]")) << result.AsString();
    EXPECT_EQ(1u, tools.Commands().size());  // the probe alone
    EXPECT_TRUE(tools.CopyCalls().empty());
    EXPECT_EQ(0u, Number(kIbmiSection, "checkBinary"));
  }
}

// A description that exists but cannot be read is no version: no remote
// call, a retry soon, and a log line naming the file and the reason.
TEST_F(IbmiCheckTest, UnreadableDescriptionTable) {
  ASSERT_FALSE(daemon->Start().IsError());
  const std::string path = tools.PackageFolder("iSeries") + "/pkginfo.dat";
  struct Case {
    const char* name;
    std::function<bool()> make;
    const char* reason;
  } cases[] = {
      {"socket", [&] { return BoundSocket(path); }, "No such device or address"},
      {"pipe without a writer", [&] { return ::mkfifo(path.c_str(), 0600) == 0; }, "not a regular file"},
      {"folder", [&] { return ::mkdir(path.c_str(), 0700) == 0; }, "not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KXPlatformInfo().deleteSection(kIbmiSection);
    SimSshTools::RemoveTree(path);
    ASSERT_TRUE(c.make());
    const size_t links = daemon->GetConnectionCount();
    ScopedCapture capture(-1);
    std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
    ASSERT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
    EXPECT_EQ(links, daemon->GetConnectionCount());
    EXPECT_TRUE(tools.SshCalls().empty());
    EXPECT_EQ(Now() + 120, Number(kIbmiSection, "checkBinary"));
    EXPECT_TRUE(capture.Has(path)) << c.name;
    EXPECT_TRUE(capture.Has(c.reason)) << c.name;
  }
  SimSshTools::RemoveTree(path);
}

}  // namespace
