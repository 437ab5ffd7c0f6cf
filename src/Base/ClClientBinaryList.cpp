// The OpenVMS file list comparison: the local package against the client's
// list in `binaries`.
#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <list>
#include <sstream>
#include <vector>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"

namespace {

// The folder's entries as the shell's "*" names them: not hidden, in order.
bool ListEntries(const std::string& folder, std::vector<std::string>& names, int& errNo) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    errNo = errno;
    return false;
  }
  while (dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

}  // namespace

bool ClClientManager::isPlainFileName(const std::string& name) {
  if (name.empty()) return false;
  int dots = 0;
  for (unsigned char c : name) {
    if (c == '.') {
      ++dots;
      continue;
    }
    if (!std::isalnum(c) && c != '$' && c != '_' && c != '-') return false;
  }
  return dots <= 1 && name != ".";
}

CWqError ClClientManager::updateClientBinaryList() {
  const bool emptyOnEntry = binaries.empty();
  localNames.clear();

  // pkgcrc32 runs in the package folder over its entries; no shell reads
  // the folder's name or the entries' names.
  std::vector<std::string> words;
  words.push_back(localPackageFolder + "/../../../Base/pkgcrc32");
  int errNo = 0;
  if (!ListEntries(localPackageFolder, words, errNo)) {
    FX_LOG(-1, "Cannot list the package folder [%s]: %s", localPackageFolder.c_str(), std::strerror(errNo));
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Fail to obtain crc for local binaries");
  }
  KxProcess::Options options;
  options.workingFolder = localPackageFolder;
  std::string output, error;
  const int result = KxProcess::run(words, options, &output, &error);
  if (result != 0) return FXErrorUtil::ErrorErrNo(FX_HERE, result, "Fail to obtain crc for local binaries");

  bool allEqual = true;
  std::istringstream lines(output);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) continue;
    std::list<std::string> pieces;
    FXString::Split(line, " ", pieces, 0);
    if (pieces.size() != 2) {
      FX_LOG(-1, "Invalid output at line %d '%s'", number, line.c_str());
      continue;
    }
    const std::string crc = pieces.front();
    std::string key = pieces.back();
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(::toupper(c)); });
    if (key == "PKGCRC.INFO" || (key.size() >= 3 && key.compare(key.size() - 3, 3, ".EU") == 0)) continue;
    // The key becomes the file's name on the client, in a copy destination
    // and in DCL commands.
    if (!isPlainFileName(key)) {
      FX_LOG(-1, "Local package file '%s' has no plain file name: left out", pieces.back().c_str());
      continue;
    }
    FX_LOG(2, "Local key '%s' crc:%s", key.c_str(), crc.c_str());
    localNames[key] = pieces.back();

    auto found = binaries.find(key);
    if (found != binaries.end() && found->second.first == crc) {
      found->second.second = FILE_GOOD;
      if (!emptyOnEntry) FX_LOG(2, "File '%s' good", key.c_str());
    } else if (found != binaries.end()) {
      found->second.second = FILE_CRC_DIFFERS;
      allEqual = false;
      if (!emptyOnEntry)
        FX_LOG(0, "CRC '%s' for file '%s' does not match '%s'", found->second.first.c_str(), key.c_str(), crc.c_str());
    } else {
      binaries[key] = std::make_pair(std::string(), FILE_MISSING_ON_CLIENT);
      allEqual = false;
      if (!emptyOnEntry) FX_LOG(0, "File '%s' not loaded to the client", key.c_str());
    }
  }
  if (emptyOnEntry || allEqual) return CWqError::Success();
  FX_LOG(2, "Client binaries are not up-to-date.");
  return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OUT_OF_DATE, "Client binaries are not up-to-date.");
}
