// Reference lists of archive-data items and the reference-archive state.
#include <cerrno>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ClFileStreamMsgs.h"
#include "ClProxySerializer.h"
#include "ClProxyTimeouts.h"
#include "CxHeaderConversion.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyBackup.h"

namespace {

const uint64_t kKindMask = 0xF0;
const uint64_t kArchiveKind = 0x40;
const uint64_t kArchiveData = 0x2;
const uint64_t kReferenceKinds = 0x7;
const uint64_t kReferenceArchive = 0x8000;

}  // namespace

CWqError ProxyBackup::recvReferenceList() {
  m_references.clear();
  const ClProxyFileHeader& header = m_headerSerializer;
  const uint64_t flags = header.flags;
  const std::string name = header.name;

  if ((flags & kKindMask) != kArchiveKind || (flags & kArchiveData) == 0) {
    if ((flags & kReferenceArchive) != 0 && (flags & kReferenceKinds) != 0) {
      m_bReferenceBackup = true;
      m_bRefArchiveKnown = true;
      FX_LOG(1, "Using [%s] as archive for reference backup [%d]", m_sRefArchiveName.c_str(),
             m_bReferenceBackup ? 1 : 0);
    }
    FX_LOG(4, "[%s] is not archive data. flags:0x%llX", name.c_str(), static_cast<unsigned long long>(flags));
    return CWqError::Success();
  }

  FX_LOG(4, "[%s] is archive data. flags:0x%llX", name.c_str(), static_cast<unsigned long long>(flags));
  if (flags & kReferenceArchive) {
    m_bReferenceBackup = false;
    m_bRefArchiveKnown = true;
    m_sRefArchiveName = name;
    FX_LOG(1, "New Archive header [%s]. Reference backup [%d]", name.c_str(), m_bReferenceBackup ? 1 : 0);
  }
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");

  static const std::vector<ClProxyMsgType> kAccepted = {REFOPTHDR2_MSG, FAILED_FILE_MSG};
  for (;;) {
    ClProxyMsg* raw = nullptr;
    CWqError result = m_pSrvConnection->recvMessage(raw, kAccepted, getTimeOutValue(TIMEOUT_NEXT_FILE));
    std::unique_ptr<ClProxyMsg> message(raw);
    if (result.IsError()) {
      m_references.clear();  // a list cut off is no list
      FX_LOG(-1, "Failed to receive message, %s", result.AsString().c_str());
      result.Push(FX_HERE, "Failed to receive message");
      return result;
    }
    FX_LOG(4, "recvMessageType:0x%X (H:0x%X,F:0x%X,S:0x%X,C:0x%X)", static_cast<unsigned>(message->getMsgType()),
           static_cast<unsigned>(FILE_HEADER_MSG), static_cast<unsigned>(FAILED_FILE_MSG),
           static_cast<unsigned>(BACKUP_STATS_MSG), static_cast<unsigned>(BAD_COLLECT_FILE_MSG));
    if (message->getMsgType() == FAILED_FILE_MSG) {
      // The client abandoned the item: the host must not read its data.
      // The lists that came before stay readable.
      takeFailedFile(*message, true);
      return FXErrorUtil::ErrorInt(FX_HERE, RECV_STATUS_FAILED_FILE);
    }
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
    uint32_t offset = 0;
    uint32_t count = 0;
    if (!blob || ClProxySerializer::deserialize(blob->getBlob(), blob->getBlobSize(), offset, count) != 0) {
      FX_LOG(-1, "Failed deserialize message");
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Failed deserialize message");
    }
    // Bounded by the count the list announces, before a string is built.
    if (count > kMaxReferences - m_references.size()) {
      const size_t held = m_references.size();
      m_references.clear();  // nothing half-merged stays
      FX_LOG(-1, "Reference list of [%s] refused: %zu references and %u more", name.c_str(), held, count);
      return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO,
                                     "The reference list of [%s] holds more than %zu references (%zu, then %u more)",
                                     PrintableClientName(name).c_str(), kMaxReferences, held, count);
    }
    std::list<std::string> list;
    offset = 0;
    if (ClProxySerializer::deserialize(blob->getBlob(), blob->getBlobSize(), offset, list) != 0) {
      FX_LOG(-1, "Failed deserialize message");
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Failed deserialize message");
    }
    message.reset();
    if (list.empty()) break;
    FX_LOG(3, "received %zu references", list.size());
    // Sorted first, so that the merge keeps the list sorted whatever order
    // the client sends.
    list.sort();
    m_references.merge(list);
  }
  FX_LOG(0, "total %zu references received", m_references.size());
  return CWqError::Success();
}
