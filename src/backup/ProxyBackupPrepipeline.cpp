// The backup phase's pre-pipeline configuration exchange with its client
// program: capability, request, configuration.
#include <cerrno>
#include <memory>
#include <new>

#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyBackup.h"

namespace {

const uint32_t kErrorProxyOperation = 774;  // ERROR_PROXY_OPERATION

}  // namespace

CWqError ProxyBackup::recvCOBConfigMsg() {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  ClProxyMsg* raw = nullptr;
  CWqError result =
      m_pSrvConnection->recvMessage(raw, PREPIPELINE_CONFIG_MSG, getTimeOutValue(TIMEOUT_CLIENT_CONNECT));
  std::unique_ptr<ClProxyMsg> message(raw);
  if (result.IsError()) {
    result.Push(FX_HERE, "Did not receive a COBConfig message.");
    return result;
  }
  const COBConfigMsg* config = dynamic_cast<const COBConfigMsg*>(message.get());
  if (config && (config->GetConfig()->uCapabilities & 1)) {
    FX_LOG(2, "PrePipeline Supported Client");
    return CWqError::Success();
  }
  return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Client doesn't support Prepipeline");
}

CWqError ProxyBackup::recvPrepipelineDedupeConfigRequest() {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  ClProxyMsg* raw = nullptr;
  CWqError result = m_pSrvConnection->recvMessage(raw, PREPIPELINE_DEDUPE_CONFIG_REQ_MSG,
                                                  getTimeOutValue(TIMEOUT_CLIENT_CONNECT));
  delete raw;
  return result;
}

CWqError ProxyBackup::sendPrepipelineDedupeConfigResponse(_PrePipelineDedupe_Config& config) {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  std::unique_ptr<COBPrePipelineDedupeInfoRespMsg> response(new (std::nothrow) COBPrePipelineDedupeInfoRespMsg(config));
  if (!response)
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation,
                                   "Couldn't create PrepipelineDedupeConfigResponse message");
  CWqError result = m_pSrvConnection->sendMessage(response.get());
  if (result.IsError()) result.Push(FX_HERE, "Failed to send PrepipelineDedupeConfigResponse");
  return result;
}
