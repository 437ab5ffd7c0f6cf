// The status list: what the client reported per item, the verdict on the
// file in progress and the results the host pulls.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClProxyTimeouts.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyRestore.h"

namespace {

const uint32_t kStatusEventDeleted = 3;
const uint32_t kStatusEventNotFound = 4;
const uint32_t kEventStatus3 = 0x1700003E;
const uint32_t kEventStatus4 = 0x17000040;
const int64_t kStatusErrnoBase = 230;

}  // namespace

void ProxyRestore::appendStatus(const RestoreStatus& status) {
  {
    auto_lock lock(&statusLock, true);
    statusList.Append(status);
  }
  m_statusChanged.Set();
}

void ProxyRestore::stampCurrentFile() {
  auto_lock lock(&statusLock, true);
  currentFileSerial = statusList.StartFile(currentFileName);
}

void ProxyRestore::endCurrentFile(bool answerExpected) {
  auto_lock lock(&statusLock, true);
  statusList.EndFile(answerExpected);
}

CWqError ProxyRestore::waitForEarlierAnswer() {
  {
    auto_lock lock(&statusLock, true);
    if (!statusList.AwaitsAnswer(currentFileName)) return CWqError::Success();
  }
  // A report on the earlier file that arrived after this header went out
  // would be taken for this file's. A setting of 0 still waits a second.
  const int seconds = std::max(1, getTimeOutValue(TIMEOUT_FILE_DATA));
  FX_LOG(2, "Waiting up to %d seconds for the answer on the earlier [%s]", seconds, currentFileName.c_str());
  FXClock& clock = FXGetClock();
  const int64_t deadlineMs = clock.MonotonicMs() + static_cast<int64_t>(seconds) * 1000;
  for (;;) {
    if (diskFull.load(std::memory_order_acquire))
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOSPC, "Disk FULL error from client");
    if (receiverFailed.load(std::memory_order_acquire)) return receiverError.Copy().Push(FX_HERE);
    {
      auto_lock lock(&statusLock, true);
      if (!statusList.AwaitsAnswer(currentFileName)) return CWqError::Success();
    }
    // An ended receiver takes no more reports: nothing can come in between.
    if (!m_receiverRunning.load(std::memory_order_acquire)) return CWqError::Success();
    const int64_t leftMs = deadlineMs - clock.MonotonicMs();
    if (leftMs <= 0)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME,
                                     "No answer from the client on the earlier [%s] within %d seconds; its header "
                                     "is not sent",
                                     currentFileName.c_str(), seconds);
    m_statusChanged.WaitForSet(leftMs);
  }
}

CWqError ProxyRestore::processItemsStatusMessages(ClProxyMsg* msg) {
  const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(msg);
  if (!blob) return CWqError::Success();
  std::vector<RestoreStatus> parsed;
  const bool whole = ParseItemStatusPayload(blob->getBlob(), blob->getBlobSize(), parsed);
  size_t total = 0;
  {
    auto_lock lock(&statusLock, true);
    for (const RestoreStatus& status : parsed) {
      FX_LOG(3, "got status [%s] %d [%s] [%llu]", status.itemName.c_str(), static_cast<int>(status.itemStatus),
             status.itemMessage.c_str(), static_cast<unsigned long long>(status.itemValue));
      statusList.Append(status);
    }
    total = statusList.Size();
  }
  m_statusChanged.Set();
  FX_LOG(3, "Done processing status message. reported %zu items.", total);
  if (!whole)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO,
                                   "Item status message of %u bytes ends in a partial entry after %zu entries",
                                   blob->getBlobSize(), parsed.size());
  return CWqError::Success();
}

CWqError ProxyRestore::getMyFileStatus() {
  if (diskFull.load(std::memory_order_acquire))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOSPC, "Disk FULL error from client");
  if (receiverFailed.load(std::memory_order_acquire) && receiverError.IsError())
    return receiverError.Copy().Push(FX_HERE);  // a chain of its own per call
  // Most checks find no verdict in the list at all: no lock for them.
  if (statusList.VerdictCount() == 0) return CWqError::Success();
  auto_lock lock(&statusLock, true);
  // Only verdicts that arrived after this file's header went out; a restored
  // item is none.
  uint64_t serial = 0;
  const RestoreStatus* status = statusList.FirstVerdictFor(currentFileName, currentFileSerial, serial);
  if (!status) return CWqError::Success();
  if (status->DataNotNeeded()) {
    FX_LOG(0, "Client don't need data for '%s'", status->itemName.c_str());
    skipFileData = true;
    statusList.Remove(serial);
    return CWqError::Success();
  }
  const int64_t code = static_cast<int64_t>(status->itemStatus) + kStatusErrnoBase;
  if (code > INT_MAX)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Client status %u for [%s] is out of range: %s",
                                   status->itemStatus, status->itemName.c_str(), status->itemMessage.c_str());
  return FXErrorUtil::ErrorErrNo(FX_HERE, static_cast<int>(code), "%s", status->itemMessage.c_str());
}

CWqError ProxyRestore::getFileRestoreStatusInfo(std::string& name, uint32_t& status, std::string& message,
                                                uint64_t& value) {
  auto_lock lock(&statusLock, true);
  uint64_t serial = 0;
  while (const RestoreStatus* record = statusList.Front(serial)) {
    if (record->DataNotNeeded()) {
      statusList.Remove(serial);
      continue;
    }
    name = record->itemName;
    value = record->itemValue;
    message = record->itemMessage;
    if (record->origin == RestoreStatus::kFailedFile) {
      // A failure whatever its code: never 0 (restored) nor an event id.
      status = record->itemStatus != 0 ? record->itemStatus : static_cast<uint32_t>(EIO);
    } else {
      switch (record->itemStatus) {
        case kStatusRestored: status = 0; break;
        case kStatusEventDeleted: status = kEventStatus3; break;
        case kStatusEventNotFound: status = kEventStatus4; break;
        default: status = record->itemStatus; break;
      }
    }
    statusList.Remove(serial);
    return CWqError::Success();
  }
  FX_LOG(3, "no status received.");
  return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
}
