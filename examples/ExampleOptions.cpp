#include "ExampleOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "FXErrorUtil.h"

namespace {

// The value of option `name` at argv[index], in either form; moves `index`
// past what it used. False when `argv[index]` is not this option.
bool TakeValue(int argc, char** argv, int& index, const std::string& name, std::string& value, CWqError& error) {
  const std::string argument = argv[index];
  if (argument.compare(0, name.size() + 1, name + "=") == 0) {
    value = argument.substr(name.size() + 1);
  } else if (argument == name) {
    if (index + 1 >= argc) {
      error = FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Option %s needs a value", name.c_str());
      return true;
    }
    value = argv[++index];
  } else {
    return false;
  }
  if (value.empty()) error = FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Option %s needs a value", name.c_str());
  return true;
}

CWqError ParseLevel(const std::string& text, int& level) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < -1 || value > INT_MAX)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "--log-level needs a whole number from -1 up, not '%s'",
                                   text.c_str());
  level = static_cast<int>(value);
  return CWqError::Success();
}

}  // namespace

CWqError ParseExampleOptions(int argc, char** argv, ExampleOptions& options) {
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      continue;
    }
    CWqError error;
    std::string value;
    if (TakeValue(argc, argv, index, "--content", value, error)) {
      options.contentDir = value;
    } else if (TakeValue(argc, argv, index, "--output", value, error)) {
      options.outputDir = value;
    } else if (TakeValue(argc, argv, index, "--log-level", value, error)) {
      if (!error.IsError()) error = ParseLevel(value, options.logLevel);
    } else {
      return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unknown argument '%s' (see --help)", argument.c_str());
    }
    if (error.IsError()) return error;
  }
  return CWqError::Success();
}

void PrintExampleUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: example_host [--content DIR] [--output DIR] [--log-level N]\n"
               "\n"
               "Runs one scan job against a simulated IBM i client on 127.0.0.1: starts\n"
               "the client daemon, seeds a temporary settings store and the job's\n"
               "records file, drives the scan phase through every step and prints what\n"
               "happens. Exits 0 when the scan completed, 1 with the error chain otherwise.\n"
               "\n"
               "  --content DIR    folder that stands for the client's file system; the\n"
               "                   whole of it (\"/\") is scanned. Default: a small sample\n"
               "                   tree made for the run and removed afterwards.\n"
               "  --output DIR     where the directory-change file, its companions and the\n"
               "                   records file go (made when missing). Default: a new\n"
               "                   folder under $TMPDIR or /tmp, kept and printed.\n"
               "  --log-level N    the library's log level, -1 (errors only) to 4;\n"
               "                   default 0. Log lines go to stderr.\n"
               "  --help           this text.\n");
}
