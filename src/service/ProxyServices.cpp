// The public operations of a service handle: guard, then forward to the
// cached instance.
#include "ProxyServices.h"

#include "FXErrorUtil.h"
#include "ProxyServicesPrivate.h"

namespace {

const uint32_t kErrorInvalidHandle = 6;
const uint32_t kErrorNotConnected = 2250;

}  // namespace

extern "C" void unregisterClient() {}

CWqError ProxyServices::usable(const char* operation) const {
  if (!m_ptrPrivate) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInvalidHandle, "service already released");
  if (!m_ptrPrivate->isConnected())
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorNotConnected, "service already disconnected").Push(FX_HERE, "%s",
                                                                                                       operation);
  return CWqError::Success();
}

CWqError ProxyServices::reconnected(uint64_t jobId) {
  if (!m_ptrPrivate) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInvalidHandle, "service already released");
  if (m_ptrPrivate->isConnected()) return CWqError::Success();
  CWqError result = m_ptrPrivate->connectToClient(static_cast<KXJobID>(jobId), true, false);
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError ProxyServices::disconnectFromClient() {
  if (!m_ptrPrivate) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInvalidHandle, "service already released");
  if (!m_ptrPrivate->isConnected()) return CWqError::Success();
  return m_ptrPrivate->disconnectFromClient();
}

CWqError ProxyServices::createNewFolder(const char* path) {
  CWqError result = usable("createNewFolder");
  return result.IsError() ? result : m_ptrPrivate->createNewFolder(path);
}

CWqError ProxyServices::machineBrowse(char* path, CWqSocket socket, int64_t sequenceNumber,
                                      unsigned long requestedDriveTypes, bool fillResponse,
                                      App::MachineBrowseResp* machineBrowseResp, App::GenericResp* genericResp,
                                      CKxNetwork* network) {
  CWqError result = usable("machineBrowse");
  return result.IsError() ? result
                          : m_ptrPrivate->machineBrowse(path, socket, static_cast<long>(sequenceNumber),
                                                        requestedDriveTypes, fillResponse, machineBrowseResp,
                                                        genericResp, network);
}

CWqError ProxyServices::downloadLogFiles(const std::string& destDir, unsigned long logRequest) {
  CWqError result = usable("downloadLogFiles");
  return result.IsError() ? result : m_ptrPrivate->downloadLogFiles(destDir, logRequest);
}

CWqError ProxyServices::downloadDirChangeFile(const std::string& destPath, int32_t first, int32_t second,
                                              uint64_t third) {
  CWqError result = usable("downloadDirChangeFile");
  return result.IsError() ? result
                          : m_ptrPrivate->downloadDirChangeFile(destPath, first, second, static_cast<unsigned long>(third));
}

CWqError ProxyServices::commitBackupJob(int32_t first, uint64_t second, int32_t third, int32_t fourth) {
  CWqError result = usable("commitBackupJob");
  return result.IsError() ? result : m_ptrPrivate->commitBackupJob(first, second, third, fourth);
}

CWqError ProxyServices::prepareVTLTape(const std::string& drive, const std::string& tape) {
  CWqError result = usable("prepareVTLTape");
  return result.IsError() ? result : m_ptrPrivate->prepareVTLTape(drive, tape);
}

CWqError ProxyServices::clearCreateIndexFlag(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId) {
  CWqError result = reconnected(jobId);
  return result.IsError() ? result : m_ptrPrivate->clearCreateIndexFlag(velliconId, clientId, appId, jobId);
}

CWqError ProxyServices::createIndexComplete(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId) {
  CWqError result = reconnected(jobId);
  return result.IsError() ? result : m_ptrPrivate->createIndexComplete(velliconId, clientId, appId, jobId);
}

CWqError ProxyServices::isCreateIndexRequired(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId,
                                              bool& required) {
  CWqError result = reconnected(jobId);
  if (result.IsError()) {
    required = true;
    return result;
  }
  return m_ptrPrivate->isCreateIndexRequired(velliconId, clientId, appId, jobId, required);
}
