// ExampleOptions: the command line of the example host.
//
//   example_host [--output DIR] [--log-level N] [MODE] [mode options...]
//   example_host --help            the modes and the options shared by all
//   example_host MODE --help       one mode's own options
//
// Without a mode the first mode of the table (ExampleModes.h) runs, and its
// own options are taken before any mode name too ("example_host --content
// DIR" is "example_host scan --content DIR"). The shared options may also
// follow the mode name. Each option also takes the "--name=value" form.
// A missing or empty value, an unknown option or mode, or a log level that
// is not a whole number from -1 up is a command-line error.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

// Every option of every mode; a mode reads the ones it added.
struct ExampleOptions {
  // Shared by every mode.
  std::string outputDir;  // empty: a new folder under $TMPDIR (or /tmp)
  int logLevel = 0;
  // The scan mode.
  std::string contentDir;  // empty: a sample tree made for the run
  bool dedupe = false;     // the backup alone, through pre-pipeline deduplication
  bool deploy = false;     // the first connect installs the client software over ssh
  std::string clientOs = "ibmi";  // --deploy's machine: "ibmi" or "openvms"
  bool uninstall = false;         // --deploy's client software removed at the end
  std::string restoreTo;   // empty: the restore goes to a new folder under $TMPDIR
  // The browse mode.
  std::string browsePath = "/";
  bool browseResponse = false;
  // The dr mode.
  bool drIPL = false;
  bool drSuspend = false;
  bool drFailSave = false;
  bool drVTL = false;
};

// Refuses an empty value ("--content=" or "--content ''").
const CLI::Validator& NonEmptyValue();

struct ExampleMode;

// Parses the command line into `options` and picks the mode. Returns -1 to
// go on and run `mode`; otherwise the exit status: 0 after printing help
// (stdout), 2 after printing the command-line error (stderr).
int ParseExampleCommandLine(int argc, char** argv, ExampleOptions& options, const ExampleMode*& mode);
