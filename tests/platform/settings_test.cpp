#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FXLogStartup.h"
#include "KXPlatformInfo.h"
#include "ScopedSettingsRoot.h"
#include "SettingsStorage.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(root_.path().empty()); }

  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  ScopedSettingsRoot root_;
  KXPlatformInfo settings_;
};

TEST_F(SettingsTest, EachValueKindRoundTrips) {
  ASSERT_EQ(0, settings_.setNumber("FileSystemAgent", "big", ULONG_MAX));
  ASSERT_EQ(0, settings_.setNumber("FileSystemAgent", "zero", 0));
  ASSERT_EQ(0, settings_.setString("ProxyClients", "dynamicPortRange", "9500-9600", 9));
  ASSERT_EQ(0, settings_.setString("ProxyClients", "empty", "", 0));
  ASSERT_EQ(0, settings_.setBoolean("ProxyClients", "nMLBMode", true));

  unsigned long n = 7;
  EXPECT_NE(0, settings_.getNumber("FileSystemAgent", "big", &n));
  EXPECT_EQ(ULONG_MAX, n);
  EXPECT_NE(0, settings_.getNumber("FileSystemAgent", "zero", &n));
  EXPECT_EQ(0ul, n);
  std::string s = "preset";
  EXPECT_NE(0, settings_.getString("ProxyClients", "dynamicPortRange", &s));
  EXPECT_EQ("9500-9600", s);
  EXPECT_NE(0, settings_.getString("ProxyClients", "empty", &s));
  EXPECT_EQ("", s);
  bool b = false;
  EXPECT_NE(0, settings_.getBoolean("ProxyClients", "nMLBMode", &b));
  EXPECT_TRUE(b);

  // A later write replaces the value, whatever its kind was.
  ASSERT_EQ(0, settings_.setNumber("ProxyClients", "nMLBMode", 0));
  b = true;
  EXPECT_NE(0, settings_.getBoolean("ProxyClients", "nMLBMode", &b));
  EXPECT_FALSE(b);
  // Numbers and booleans read as each other; a string only as a string.
  EXPECT_NE(0, settings_.getNumber("ProxyClients", "nMLBMode", &n));
  EXPECT_EQ(0ul, n);
  n = 42;
  EXPECT_EQ(0, settings_.getNumber("ProxyClients", "dynamicPortRange", &n));
  EXPECT_EQ(42ul, n);
}

TEST_F(SettingsTest, AbsentValueLeavesOutValueUntouched) {
  ASSERT_EQ(0, settings_.setNumber("FileSystemAgent", "other", 1));
  for (const char* section : {"FileSystemAgent", "NoSuchSection"}) {
    unsigned long n = 1234;
    std::string s = "default";
    bool b = true;
    EXPECT_EQ(0, settings_.getNumber(section, "missing", &n)) << section;
    EXPECT_EQ(0, settings_.getString(section, "missing", &s)) << section;
    EXPECT_EQ(0, settings_.getBoolean(section, "missing", &b)) << section;
    EXPECT_EQ(1234ul, n);
    EXPECT_EQ("default", s);
    EXPECT_TRUE(b);
  }
}

TEST_F(SettingsTest, TildeNamesTheSameSection) {
  const std::string section = "ProxyClients/ibmi1";
  ASSERT_EQ(0, settings_.setString(section, "CleanUpFolder", "/tmp/dr", 7));
  ASSERT_EQ(0, settings_.setString(section, "CleanUpFolderJob", "77", 2));
  std::string s;
  EXPECT_NE(0, settings_.getString("~" + section, "CleanUpFolder", &s));
  EXPECT_EQ("/tmp/dr", s);

  EXPECT_EQ(0, settings_.delRegField("~" + section, "CleanUpFolder"));
  s = "kept";
  EXPECT_EQ(0, settings_.getString(section, "CleanUpFolder", &s));
  EXPECT_EQ("kept", s);
  EXPECT_NE(0, settings_.getString(section, "CleanUpFolderJob", &s));
  // Deleting what is not there is no failure.
  EXPECT_EQ(0, settings_.deleteField(section, "CleanUpFolder"));
}

