// The status list: what the client reported per item, the verdict on the
// file in progress and the results the host pulls.
#include <cerrno>
#include <climits>
#include <vector>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyRestore.h"

namespace {

const uint32_t kStatusDataNotNeeded = 600;
const uint32_t kStatusRestored = 5;
const uint32_t kStatusEventDeleted = 3;
const uint32_t kStatusEventNotFound = 4;
const uint32_t kEventStatus3 = 0x1700003E;
const uint32_t kEventStatus4 = 0x17000040;
const int64_t kStatusErrnoBase = 230;

}  // namespace

void ProxyRestore::appendStatus(const RestoreStatus& status) {
  auto_lock lock(&statusLock, true);
  statusList.Append(status);
}

void ProxyRestore::stampCurrentFile() {
  auto_lock lock(&statusLock, true);
  currentFileSerial = statusList.NextSerial();
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
  auto_lock lock(&statusLock, true);
  if (statusList.Empty()) return CWqError::Success();
  // Only records that arrived after this file's header went out; a restored
  // item (status 5) is no verdict on the file.
  uint64_t serial = 0;
  RestoreStatus status;
  for (uint64_t from = currentFileSerial; statusList.FirstFor(currentFileName, from, serial, status);
       from = serial + 1) {
    if (status.itemStatus == kStatusRestored) continue;
    if (status.itemStatus == kStatusDataNotNeeded) {
      FX_LOG(0, "Client don't need data for '%s'", status.itemName.c_str());
      skipFileData = true;
      statusList.Remove(serial);
      return CWqError::Success();
    }
    const int64_t code = static_cast<int64_t>(status.itemStatus) + kStatusErrnoBase;
    if (code > INT_MAX)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Client status %u for [%s] is out of range: %s",
                                     status.itemStatus, status.itemName.c_str(), status.itemMessage.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, static_cast<int>(code), "%s", status.itemMessage.c_str());
  }
  return CWqError::Success();
}

CWqError ProxyRestore::getFileRestoreStatusInfo(std::string& name, uint32_t& status, std::string& message,
                                                uint64_t& value) {
  auto_lock lock(&statusLock, true);
  uint64_t serial = 0;
  RestoreStatus record;
  while (statusList.Front(serial, record)) {
    statusList.Remove(serial);
    if (record.itemStatus == kStatusDataNotNeeded) continue;
    name = record.itemName;
    value = record.itemValue;
    message = record.itemMessage;
    switch (record.itemStatus) {
      case kStatusRestored: status = 0; break;
      case kStatusEventDeleted: status = kEventStatus3; break;
      case kStatusEventNotFound: status = kEventStatus4; break;
      default: status = record.itemStatus; break;
    }
    return CWqError::Success();
  }
  FX_LOG(3, "no status received.");
  return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
}
