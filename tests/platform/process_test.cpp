// The local process runner: its time limit on every path, the outcome when
// the host ignores SIGCHLD, the child's signals and descriptors, the cap on
// what it keeps, and the reading of a command line into words.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "FXClock.h"
#include "KXPlatformInfo.h"
#include "KxProcess.h"
#include "ScopedSettingsRoot.h"

namespace {

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// Every path that used to outlive the limit ends within it. The children
// would run for 8 s; a one-second limit must end each well before that.
TEST(ProcessLimitTest, EveryPathEndsAtTheLimit) {
  ScopedSettingsRoot root;
  const struct {
    const char* name;
    const char* line;
    bool fourArguments;  // the form that takes the configured limit
  } cases[] = {
      {"still printing", "/bin/sh -c 'echo started; sleep 8'", false},
      {"pipes closed, then asleep", "/bin/sh -c 'exec >&- 2>&-; sleep 8'", false},
      {"a descendant outside the group holds the pipes", "/bin/sh -c '/usr/bin/setsid sleep 8 & sleep 8'", false},
      {"the four-argument form", "/bin/sleep 8", true},
  };
  ASSERT_EQ(0, KXPlatformInfo().setNumber(KxProcess::kSettingsSection, KxProcess::kLimitSetting, 1));
  for (const auto& c : cases) {
    std::string out, err;
    KxProcess::Options options;
    options.limitMs = 1000;
    const auto start = std::chrono::steady_clock::now();
    const int status = c.fourArguments ? KxProcess::system(c.line, &out, &err, 0, true)
                                       : KxProcess::system(c.line, options, &out, &err);
    const int64_t elapsed = ElapsedMs(start);
    EXPECT_EQ(status, KxProcess::kTimedOut) << c.name;
    EXPECT_GE(elapsed, 900) << c.name;
    EXPECT_LT(elapsed, 5000) << c.name;
  }
}

// A child runs in real time: its limit holds whatever clock a test has
// installed, one that never moves included, for both forms of the limit.
TEST(ProcessLimitTest, LimitIsRealTimeUnderAVirtualClock) {
  ScopedSettingsRoot root;  // also a fresh folder for the child's pid
  ASSERT_FALSE(root.path().empty());
  ASSERT_EQ(0, KXPlatformInfo().setNumber(KxProcess::kSettingsSection, KxProcess::kLimitSetting, 1));
  FXScopedVirtualClock clock;
  const std::string pidFile = root.path() + "/child.pid";
  for (const int64_t limitMs : {int64_t(1000), int64_t(0)}) {
    SCOPED_TRACE(limitMs ? "the caller's limit" : "the configured limit");
    std::remove(pidFile.c_str());
    KxProcess::Options options;
    options.limitMs = limitMs;
    std::string out, err;
    const auto start = std::chrono::steady_clock::now();
    std::future<int> status = std::async(std::launch::async, [&] {
      return KxProcess::run({"/bin/sh", "-c", "echo $$ > \"$1\"; exec sleep 1000", "sh", pidFile}, options, &out,
                            &err);
    });
    if (status.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      // The limit did not hold: end the child, so that the call returns.
      ADD_FAILURE() << "the child outlived its limit";
      int pid = 0;
      std::ifstream(pidFile) >> pid;
      if (pid > 0) ::kill(pid, SIGKILL);
    }
    EXPECT_EQ(status.get(), KxProcess::kTimedOut);
    EXPECT_GE(ElapsedMs(start), 900);
  }
  EXPECT_TRUE(clock.clock().Sleeps().empty());
}

TEST(ProcessLimitTest, OutputBeforeTheLimitIsKept) {
  KxProcess::Options options;
  options.limitMs = 1000;
  std::string out, err;
  EXPECT_EQ(KxProcess::system("/bin/sh -c 'echo started; echo warned >&2; exec sleep 8'", options, &out, &err),
            KxProcess::kTimedOut);
  EXPECT_EQ(out, "started\n");
  EXPECT_EQ(err, "warned\n");
}

// Restores SIGCHLD's disposition whatever the test does.
class IgnoredChildSignal {
 public:
  IgnoredChildSignal() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &m_previous);
  }
  ~IgnoredChildSignal() { ::sigaction(SIGCHLD, &m_previous, nullptr); }

 private:
  struct sigaction m_previous;
};

