#include "SimFileTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

std::vector<std::string> SimSortedNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void SimListTree(const std::string& root, const std::string& clientDir, std::vector<std::string>& out) {
  for (const std::string& name : SimSortedNames(root + clientDir)) {
    const std::string clientPath = (clientDir == "/" ? "/" : clientDir + "/") + name;
    out.push_back(clientPath);
    struct stat st;
    if (::lstat((root + clientPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) SimListTree(root, clientPath, out);
  }
}
