// example_host: runs one job of the library with no configuration, against
// the simulated client side, and prints every step (ExampleOptions.h gives
// the command line, ExampleModes.h the modes).
//
// Exit status: 0 when the job completed, 1 when it failed (the error chain
// is printed), 2 for a bad command line.
#include <cstdio>

#include <boost/shared_ptr.hpp>

#include "ExampleModes.h"
#include "ExampleOptions.h"
#include "FXLogWriter.h"

namespace {

// The library's log lines on stderr at the user's level. The writer made at
// load time read the user's own settings store; this run's is another.
void InstallLogWriter(int level) {
  boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
  writer->SetLevel(level);
  g_ptrLogWriter = writer;
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
  InstallLogWriter(options.logLevel);
  return mode->run(options);
}
