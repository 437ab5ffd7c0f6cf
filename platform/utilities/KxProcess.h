// KxProcess: runs a local program and collects what it prints.
//
// No shell is involved. `system` reads its command line into words the way
// sh reads a simple command (blanks separate words; single quotes, double
// quotes and backslashes quote, and are removed), but expands nothing: no
// variables, no command substitution, no globbing, no operators. The first
// word names the program (looked up on PATH when it holds no "/").
//
// The child runs in a process group of its own with stdin on /dev/null; its
// standard and error output are read at the same time and in full, so
// neither can block it on a full pipe. A child still running when the time
// limit has passed on the platform clock is killed with its whole group.
//
// Results: the exit status (0 to 255), 128 + the signal for a child ended by
// a signal, kCouldNotRun when the line is empty or unbalanced or the program
// cannot be started (the reason goes to `error`), kTimedOut when the child
// was killed at the limit.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CWqError.h"

class KxProcess {
 public:
  static constexpr int kCouldNotRun = -1;
  static constexpr int kTimedOut = -2;

  struct Options {
    std::string workingFolder;                                       // empty: the caller's
    std::vector<std::pair<std::string, std::string>> environment;  // set for the child only
    int64_t limitMs = 0;                                             // 0: no limit
  };

  // `flags` must be 0; `wait` must be true (the call always waits).
  static int system(const std::string& line, std::string* output, std::string* error, int flags, bool wait);
  static int system(const std::string& line, const Options& options, std::string* output, std::string* error);
  static int run(const std::vector<std::string>& words, const Options& options, std::string* output,
                 std::string* error);

  // The words of `line` as sh would read them without expansion; EINVAL for
  // an unterminated quote or a trailing backslash.
  static CWqError SplitWords(const std::string& line, std::vector<std::string>& words);
  // `value` quoted as one word that SplitWords (and sh) read back unchanged.
  static std::string QuoteWord(const std::string& value);
};
