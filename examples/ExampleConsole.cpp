#include "ExampleConsole.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <utility>
#include <vector>

namespace ExampleConsole {

namespace {

ExampleVerbosity g_verbosity = ExampleVerbosity::kNormal;
std::FILE* g_always = nullptr;
std::string g_sLogPath;
std::vector<std::pair<std::string, std::string>> g_kept;

}  // namespace

void SetVerbosity(ExampleVerbosity verbosity) {
  g_verbosity = verbosity;
  if (verbosity != ExampleVerbosity::kQuiet || g_always) return;
  // The steps print on stdout from every part of the run; --quiet points
  // stdout at /dev/null and keeps a stream of its own on the real one.
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved < 0 || null < 0) {
    if (saved >= 0) ::close(saved);
    if (null >= 0) ::close(null);
    return;
  }
  ::fcntl(saved, F_SETFD, FD_CLOEXEC);
  g_always = ::fdopen(saved, "w");
  if (!g_always) {
    ::close(saved);
    ::close(null);
    return;
  }
  std::setvbuf(g_always, nullptr, _IOLBF, 0);
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
}

ExampleVerbosity Verbosity() { return g_verbosity; }
bool Verbose() { return g_verbosity == ExampleVerbosity::kVerbose; }
std::FILE* Always() { return g_always ? g_always : stdout; }

void SetLogPath(const std::string& path) { g_sLogPath = path; }
const std::string& LogPath() { return g_sLogPath; }

void NoteKept(const std::string& path, const std::string& what) { g_kept.emplace_back(path, what); }

void PrintKept(std::FILE* out) {
  for (const auto& kept : g_kept) std::fprintf(out, "kept: %s (%s)\n", kept.first.c_str(), kept.second.c_str());
}

}  // namespace ExampleConsole

void ExampleDetail(const char* format, ...) {
  if (!ExampleConsole::Verbose()) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

std::string ReadableError(const CWqError& error) {
  // Newest frame first: what the run was doing, down to the cause.
  std::string line;
  const std::vector<FXErrorFrame> frames = error.GetFrames();
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    // A frame's text may quote a whole chain of its own: its first line.
    const std::string text = it->text.substr(0, it->text.find('\n'));
    if (text.empty()) continue;
    if (!line.empty()) line += ": ";
    line += text;
  }
  if (line.empty()) line = error.AsString(ERROR_OUTPUT_ONE_LINE);
  return line;
}

void ReportFailure(const CWqError& error, const char* what) {
  std::fflush(stdout);
  std::fprintf(stderr, "example_host: the %s failed: %s\n", what, ReadableError(error).c_str());
  if (ExampleConsole::Verbose()) {
    std::fprintf(stderr, "the error chain:\n%s\n", error.AsString().c_str());
  } else if (!ExampleConsole::LogPath().empty()) {
    std::fprintf(stderr, "example_host: --verbose shows the error chain; the library's log is %s\n",
                 ExampleConsole::LogPath().c_str());
  } else {
    std::fprintf(stderr, "example_host: --verbose shows the error chain\n");
  }
}

std::string Counted(unsigned long long count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}
