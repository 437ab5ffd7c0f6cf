// ExampleOptions: the command line of the example host.
//
//   example_host [--content DIR] [--output DIR] [--log-level N] [--help]
//
// Each option also takes the "--name=value" form. An unknown option, a
// missing value or a log level that is not a whole number is an error
// (EINVAL) naming the fault.
#pragma once

#include <cstdio>
#include <string>

#include "CWqError.h"

struct ExampleOptions {
  std::string contentDir;  // empty: a sample tree made for the run
  std::string outputDir;   // empty: a new folder under $TMPDIR (or /tmp)
  int logLevel = 0;
  bool help = false;
};

CWqError ParseExampleOptions(int argc, char** argv, ExampleOptions& options);
void PrintExampleUsage(std::FILE* out);
