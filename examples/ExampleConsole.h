// ExampleConsole: what the example host shows its user, at three levels.
//
//   --quiet    the summary table and errors only (stdout is silenced for
//              everything else)
//   (default)  one line per step of each phase, the summary table
//   --verbose  also a line per item, and the library's log on stderr
//
// Per-item lines go through ExampleDetail. A failure is reported with one
// readable line first (ReportFailure); the whole error chain follows only
// with --verbose, else the log file is named.
#pragma once

#include <cstdio>
#include <string>

#include "CWqError.h"

enum class ExampleVerbosity { kQuiet, kNormal, kVerbose };

namespace ExampleConsole {

// Once, before anything is printed.
void SetVerbosity(ExampleVerbosity verbosity);
ExampleVerbosity Verbosity();
bool Verbose();

// Where the summary and the closing lines go, whatever the level.
std::FILE* Always();

// Where the library's log goes: a file, or "" for stderr (--verbose).
void SetLogPath(const std::string& path);
const std::string& LogPath();

// A folder the run keeps besides the output folder, named at the end.
void NoteKept(const std::string& path, const std::string& what);
// Prints "kept: <path> (<what>)" for each on `out`.
void PrintKept(std::FILE* out);

}  // namespace ExampleConsole

// A line for one item: printed with --verbose only.
void ExampleDetail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "example_host: the <what> failed: <what went wrong>" on stderr, then the
// chain (--verbose) or where to find it.
void ReportFailure(const CWqError& error, const char* what);

// The one line of `error` a user reads: its texts, the cause last.
std::string ReadableError(const CWqError& error);

// "1 file", "2 files".
std::string Counted(unsigned long long count, const char* singular, const char* plural);
