// ExampleModes: the example host's modes, each a subcommand with its own
// options and its own run.
//
// To add a mode: write ExampleXxxMode.cpp with `ExampleMode XxxMode()`
// (declared below), put its options' fields into ExampleOptions, and add
// XxxMode() to the table in ExampleModes.cpp. The table's first mode is the
// one that runs when the command line names none.
#pragma once

#include <vector>

#include "CWqError.h"
#include "ExampleOptions.h"

struct ExampleMode {
  const char* name;         // the subcommand
  const char* description;  // one line for --help
  // Adds the mode's own options to `command`, bound to fields of `options`.
  void (*addOptions)(CLI::App& command, ExampleOptions& options);
  // Runs the mode in the output folder `options.outputDir`, which is made:
  // the process's exit status (0 done, 1 failed, the failure reported).
  int (*run)(const ExampleOptions& options);
  // Whether a new output folder is kept when the run succeeds (it holds
  // the job's files); otherwise it goes, unless the run failed.
  bool keepsOutput;
};

// A whole scan job against the simulated IBM i client (ExampleScanMode.cpp).
ExampleMode ScanMode();
// The out-of-job services of one client (ExampleServiceMode.cpp).
ExampleMode ServiceMode();
// A folder of the client listed, streamed or into a response (ExampleBrowseMode.cpp).
ExampleMode BrowseMode();
// The client's logs and directory-change file fetched (ExampleDownloadMode.cpp).
ExampleMode DownloadMode();

// A whole IBM i DR backup on a virtual clock (ExampleDRMode.cpp).
ExampleMode DRMode();
// The IBM i tape operations, locally and on a media agent (ExampleTapeMode.cpp).
ExampleMode TapeMode();

// A mode's exit status for `result`: the failure reported (ReportFailure)
// and 1, or "example_host: the <what> completed" and 0.
int ReportModeResult(const CWqError& result, const char* what);

// Every mode, the default first.
const std::vector<ExampleMode>& ExampleModes();
