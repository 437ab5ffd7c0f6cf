// The scan phase's job options.
#include <memory>
#include <string>

#include "ApplicationId.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyJobOptions.h"
#include "ProxyScan.h"

namespace {

const int kDefaultStreams = 4;

}  // namespace

CWqError ProxyScan::setJobOptions(ClJobStartMsg* msg) {
  FX_LOG(2, "m_numberOfReadersPerVolume:%d", static_cast<int>(m_numberOfReadersPerVolume));
  CWqError result = Proxy::setJobOptions(msg);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  if (!msg) return CWqError::Success();  // nothing to fill, as for the base options

  ApplicationId application(m_iVelliconId, m_iAppId);
  Subclient* subclient = application.getSubclient(NULL);
  if (!subclient) return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_SUBCLIENT_NOT_FOUND);

  EvTask task(static_cast<KXJobID>(m_ullJobId), 0, NULL, false);
  FX_LOG(2, "ProxyScan::setJobOptions");
  const int logOption = ProxyJobOptions::SetJobLogOptions(task, *msg, ProxyJobOptions::kJobLogBasic);
  FX_LOG(2, "JobLog option [%d]", logOption);

  // Written to the member only when the whole block succeeded.
  bool syncLibEnabled = m_bSyncLibEnabled;
  result = ProxyJobOptions::SetSubclientOptionsForScan(*subclient, *msg, m_bAllowSyncLib, FX_HERE, syncLibEnabled);
  if (result.IsError()) return result;
  m_bSyncLibEnabled = syncLibEnabled;

  int streams = 0;
  if (subclient->getNumberOfStreams(streams, NULL) != 0) {
    streams = kDefaultStreams;
    FX_LOG(0, "Unable to get NumberOfStreams. Using default value of %d stream.", streams);
  } else if (streams == 0) {
    streams = kDefaultStreams;
  }
  msg->setOptionValue("nmStreams", static_cast<int32_t>(streams));
  FX_LOG(0, "Maximum Number of streams set to %d", streams);

  std::string compression;
  subclient->getIbmiCompression(compression, NULL);  // unreadable is the same as empty
  if (compression.empty()) compression = "*NO";
  msg->setOptionValue("JOB_COMPRESSION_LEVEL", compression);

  if (m_numberOfReadersPerVolume > 0)
    msg->setOptionValue("nmReadersPVol", static_cast<int32_t>(m_numberOfReadersPerVolume));
  msg->setOptionValue("keepATime", m_bKeepATime);
  return CWqError::Success();
}
