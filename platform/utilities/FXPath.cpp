#include "FXPath.h"

#include <sys/stat.h>

#include <cerrno>

std::string FXPath::Append(const std::string& path, const std::string& name, int) {
  if (path.empty() || path.back() == '/') return path + name;
  return path + "/" + name;
}

void FXPath::SplitParentPath(const std::string& path, std::string& parent, std::string& last) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    parent.clear();
    last = path;
    return;
  }
  parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  last = path.substr(slash + 1);
}

bool FXPath::DoesPathExist(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool CWqDirectory::Create(const std::string& path, bool parents) {
  if (path.empty()) return false;
  if (parents) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
      ::mkdir(path.substr(0, slash).c_str(), 0755);
  }
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