TEST_F(SettingsTest, DeleteSectionTakesOnlyThatSection) {
  ASSERT_EQ(0, settings_.setNumber("ProxyClients/a", "blockUpdate", 1));
  ASSERT_EQ(0, settings_.setNumber("ProxyClients/a", "packageChecked", 2));
  ASSERT_EQ(0, settings_.setNumber("ProxyClients/ab", "blockUpdate", 3));
  ASSERT_EQ(0, settings_.setNumber("ProxyClients", "blockUpdate", 4));

  EXPECT_EQ(0, settings_.deleteSection("ProxyClients/a"));
  unsigned long n = 99;
  EXPECT_EQ(0, settings_.getNumber("ProxyClients/a", "blockUpdate", &n));
  EXPECT_EQ(0, settings_.getNumber("ProxyClients/a", "packageChecked", &n));
  EXPECT_NE(0, settings_.getNumber("ProxyClients/ab", "blockUpdate", &n));
  EXPECT_EQ(3ul, n);
  EXPECT_NE(0, settings_.getNumber("ProxyClients", "blockUpdate", &n));
  EXPECT_EQ(4ul, n);
  struct stat st;
  EXPECT_NE(0, ::stat(SettingsStorage::SectionPath(root_.path(), "ProxyClients/a").c_str(), &st));
  EXPECT_EQ(0, settings_.deleteSection("NeverWritten"));
}

TEST_F(SettingsTest, StringsAndNamesKeepEveryByte) {
  const std::string value("a\0b=c\nd\re%41%\x7f\xff\x01 end ", 21);
  const std::string name("odd=name\nwith%/", 15);
  ASSERT_EQ(0, settings_.setString("Odd", name, value.data(), value.size()));
  ASSERT_EQ(0, settings_.setString("Odd", "plain", "x", 1));
  std::string s;
  ASSERT_NE(0, settings_.getString("Odd", name, &s));
  EXPECT_EQ(value, s);
  EXPECT_NE(0, settings_.getString("Odd", "plain", &s));
  EXPECT_EQ("x", s);
  // One line per value in the file: nothing of the value broke the format.
  std::string file = ReadFile(SettingsStorage::SectionPath(root_.path(), "Odd"));
  EXPECT_EQ(2, std::count(file.begin(), file.end(), '\n')) << file;
  EXPECT_EQ(std::string::npos, file.find('\0'));
}

TEST_F(SettingsTest, SectionNamesMapToDistinctFilesInsideTheRoot) {
  const std::vector<std::string> sections = {"ProxyClients/a", "ProxyClients%2Fa", "ProxyClients_a",
                                             "../escape", ".", "", "~"};
  for (size_t i = 0; i < sections.size(); ++i)
    ASSERT_EQ(0, settings_.setNumber(sections[i], "v", i)) << sections[i];
  for (size_t i = 0; i < sections.size(); ++i) {
    unsigned long n = 1000;
    // "~" names the same section as "", which the last write set.
    size_t expected = sections[i] == "" ? sections.size() - 1 : i;
    EXPECT_NE(0, settings_.getNumber(sections[i], "v", &n)) << sections[i];
    EXPECT_EQ(expected, n) << sections[i];
    std::string path = SettingsStorage::SectionPath(root_.path(), sections[i]);
    EXPECT_EQ(root_.path() + "/", path.substr(0, root_.path().size() + 1));
    EXPECT_EQ(std::string::npos, path.find('/', root_.path().size() + 1)) << path;
  }
}

TEST_F(SettingsTest, LinesThatDoNotParseSurviveRewrites) {
  ASSERT_EQ(0, settings_.setNumber("Hand", "good", 5));
  std::string path = SettingsStorage::SectionPath(root_.path(), "Hand");
  {
    std::ofstream out(path, std::ios::app);
    out << "# a comment\nno equals sign here\nbad=n:notanumber\n";
  }
  ASSERT_EQ(0, settings_.setNumber("Hand", "later", 6));
  unsigned long n = 0;
  EXPECT_NE(0, settings_.getNumber("Hand", "good", &n));
  EXPECT_EQ(5ul, n);
  EXPECT_EQ(0, settings_.getNumber("Hand", "bad", &n));
  std::string file = ReadFile(path);
  EXPECT_NE(std::string::npos, file.find("no equals sign here\n"));
  EXPECT_NE(std::string::npos, file.find("bad=n:notanumber\n"));
}

