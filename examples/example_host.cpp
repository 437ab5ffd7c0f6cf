// example_host: runs one job of the library with no configuration, against
// the simulated client side, prints its steps and ends with a summary table
// (ExampleOptions.h gives the command line, ExampleModes.h the modes).
//
// Exit status: 0 when the run completed, 1 when it failed (one line says
// why; --verbose adds the error chain), 2 for a bad command line (nothing is
// made), 130 when interrupted (what the run made is removed).
#include <cstdio>

#include <boost/shared_ptr.hpp>

#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleInterrupt.h"
#include "ExampleModes.h"
#include "ExampleOptions.h"
#include "ExampleStages.h"
#include "FXLogWriter.h"

namespace {

const char kLogName[] = "example_host.log";

// The library's log at the user's level: on stderr with --verbose, else in
// `path`. The writer made at load time read the user's own settings store;
// this run's is another.
bool InstallLogWriter(int level, const std::string& path) {
  boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
  writer->SetLevel(level);
  if (!path.empty() && !writer->SetDestination(path)) return false;
  g_ptrLogWriter = writer;
  return true;
}

// The output folder: the one named (made when missing), or a new one.
bool PrepareOutput(ExampleOptions& options, ScopedTreeRemoval& removal) {
  if (options.outputDir.empty()) {
    CWqError result = MakeTempFolder("proxy-example-output-", options.outputDir);
    if (result.IsError()) {
      std::fprintf(stderr, "example_host: %s\n", ReadableError(result).c_str());
      return false;
    }
    removal.Reset(options.outputDir);
    return true;
  }
  const std::string named = options.outputDir;
  CWqError result = MakeFolders(named);
  if (!result.IsError()) result = AbsoluteFolder(named, options.outputDir);
  if (result.IsError()) {
    std::fprintf(stderr, "example_host: --output %s: %s\n", named.c_str(), ReadableError(result).c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line, so that the steps and the log lines on stderr interleave
  // in the order they happen.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  ExampleOptions options;
  const ExampleMode* mode = nullptr;
  const int status = ParseExampleCommandLine(argc, argv, options, mode);
  if (status >= 0) return status;
  ExampleConsole::SetVerbosity(options.quiet     ? ExampleVerbosity::kQuiet
                               : options.verbose ? ExampleVerbosity::kVerbose
                                                 : ExampleVerbosity::kNormal);
  ExampleInterrupt::Install();

  const bool namedOutput = !options.outputDir.empty();
  ScopedTreeRemoval outputRemoval;
  if (!PrepareOutput(options, outputRemoval)) return 2;
  const std::string logPath = options.verbose ? std::string() : options.outputDir + "/" + kLogName;
  if (!InstallLogWriter(options.logLevel, logPath)) {
    std::fprintf(stderr, "example_host: cannot write the library's log %s\n", logPath.c_str());
    return 2;
  }
  ExampleConsole::SetLogPath(logPath);
  std::printf("output: %s (%s)\n", options.outputDir.c_str(), namedOutput ? "named" : "a new folder");
  std::printf("library log: %s, level %d\n", logPath.empty() ? "stderr" : logPath.c_str(), options.logLevel);

  const int result = mode->run(options);

  ExampleStages::Stop();
  std::FILE* out = ExampleConsole::Always();
  ExampleStages::PrintSummary(out);
  if (namedOutput) {
    std::fprintf(out, "kept: %s (the run's files%s)\n", options.outputDir.c_str(),
                 logPath.empty() ? "" : " and the library's log");
  } else if (result == 0 && !mode->keepsOutput) {
    std::fprintf(out, "removed: %s (nothing in it to keep; --output DIR keeps the run's files)\n",
                 options.outputDir.c_str());
  } else {
    outputRemoval.KeepAtEnd();
    std::fprintf(out, "kept: %s (the run's files%s)\n", options.outputDir.c_str(),
                 logPath.empty() ? "" : " and the library's log");
  }
  ExampleConsole::PrintKept(out);
  // The log writer's file closes before its folder may go.
  g_ptrLogWriter.reset();
  return result;
}
