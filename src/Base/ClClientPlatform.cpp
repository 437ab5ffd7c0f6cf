#include "ClClientPlatform.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <list>
#include <vector>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "ProxyEventIds.h"

CWqError PlatformDefine::setOSType(int id) {
  if (id != CLIENT_OS_OPENVMS && id != CLIENT_OS_IBMI) {
    CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OS_UNSUPPORTED, "unsupported OS id %d", id);
    error.Push(FX_HERE);
    return error;
  }
  osType = id;
  return CWqError::Success();
}

namespace {

std::string Join(const std::vector<std::string>& pieces, const char* separator) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i) out += separator;
    out += pieces[i];
  }
  return out;
}

// A drive or folder name the client's shell and DCL read as it stands.
bool IsPlainName(const std::string& name) {
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '$' ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool IsNamed(const std::string& component) { return !component.empty(); }

}  // namespace

bool PlatformDefine::IsParentOrSelf(const std::string& component) {
  return !component.empty() && (component.find_first_not_of('-') == std::string::npos ||
                                component.find_first_not_of('.') == std::string::npos);
}

void PlatformDefine::logPaths() const {
  FX_LOG(3, "Using client configuration:\n   Base:'%s'\n        '%s'\n    Bin:'%s'\n        '%s'", base.c_str(),
         baseUpload.c_str(), binExecute.c_str(), binUpload.c_str());
}

CWqError PlatformDefine::setClientBaseFolder(const std::string& folder) {
  if (osType == CLIENT_OS_IBMI) {
    base = "/QSYS.LIB/TARGET_LIB.LIB/";
    binExecute = "/QSYS.LIB/TARGET_LIB.LIB/";
    baseUpload = "/QSYS.LIB/QGPL.LIB/";
    binUpload = "/QSYS.LIB/QGPL.LIB/";
    logPaths();
    return CWqError::Success();
  }
  if (osType != CLIENT_OS_OPENVMS) {
    logPaths();
    return CWqError::Success();
  }

  const char* kShort = "client base folder is too short (%s)";
  const char* kNoDirectory = "client base folder should have drive and drectory (%s)";
  const char* kSyntax = "invalis syntax for client base folder (%s). expected drive:[dir1[.dir2[]]]";
  if (folder.size() < 4) return FXErrorUtil::ErrorErrNo(FX_HERE, -1, kShort, folder.c_str());

  std::string drive;
  std::vector<std::string> components;
  std::list<std::string> pieces;
  if (folder[0] == '/') {
    FXString::Split(folder, "/", pieces, 0);
    if (pieces.size() < 3) return FXErrorUtil::ErrorErrNo(FX_HERE, -1, kNoDirectory, folder.c_str());
    pieces.pop_front();
    drive = pieces.front();
    pieces.pop_front();
  } else {
    const size_t colon = folder.find(':');
    if (colon == std::string::npos || colon + 1 >= folder.size() || folder[colon + 1] != '[' ||
        folder.back() != ']')
      return FXErrorUtil::ErrorErrNo(FX_HERE, -1, kSyntax, folder.c_str());
    drive = folder.substr(0, colon);
    // "DKA0:[" alone has no room for a closing bracket of its own.
    if (colon + 2 > folder.size() - 1) return FXErrorUtil::ErrorErrNo(FX_HERE, -1, kSyntax, folder.c_str());
    FXString::Split(folder.substr(colon + 2, folder.size() - colon - 3), ".", pieces, 0);
  }
  components.assign(pieces.begin(), pieces.end());

  FX_LOG(5, "drive='%s'", drive.c_str());
  for (size_t i = 0; i < components.size(); ++i)
    FX_LOG(5, "B-directoryComponents[%d]='%s'", static_cast<int>(i), components[i].c_str());
  // DCL reads a folder named only by "-" as the parent and a leading "." as
  // relative to the default folder: the base would then name a tree above
  // the client's, which uninstall deletes.
  const bool relative = folder[0] != '/' && !components.empty() && components.front().empty() &&
                        std::any_of(components.begin(), components.end(), IsNamed);
  if (relative || std::any_of(components.begin(), components.end(), IsParentOrSelf))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL,
                                   "client base folder may not name a parent or relative folder (%s)",
                                   folder.c_str());
  components.erase(std::remove_if(components.begin(), components.end(), CIsEmptyString()), components.end());
  for (size_t i = 0; i < components.size(); ++i)
    FX_LOG(5, "A-directoryComponents[%d]='%s'", static_cast<int>(i), components[i].c_str());
  if (components.empty()) return FXErrorUtil::ErrorErrNo(FX_HERE, -1, kNoDirectory, folder.c_str());

  // Every name goes into remote command lines: refuse what a shell or DCL
  // would read as more than a name.
  bool plain = IsPlainName(drive) && !drive.empty();
  for (const std::string& component : components) plain = plain && IsPlainName(component);
  if (!plain)
    return FXErrorUtil::ErrorErrNo(FX_HERE, -1,
                                   "client base folder may hold only letters, digits, '$', '_' and '-' in its "
                                   "drive and folder names (%s)",
                                   folder.c_str());

  base = drive + ":[" + Join(components, ".") + "]";
  baseUpload = "/" + drive + "/" + Join(components, "/");
  components.push_back("bin");
  binExecute = drive + ":[" + Join(components, ".") + "]";
  binUpload = "/" + drive + "/" + Join(components, "/");
  logPaths();
  return CWqError::Success();
}