// Several processes and threads write distinct values into one section and
// a second one at the same time; every value must be there afterwards.
TEST_F(SettingsTest, ConcurrentWritersLoseNoValue) {
  const int kProcesses = 4, kThreads = 4, kValues = 20;
  auto writeValues = [](const std::string& prefix) {
    KXPlatformInfo settings;
    for (int i = 0; i < kValues; ++i) {
      std::string name = prefix + std::to_string(i);
      if (settings.setNumber("Shared", name, static_cast<unsigned long>(i)) != 0) return false;
      if (settings.setString("Shared/" + prefix, name, name.data(), name.size()) != 0)
        return false;
    }
    return true;
  };

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(writeValues("p" + std::to_string(p) + "_") ? 0 : 1);
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  std::vector<char> ok(kThreads, 0);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] { ok[t] = writeValues("t" + std::to_string(t) + "_"); });
  for (std::thread& t : threads) t.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (char c : ok) EXPECT_TRUE(c);

  std::vector<std::string> prefixes;
  for (int p = 0; p < kProcesses; ++p) prefixes.push_back("p" + std::to_string(p) + "_");
  for (int t = 0; t < kThreads; ++t) prefixes.push_back("t" + std::to_string(t) + "_");
  for (const std::string& prefix : prefixes) {
    for (int i = 0; i < kValues; ++i) {
      std::string name = prefix + std::to_string(i);
      unsigned long n = 999;
      std::string s;
      EXPECT_NE(0, settings_.getNumber("Shared", name, &n)) << name;
      EXPECT_EQ(static_cast<unsigned long>(i), n);
      EXPECT_NE(0, settings_.getString("Shared/" + prefix, name, &s)) << name;
      EXPECT_EQ(name, s);
    }
  }
}

TEST_F(SettingsTest, UnwritableRootFailsWritesAndReadsFindNothing) {
  std::string file = root_.path() + "/plainfile";
  { std::ofstream(file) << "x"; }
  ::setenv("PROXY_SETTINGS_ROOT", (file + "/below").c_str(), 1);
  EXPECT_EQ(-1, settings_.setNumber("S", "v", 1));
  EXPECT_EQ(-1, settings_.setString(std::string("S"), "v", nullptr, 3));
  unsigned long n = 5;
  EXPECT_EQ(0, settings_.getNumber("S", "v", &n));
  EXPECT_EQ(5ul, n);
  ::setenv("PROXY_SETTINGS_ROOT", root_.path().c_str(), 1);
}

// What another user could plant in or around the store is refused: the
// root itself (however it was named), a section file, the lock file. A
// refused root or file gives no value, fails writes, and says what is
// wrong with which path.
TEST_F(SettingsTest, PlantedFilesAreRefused) {
  const uid_t other = 65534;
  const struct {
    const char* name;
    std::function<void(const std::string& root)> plant;
    const char* complaint;  // in the error of a read
    bool needsRoot;         // only a superuser can give a file away
  } cases[] = {
      {"root writable by others", [](const std::string& r) { ::chmod(r.c_str(), 0777); }, "writable by group or others",
       false},
      {"root writable by its group", [](const std::string& r) { ::chmod(r.c_str(), 0770); },
       "writable by group or others", false},
      {"root of another user", [&](const std::string& r) { ASSERT_EQ(0, ::chown(r.c_str(), other, other)); },
       "belongs to user 65534", true},
      {"section file writable by others",
       [](const std::string& r) { ::chmod(SettingsStorage::SectionPath(r, "S").c_str(), 0666); },
       "writable by group or others", false},
      {"section file of another user",
       [&](const std::string& r) { ASSERT_EQ(0, ::chown(SettingsStorage::SectionPath(r, "S").c_str(), other, other)); },
       "belongs to user 65534", true},
      {"section file is a link",
       [](const std::string& r) {
         const std::string path = SettingsStorage::SectionPath(r, "S");
         ASSERT_EQ(0, ::rename(path.c_str(), (r + "/elsewhere").c_str()));
         ASSERT_EQ(0, ::symlink((r + "/elsewhere").c_str(), path.c_str()));
       },
       "symbolic link", false},
      {"section file is a FIFO",
       [](const std::string& r) {
         const std::string path = SettingsStorage::SectionPath(r, "S");
         ASSERT_EQ(0, ::unlink(path.c_str()));
         ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
       },
       "not a regular file", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) continue;
    ScopedSettingsRoot root;
    KXPlatformInfo settings;
    ASSERT_EQ(0, settings.setNumber("S", "v", 7));
    c.plant(root.path());
    unsigned long n = 5;
    EXPECT_EQ(0, settings.getNumber("S", "v", &n));
    EXPECT_EQ(5ul, n);
    SettingsSection section;
    CWqError read = SettingsStorage::Read(root.path(), "S", &section);
    ASSERT_TRUE(read.IsError());
    EXPECT_NE(std::string::npos, read.AsString().find(c.complaint)) << read.AsString();
    EXPECT_NE(std::string::npos, read.AsString().find(root.path())) << read.AsString();
    EXPECT_EQ(-1, settings.setNumber("S", "v", 8));
  }

  // A lock file that is a link is refused too, and nothing is written.
  ScopedSettingsRoot root;
  const std::string victim = root.path() + "/victim";
  { std::ofstream(victim) << "mine"; }
  ASSERT_EQ(0, ::symlink(victim.c_str(), (root.path() + "/.lock").c_str()));
  EXPECT_EQ(-1, KXPlatformInfo().setNumber("S", "v", 1));
  EXPECT_NE(0, ::access(SettingsStorage::SectionPath(root.path(), "S").c_str(), F_OK));
}