// With SIGCHLD ignored the system reaps the child itself and its status is
// gone: that is no clean exit.
TEST(ProcessOutcomeTest, UnknownOutcomeIsNoSuccess) {
  IgnoredChildSignal ignored;
  for (const char* line : {"/bin/sh -c 'echo partial; exit 3'", "/bin/false", "/bin/true"}) {
    std::string out, err;
    EXPECT_EQ(KxProcess::system(line, KxProcess::Options(), &out, &err), KxProcess::kCouldNotRun) << line;
    EXPECT_NE(err.find("cannot tell how"), std::string::npos) << line << ": " << err;
  }
}

// Blocks and ignores signals in the calling thread for a scope.
class HostSignals {
 public:
  HostSignals() {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &m_mask);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &m_hup);
    ::sigaction(SIGQUIT, &ignore, &m_quit);
  }
  ~HostSignals() {
    ::sigaction(SIGHUP, &m_hup, nullptr);
    ::sigaction(SIGQUIT, &m_quit, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &m_mask, nullptr);
  }

 private:
  sigset_t m_mask;
  struct sigaction m_hup, m_quit;
};

// The child starts with no signal blocked or ignored, whatever the host has
// blocked or ignored, and a child ended by a signal says which.
TEST(ProcessOutcomeTest, ChildSignalsStartAtTheirDefaults) {
  HostSignals host;
  const struct {
    const char* line;
    int status;
  } cases[] = {
      {"/bin/sh -c 'exit 3'", 3},
      {"/bin/sh -c 'kill -TERM $$; exit 0'", 128 + SIGTERM},
      {"/bin/sh -c 'kill -INT $$; exit 0'", 128 + SIGINT},
      {"/bin/sh -c 'kill -HUP $$; exit 0'", 128 + SIGHUP},
      {"/bin/sh -c 'kill -KILL $$; exit 0'", 128 + SIGKILL},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(KxProcess::system(c.line, KxProcess::Options(), &out, &err), c.status) << c.line << ": " << err;
  }
  std::string out, err;
  ASSERT_EQ(KxProcess::run({"/bin/grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"}, KxProcess::Options(), &out,
                           &err),
            0)
      << err;
  // The C library keeps its own signals (32 and 33) to itself: signals 1-31.
  unsigned long long blocked = ~0ULL, ignored = ~0ULL;
  ASSERT_EQ(2, std::sscanf(out.c_str(), "SigBlk: %llx SigIgn: %llx", &blocked, &ignored)) << out;
  EXPECT_EQ(blocked & 0x7fffffffULL, 0u) << out;
  EXPECT_EQ(ignored & 0x7fffffffULL, 0u) << out;
}

TEST(ProcessOutcomeTest, OnlyTheStandardDescriptorsReachTheChild) {
  int leaked[2];
  ASSERT_EQ(0, ::pipe(leaked));  // no close-on-exec on purpose
  std::string out, err;
  EXPECT_EQ(KxProcess::run({"/bin/ls", "/proc/self/fd"}, KxProcess::Options(), &out, &err), 0) << err;
  ::close(leaked[0]);
  ::close(leaked[1]);
  // ls's own descriptor on the folder it lists is 3.
  EXPECT_EQ(out, "0\n1\n2\n3\n");
}

// Beyond the cap a stream is read on and thrown away, and its text says so.
TEST(ProcessOutputTest, WhatIsKeptIsCapped) {
  ScopedSettingsRoot root;
  ASSERT_EQ(0, KXPlatformInfo().setNumber(KxProcess::kSettingsSection, KxProcess::kOutputCapSetting, 100000));
  std::string out, err;
  ASSERT_EQ(KxProcess::system("/bin/sh -c 'head -c 300000 /dev/zero | tr \"\\\\0\" a; echo b >&2; exit 5'",
                              KxProcess::Options(), &out, &err),
            5);
  EXPECT_EQ(out.find_first_not_of('a'), 100000u);
  EXPECT_EQ(out.substr(100000), "\n[output cut: 200000 more bytes were discarded]\n");
  EXPECT_EQ(err, "b\n");

  // A child that never stops printing still ends at the limit, holding no
  // more than the cap.
  KxProcess::Options options;
  options.limitMs = 1000;
  EXPECT_EQ(KxProcess::system("/usr/bin/yes", options, &out, &err), KxProcess::kTimedOut);
  EXPECT_LT(out.size(), 100100u);
  EXPECT_NE(out.find("[output cut: "), std::string::npos);
}

