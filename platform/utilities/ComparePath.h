// ComparePath::Check: where a file path lies relative to a mount path,
// compared by whole path components and exactly (case counts).
//   0  the file is the mount path
//   2  the file lies beneath it ("/data" holds "/data/x" but not "/data2/x";
//      "/" holds every absolute path)
//   1  otherwise
// Trailing "/" of the mount path is ignored.
#pragma once

#include <string>

class ComparePath {
 public:
  static int Check(const std::string& mountPath, const std::string& filePath);
};