// A link named like a temporary of the old fixed name is never written
// through: temporaries are new files of unique names.
TEST_F(SettingsTest, WritesNeverFollowALinkToAnotherFile) {
  const std::string victim = root_.path() + "/../" + "victim-of-settings-" + std::to_string(::getpid());
  { std::ofstream(victim) << "mine"; }
  const std::string path = SettingsStorage::SectionPath(root_.path(), "S");
  ASSERT_EQ(0, ::symlink(victim.c_str(), (path + ".tmp").c_str()));
  ASSERT_EQ(0, settings_.setNumber("S", "v", 3));
  unsigned long n = 0;
  EXPECT_NE(0, settings_.getNumber("S", "v", &n));
  EXPECT_EQ(3ul, n);
  EXPECT_EQ("mine", ReadFile(victim));
  ::unlink(victim.c_str());
  ::unlink((path + ".tmp").c_str());
}

// A write killed before its rename leaves its temporary behind; the next
// write of that section, holding the store's lock, removes it. Only regular
// files of exactly the temporaries' names go: a link (never followed), a
// folder and every other name stay.
TEST_F(SettingsTest, WritesRemoveTemporariesOfKilledWrites) {
  ASSERT_EQ(0, settings_.setNumber("S", "v", 1));
  ASSERT_EQ(0, settings_.setNumber("T", "v", 1));
  const std::string path = SettingsStorage::SectionPath(root_.path(), "S");
  const std::string victim = root_.path() + "/victim";
  { std::ofstream(victim) << "mine"; }
  const auto file = [](const std::string& p) { std::ofstream out(p); };
  const struct {
    std::string name;
    std::function<void(const std::string& path)> plant;
    bool removed;
  } cases[] = {
      {path + ".tmp-abcdefABC123", [](const std::string& p) { std::ofstream(p.c_str()) << "v=half"; }, true},
      {path + ".tmp-000000000000", file, true},
      {path + ".tmp-Zyxwvu987654", [&](const std::string& p) { ASSERT_EQ(0, ::symlink(victim.c_str(), p.c_str())); },
       false},
      {path + ".tmp-folder12345X", [](const std::string& p) { ASSERT_EQ(0, ::mkdir(p.c_str(), 0700)); }, false},
      {path + ".tmp-short", file, false},
      {path + ".tmp-abcdefABC1234", file, false},
      {path + ".tmp-abc.def_ghi-", file, false},
      {path + ".tmpXabcdefABC123", file, false},
      {path + ".tmp", file, false},
      {SettingsStorage::SectionPath(root_.path(), "T") + ".tmp-abcdefABC123", file, false},
  };
  for (const auto& c : cases) c.plant(c.name);

  ASSERT_EQ(0, settings_.setNumber("S", "v", 2));
  for (const auto& c : cases) {
    struct stat st;
    EXPECT_EQ(c.removed, ::lstat(c.name.c_str(), &st) != 0) << c.name;
  }
  EXPECT_EQ("mine", ReadFile(victim));
  unsigned long n = 0;
  EXPECT_NE(0, settings_.getNumber("S", "v", &n));
  EXPECT_EQ(2ul, n);
}