// Both bounds come from the store as it stands at each run: a change holds
// from the next command on.
TEST(ProcessOutputTest, ChangedSettingsHoldFromTheNextRun) {
  ScopedSettingsRoot root;
  KXPlatformInfo settings;
  ASSERT_EQ(0, settings.setNumber(KxProcess::kSettingsSection, KxProcess::kOutputCapSetting, 10));
  ASSERT_EQ(0, settings.setNumber(KxProcess::kSettingsSection, KxProcess::kLimitSetting, 1));
  std::string out, err;
  EXPECT_EQ(KxProcess::system("/bin/sh -c 'printf 0123456789abcdef; exec sleep 8'", &out, &err, 0, true),
            KxProcess::kTimedOut);
  EXPECT_EQ(out, "0123456789\n[output cut: 6 more bytes were discarded]\n");

  ASSERT_EQ(0, settings.setNumber(KxProcess::kSettingsSection, KxProcess::kOutputCapSetting, 100));
  ASSERT_EQ(0, settings.setNumber(KxProcess::kSettingsSection, KxProcess::kLimitSetting, 30));
  EXPECT_EQ(KxProcess::system("/bin/sh -c 'sleep 2; printf 0123456789abcdef'", &out, &err, 0, true), 0) << err;
  EXPECT_EQ(out, "0123456789abcdef");
  EXPECT_EQ(KxProcess::ConfiguredLimitMs(), 30000);
  EXPECT_EQ(KxProcess::ConfiguredOutputCap(), 100u);
}

TEST(ProcessWordsTest, SplittingTable) {
  const struct {
    std::string line;
    std::vector<std::string> words;
  } cases[] = {
      {"a 'b c' \"d $HOME `x`\" e\\ f", {"a", "b c", "d $HOME `x`", "e f"}},
      {"'it'\\''s' \"q\\\"\\\\\"", {"it's", "q\"\\"}},
      {"x*  ;  y", {"x*", ";", "y"}},
      {"", {}},
      {"'' \"\"", {"", ""}},
      {"a \\\n b", {"a", "b"}},
      {"\\\n", {}},
      {"a\\\nb", {"ab"}},
      {"\"a\\\nb\"", {"ab"}},
      {"a # b #c", {"a", "#", "b", "#c"}},  // no shell runs: "#" starts no comment
  };
  for (const auto& c : cases) {
    std::vector<std::string> words;
    ASSERT_FALSE(KxProcess::SplitWords(c.line, words).IsError()) << c.line;
    EXPECT_EQ(words, c.words) << c.line;
  }
  for (const std::string& bad : {std::string("'open"), std::string("a\\"), std::string("\"open"),
                                 std::string("a\0b c", 5), std::string("'a\0b'", 5)}) {
    std::vector<std::string> words;
    EXPECT_TRUE(KxProcess::SplitWords(bad, words).IsError()) << bad;
  }
  std::string out, err;
  EXPECT_EQ(KxProcess::system(std::string("/bin/echo a\0b", 13), KxProcess::Options(), &out, &err),
            KxProcess::kCouldNotRun);
  EXPECT_EQ(out, "");
  for (const char* value : {"", "'", "a'b'c", "\\", "$(x)", "#"}) {
    std::vector<std::string> words;
    ASSERT_FALSE(KxProcess::SplitWords(KxProcess::QuoteWord(value), words).IsError());
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0], value);
  }
}

TEST(ProcessOutputTest, BothStreamsBeyondAPipeBuffer) {
  std::string out, err;
  const int status = KxProcess::system(
      "/bin/sh -c 'head -c 300000 /dev/zero | tr \"\\\\0\" a; head -c 200000 /dev/zero | tr \"\\\\0\" b >&2; exit 4'",
      &out, &err, 0, true);
  EXPECT_EQ(status, 4);
  EXPECT_EQ(out, std::string(300000, 'a'));
  EXPECT_EQ(err, std::string(200000, 'b'));
}

TEST(ProcessOutcomeTest, StdinIsNullAndGroupIsOwn) {
  std::string out, err;
  ASSERT_EQ(KxProcess::system("/bin/sh -c 'cat; cut -d\" \" -f5 /proc/$$/stat'", &out, &err, 0, true), 0);
  // Nothing to read, and the group is the child's own.
  EXPECT_NE(std::stoi(out), static_cast<int>(::getpgrp()));
  EXPECT_EQ(KxProcess::system("/nonexistent/tool", &out, &err, 0, true), KxProcess::kCouldNotRun);
  EXPECT_NE(err.find("/nonexistent/tool"), std::string::npos);
}

}  // namespace
