#include "ExampleModes.h"

const std::vector<ExampleMode>& ExampleModes() {
  static const std::vector<ExampleMode> modes = {
      ScanMode(),  // the default
      ServiceMode(),
      BrowseMode(),
      DownloadMode(),
      DRMode(),
  };
  return modes;
}
