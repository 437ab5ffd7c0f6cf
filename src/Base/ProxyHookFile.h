// Hook files: support switches whose mere presence changes what a proxy
// process does ("failAccept", "vtl" in /tmp).
//
// /tmp is writable by every local user, so a hook file counts only when it
// is owned by root or by this process's own (effective) user. A symbolic
// link is judged by its own owner and never followed.
#pragma once

#include <string>

class ProxyHookFile {
 public:
  // The path of hook file `name`: the hook folder, "/", the name.
  static std::string Path(const std::string& name);
  // True when `path` exists and is owned by root or by this process's user.
  static bool IsHonoured(const std::string& path);

  // Test seam: the folder that holds the hook files, "/tmp" by default. The
  // files are machine-wide there, so tests that create them point the
  // folder at a folder of their own. An empty folder restores "/tmp".
  static void SetFolder(const std::string& folder);
  static std::string Folder();
};
