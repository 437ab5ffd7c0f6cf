// Client volumes (mount paths) and the component GUID of each client file.
#include <list>
#include <memory>
#include <string>

#include "ClBasicMsgs.h"
#include "ClProxyTimeouts.h"
#include "ComparePath.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "GetObjectGuid.h"
#include "ProxyBackup.h"

namespace {

const uint32_t kErrorProxyOperation = 774;  // ERROR_PROXY_OPERATION

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

  std::list<std::string> mountPaths;
  FXString::Split(text, ";", mountPaths, 1);
  m_mountGUIDs.clear();
  for (const std::string& mountPath : mountPaths) {
    std::string guid;
    GetObjectGuid(mountPath, 0, '/', guid);
    m_mountGUIDs.insert(std::make_pair(mountPath, guid));  // of two equal paths the first stays
    FX_LOG(3, "Generate component GUID for [%s] as [%s]", mountPath.c_str(), guid.c_str());
  }
  return CWqError::Success();
}

std::string ProxyBackup::getComponentGUID(const std::string& sourceFile) {
  if (!m_sCachedGUID.empty()) {
    FX_LOG(3, "Source file [%s] will use cached GUID [%s]", sourceFile.c_str(), m_sCachedGUID.c_str());
    return m_sCachedGUID;
  }
  for (const auto& mount : m_mountGUIDs) {
    const int where = ComparePath::Check(mount.first, sourceFile);
    if (where != 0 && where != 2) continue;
    FX_LOG(3, "Source file [%s] belongs to mount path [%s]  will use [%s] as component ID", sourceFile.c_str(),
           mount.first.c_str(), mount.second.c_str());
    m_sCachedGUID = mount.second;
    return mount.second;
  }
  return std::string();
}
