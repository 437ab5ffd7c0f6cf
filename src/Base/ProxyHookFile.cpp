#include "ProxyHookFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

namespace {

const char kDefaultFolder[] = "/tmp";

std::mutex g_folderMutex;
std::string& FolderSlot() {
  static std::string folder = kDefaultFolder;
  return folder;
}

}  // namespace

void ProxyHookFile::SetFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_folderMutex);
  FolderSlot() = folder.empty() ? std::string(kDefaultFolder) : folder;
}

std::string ProxyHookFile::Folder() {
  std::lock_guard<std::mutex> lock(g_folderMutex);
  return FolderSlot();
}

std::string ProxyHookFile::Path(const std::string& name) { return Folder() + "/" + name; }

bool ProxyHookFile::IsHonoured(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return false;
  return status.st_uid == 0 || status.st_uid == ::geteuid();
}
