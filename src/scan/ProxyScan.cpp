#include "ProxyScan.h"

#include <cerrno>
#include <memory>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"

namespace {

const char kScanProgram[] = "SCN.EXE";

}  // namespace

ProxyScan::ProxyScan()
    : m_bDisableSyncLib(false),
      m_numberOfReadersPerVolume(0),
      m_bKeepATime(false),
      m_bSyncLibEnabled(false),
      m_bAllowSyncLib(false) {}

ProxyScan::~ProxyScan() {}

CWqError ProxyScan::init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                         int64_t jobStartValue, const std::string& host, uint16_t port) {
  return Proxy::init(velliconId, appId, clientId, jobId, level, jobStartValue, kScanProgram, host, port);
}

CWqError ProxyScan::sendJobComplete() {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the scan program: init has not set it up");
  std::unique_ptr<ClEmptyMsg> complete(new ClEmptyMsg(JOB_COMPLETE_MSG));
  CWqError result = m_pSrvConnection->sendMessage(complete.get());
  complete.reset();
  return result;
}

extern "C" ProxyScan* createProxyScan() { return new ProxyScan(); }
