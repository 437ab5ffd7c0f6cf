// Client volumes (mount paths) and the component GUID of each client file.
#include <cerrno>
#include <list>
#include <memory>
#include <string>

#include "ClBasicMsgs.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "GetObjectGuid.h"
#include "ProxyBackup.h"

namespace {

const uint32_t kErrorProxyOperation = 774;  // ERROR_PROXY_OPERATION

// A mount path as ComparePath compares it: trailing "/" dropped, "/" kept.
std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool ProxyBackup::compareMount(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() > b.size();
  return a > b;
}

CWqError ProxyBackup::getClientVolumeList() {
  std::unique_ptr<ClProxyMsg> message;
  CWqError result;
  if (m_pSrvConnection) {
    ClProxyMsg* raw = nullptr;
    result = m_pSrvConnection->recvMessage(raw, getTimeOutValue(TIMEOUT_FILE_DATA));
    message.reset(raw);
  }
  if (!m_pSrvConnection || result.IsError() || !message)
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Couldn't get volume list message from client");
  const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
  if (message->getMsgType() != CLIENT_VOLUME_LIST || !blob)
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Expected CLIENT_VOLUME_LIST message. Got %d instead",
                                   static_cast<int>(message->getMsgType()));
  const std::string text(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize());
  message.reset();
  if (text.empty())
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Couldn't get volume list from client");

  // Counted before anything is built: a list too long is refused whole.
  size_t count = 0;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start && ++count > kMaxMounts)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The client's volume list holds more than %zu mount paths",
                                     kMaxMounts);
    start = end + 1;
  }
  std::list<std::string> mountPaths;
  FXString::Split(text, ";", mountPaths, 1);
  m_mountGUIDs.clear();
  m_mountIndex.clear();
  for (const std::string& mountPath : mountPaths) {
    std::string guid;
    GetObjectGuid(mountPath, 0, '/', guid);
    m_mountGUIDs.insert(std::make_pair(mountPath, guid));  // of two equal paths the first stays
    FX_LOG(3, "Generate component GUID for [%s] as [%s]", mountPath.c_str(), guid.c_str());
  }
  for (const auto& mount : m_mountGUIDs) {
    const std::string key = WithoutTrailingSlash(mount.first);
    if (!key.empty()) m_mountIndex.insert(std::make_pair(key, mount));  // the first in the map's order stays
  }
  return CWqError::Success();
}

std::string ProxyBackup::getComponentGUID(const std::string& sourceFile) {
  if (!m_sCachedGUID.empty()) {
    FX_LOG(3, "Source file [%s] will use cached GUID [%s]", sourceFile.c_str(), m_sCachedGUID.c_str());
    return m_sCachedGUID;
  }
  // The mounts that can hold the file are the file itself, each of its
  // parents and "/": of those listed, the first in m_mountGUIDs's order wins.
  const std::pair<std::string, std::string>* owner = nullptr;
  auto consider = [&](const std::string& candidate) {
    const auto found = m_mountIndex.find(candidate);
    if (found == m_mountIndex.end()) return;
    if (!owner || compareMount(found->second.first, owner->first)) owner = &found->second;
  };
  consider(sourceFile);
  for (size_t slash = sourceFile.find('/', 1); slash != std::string::npos; slash = sourceFile.find('/', slash + 1))
    consider(sourceFile.substr(0, slash));
  if (!sourceFile.empty() && sourceFile[0] == '/') consider("/");
  if (!owner) return std::string();
  FX_LOG(3, "Source file [%s] belongs to mount path [%s]  will use [%s] as component ID", sourceFile.c_str(),
         owner->first.c_str(), owner->second.c_str());
  m_sCachedGUID = owner->second;
  return owner->second;
}
