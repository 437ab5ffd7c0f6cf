#include "ExampleModes.h"

#include <cstdio>

#include "ExampleConsole.h"

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
    ReportFailure(result, what);
    return 1;
  }
  std::printf("example_host: the %s completed\n", what);
  return 0;
}
