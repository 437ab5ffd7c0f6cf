// FXPath and CWqDirectory: the few path chores of the platform.
#pragma once

#include <string>

class FXPath {
 public:
  // `path` with `name` appended as its last component ("/" between them
  // unless `path` is empty or already ends with one). `flags` is kept for
  // callers and must be 0.
  static std::string Append(const std::string& path, const std::string& name, int flags);
  // The parent folder of `path` and its last component; a path without "/"
  // has an empty parent, "/x" has the parent "/".
  static void SplitParentPath(const std::string& path, std::string& parent, std::string& last);
  static bool DoesPathExist(const std::string& path);
};

class CWqDirectory {
 public:
  // Makes `path`, and with `parents` its missing parents; true when it exists
  // afterwards.
  static bool Create(const std::string& path, bool parents);
};
