// ExampleOptions: the command line of the example host.
//
//   example_host [shared options] [MODE] [mode options and shared options]
//   example_host --help            the modes and the shared options
//   example_host MODE --help       one mode's own options and the shared ones
//   example_host --version
//
// Without a mode the first mode of the table (ExampleModes.h) runs, and its
// options may stand without the mode's name ("example_host --content DIR" is
// "example_host scan --content DIR"). Each mode takes its own options only.
// Each option also takes the "--name=value" form.
//
// A command-line error (exit 2, nothing made): an unknown option or mode, a
// missing or empty value, a log level outside -1..4, an option of another
// mode, and a bad path: --output and --restore-to must be new or empty
// folders, --content an existing folder.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

// Every option of every mode; a mode reads the ones it added.
struct ExampleOptions {
  // Shared by every mode.
  std::string outputDir;  // empty: a new folder under $TMPDIR (or /tmp)
  int logLevel = 0;
  bool quiet = false;    // the summary only
  bool verbose = false;  // a line per item, the library's log on stderr
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
// An existing folder, and one that does not exist or is empty.
const CLI::Validator& ExistingFolder();
const CLI::Validator& NewOrEmptyFolder();

struct ExampleMode;

// Parses the command line into `options` and picks the mode. Returns -1 to
// go on and run `mode`; otherwise the exit status: 0 after printing help or
// the version (stdout), 2 after printing the command-line error (stderr).
int ParseExampleCommandLine(int argc, char** argv, ExampleOptions& options, const ExampleMode*& mode);
