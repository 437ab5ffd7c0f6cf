#include "ComparePath.h"

int ComparePath::Check(const std::string& mountPath, const std::string& filePath) {
  std::string mount = mountPath;
  while (mount.size() > 1 && mount.back() == '/') mount.pop_back();
  if (filePath == mount) return 0;
  if (mount == "/") return !filePath.empty() && filePath[0] == '/' ? 2 : 1;
  if (mount.empty()) return 1;
  if (filePath.size() > mount.size() && filePath.compare(0, mount.size(), mount) == 0 &&
      filePath[mount.size()] == '/')
    return 2;
  return 1;
}