TEST_F(SettingsTest, CentralServerClientName) {
  char buffer[8] = "garbage";
  EXPECT_EQ(0, settings_.getZentraverClientName(buffer, sizeof buffer));
  EXPECT_EQ('\0', buffer[0]);
  ASSERT_EQ(0, settings_.setString("Zentraver", "sClientName", "central01", 9));
  EXPECT_EQ(7, settings_.getZentraverClientName(buffer, sizeof buffer));
  EXPECT_STREQ("central", buffer);
  char big[256];
  EXPECT_EQ(9, settings_.getZentraverClientName(big, sizeof big));
  EXPECT_STREQ("central01", big);
}

TEST(SettingsRootTest, DefaultsFollowTheEnvironment) {
  struct Saved {
    const char* name;
    bool had;
    std::string value;
  } saved[] = {{"PROXY_SETTINGS_ROOT", false, ""}, {"XDG_CONFIG_HOME", false, ""},
               {"HOME", false, ""}};
  for (Saved& s : saved)
    if (const char* v = std::getenv(s.name)) s.had = true, s.value = v;

  ::setenv("PROXY_SETTINGS_ROOT", "/r", 1);
  ::setenv("XDG_CONFIG_HOME", "/x", 1);
  ::setenv("HOME", "/h", 1);
  EXPECT_EQ("/r", KXPlatformInfo::RootDirectory());
  ::unsetenv("PROXY_SETTINGS_ROOT");
  EXPECT_EQ("/x/proxyagent/settings", KXPlatformInfo::RootDirectory());
  ::setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ("/h/.config/proxyagent/settings", KXPlatformInfo::RootDirectory());
  ::unsetenv("HOME");
  EXPECT_EQ("/tmp/proxyagent-settings-" + std::to_string(::getuid()),
            KXPlatformInfo::RootDirectory());

  for (Saved& s : saved) {
    if (s.had)
      ::setenv(s.name, s.value.c_str(), 1);
    else
      ::unsetenv(s.name);
  }
}

TEST(ScopedSettingsRootTest, RemovesItsFolderAndRestoresTheVariable) {
  ::setenv("PROXY_SETTINGS_ROOT", "/somewhere/else", 1);
  std::string path;
  {
    ScopedSettingsRoot root;
    path = root.path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path, KXPlatformInfo::RootDirectory());
    KXPlatformInfo settings;
    ASSERT_EQ(0, settings.setNumber("Nested/Section", "v", 1));
  }
  struct stat st;
  EXPECT_NE(0, ::stat(path.c_str(), &st));
  EXPECT_EQ("/somewhere/else", KXPlatformInfo::RootDirectory());
  ::unsetenv("PROXY_SETTINGS_ROOT");
}

}  // namespace

TEST(LogStartupTest, SettingsConfigureTheWriterAndTheEnvironmentOverrides) {
  ScopedSettingsRoot root;
  KXPlatformInfo settings;
  ASSERT_EQ(0, settings.setNumber("FileSystemAgent", "ProxyLogLevel", 3));
  ASSERT_EQ(0, settings.setNumber("FileSystemAgent", "ProxyLogMask", 8));
  boost::shared_ptr<FXLogWriter> writer = FXLogWriterFromSettings();
  EXPECT_EQ(3, writer->GetLevel());
  EXPECT_EQ(8u, writer->GetCategoryMask());

  const char* saved = std::getenv("PROXY_LOG_LEVEL");
  const std::string previous = saved ? saved : "";
  ::setenv("PROXY_LOG_LEVEL", "5", 1);
  writer = FXLogWriterFromSettings();
  if (saved) ::setenv("PROXY_LOG_LEVEL", previous.c_str(), 1);
  else ::unsetenv("PROXY_LOG_LEVEL");
  EXPECT_EQ(5, writer->GetLevel());
  EXPECT_EQ(8u, writer->GetCategoryMask());
}
