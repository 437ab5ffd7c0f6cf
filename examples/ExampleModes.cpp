#include "ExampleModes.h"

#include <cstdio>

const std::vector<ExampleMode>& ExampleModes() {
  static const std::vector<ExampleMode> modes = {
      ScanMode(),  // the default
      ServiceMode(),
      BrowseMode(),
      DownloadMode(),
      DRMode(),
      TapeMode(),
  };
  return modes;
}

int ReportModeResult(const CWqError& result, const char* what) {
  if (result.IsError()) {
    std::fflush(stdout);
    std::fprintf(stderr, "example_host: the %s FAILED:\n%s\n", what, result.AsString().c_str());
    return 1;
  }
  std::printf("example_host: the %s completed\n", what);
  return 0;
}
