// KxProcess: runs a local program and collects what it prints.
//
// No shell is involved. `system` reads its command line into words the way
// sh reads a simple command (blanks separate words; single quotes, double
// quotes and backslashes quote, and are removed; backslash-newline is
// removed), but expands nothing: no variables, no command substitution, no
// globbing, no operators, and "#" starts no comment. A NUL byte anywhere is
// refused. The first word names the program (looked up on PATH when it
// holds no "/").
//
// The child runs in a process group of its own with stdin on /dev/null and
// only the three standard descriptors, no signal blocked and every signal at
// its default, whatever the host blocks or ignores. Its standard and error
// output are read at the same time, so neither can block it on a full pipe;
// of each, the first `ConfiguredOutputCap()` bytes are kept and the rest is
// read and discarded, the kept text then ending in a line
// "[output cut: <n> more bytes were discarded]".
//
// Every run has a time limit: `Options::limitMs`, or when that is 0 (and
// always for the four-argument `system`) the configured one, the number
// "nRemoteCommandLimitSeconds" of the section "FileSystemAgent" (1800 s when
// absent or 0, at most a year). The child runs in real time, so the limit is
// kept on the system's monotonic clock whatever FXClock a test installs. It
// covers reading and the child's exit alike: at it the whole group is
// killed, the pipes are closed (a descendant that left the group may hold
// them) and the child is reaped within a short bound.
//
// Results: the exit status (0 to 255), 128 + the signal for a child ended by
// a signal, kTimedOut when the limit passed, kCouldNotRun when the line is
// empty, unbalanced or holds a NUL, the program cannot be started, or its
// outcome cannot be learned (the host ignores SIGCHLD, so the system reaped
// the child): the reason goes to `error`, after what the child printed there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CWqError.h"

class KxProcess {
 public:
  static constexpr int kCouldNotRun = -1;
  static constexpr int kTimedOut = -2;

  // The settings that bound a run, in the section "FileSystemAgent".
  static constexpr const char* kSettingsSection = "FileSystemAgent";
  static constexpr const char* kLimitSetting = "nRemoteCommandLimitSeconds";
  // Bytes kept of each output stream: 16 MiB when absent or 0, at most 1 GiB.
  static constexpr const char* kOutputCapSetting = "nCommandOutputCapBytes";

  struct Options {
    std::string workingFolder;                                       // empty: the caller's
    std::vector<std::pair<std::string, std::string>> environment;  // set for the child only
    int64_t limitMs = 0;                                             // 0: ConfiguredLimitMs()
  };

  // `flags` must be 0; `wait` must be true (the call always waits). Runs
  // with the configured limit.
  static int system(const std::string& line, std::string* output, std::string* error, int flags, bool wait);
  static int system(const std::string& line, const Options& options, std::string* output, std::string* error);
  static int run(const std::vector<std::string>& words, const Options& options, std::string* output,
                 std::string* error);

  // The words of `line` as sh would read them without expansion; EINVAL for
  // an unterminated quote, a trailing backslash or a NUL byte.
  static CWqError SplitWords(const std::string& line, std::vector<std::string>& words);
  // `value` quoted as one word that SplitWords (and sh) read back unchanged.
  static std::string QuoteWord(const std::string& value);

  // The limit and the output cap in force, read from the settings store (a
  // run reads the section once for both, so a change holds from the next).
  static int64_t ConfiguredLimitMs();
  static size_t ConfiguredOutputCap();
};
