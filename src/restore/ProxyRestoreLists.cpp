// Pre-headers, unmodified pre-headers and archive entries: registration and
// the chunked sends.
#include <cerrno>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyRestore.h"
#include "RestoreLists.h"

namespace {

const uint64_t kHeaderKindMask = 0xF0;
const uint64_t kArchiveHeaderKind = 0x40;
const uint64_t kArchiveHeaderBit = 0x2;

bool IsArchiveHeader(uint64_t flags) {
  return (flags & kHeaderKindMask) == kArchiveHeaderKind && (flags & kArchiveHeaderBit) != 0;
}

// An empty item could make a chunk of nothing, which the client reads as
// the list's END.
CWqError RefuseEmpty(const std::string& item, const char* list) {
  if (!item.empty()) return CWqError::Success();
  return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "An empty name is not registered as %s", list);
}

ClBlobMsg Chunk(uint16_t type, const std::string& text) {
  return ClBlobMsg(type, ClBlobMsg::Borrow, text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

CWqError ProxyRestore::registerPreHeader(bool isFirst, std::string& name) {
  FX_LOG(3, "isFirst=%d [%s]", isFirst ? 1 : 0, name.c_str());
  CWqError refused = RefuseEmpty(name, "a pre-header");
  if (refused.IsError()) return refused;
  if (isFirst) {
    CWqError result = pushPreHeadersToClient();
    if (result.IsError()) return result.Push(FX_HERE);
  }
  preHeaders.push_back(name);
  FX_LOG(3, "[%s] pushed to preHeaders. preHeaders size %d", name.c_str(), static_cast<int>(preHeaders.size()));
  return CWqError::Success();
}

CWqError ProxyRestore::registerUnmodifiedPreHeader(const std::string& name) {
  CWqError refused = RefuseEmpty(name, "an unmodified pre-header");
  if (refused.IsError()) return refused;
  unmodifiedPreHeaders.push_back(name);
  FX_LOG(3, "[%s] pushed to unmodified preHeader. preHeaders size %d", name.c_str(),
         static_cast<int>(unmodifiedPreHeaders.size()));
  return CWqError::Success();
}

CWqError ProxyRestore::registerArchiveContentEntry(const std::string& entry) {
  CWqError refused = RefuseEmpty(entry, "an archive entry");
  if (refused.IsError()) return refused;
  archiveEntries.push_back(entry);
  FX_LOG(3, "Archive entry [%s] added. Total %zu entries.", entry.c_str(), archiveEntries.size());
  return CWqError::Success();
}

CWqError ProxyRestore::pushPreHeadersToClient() {
  if (preHeaders.empty()) {
    FX_LOG(3, "no pre-headers");
    return CWqError::Success();
  }
  FX_LOG(3, "PREHEADER_MSG for (%s) have %zu preHeaders", preHeaderHeadName.c_str(), preHeaders.size());
  if (preHeaderHeadName.empty()) {
    preHeaders.clear();
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "the header name was not sent");
  }
  std::string chunk;
  while (!preHeaders.empty()) {
    // The items of a chunk leave the list before the send: a failed chunk
    // is not sent again.
    auto next = RestoreLists::PreHeaderChunk(preHeaders.begin(), preHeaders.end(), preHeaderHeadName, chunk);
    preHeaders.erase(preHeaders.begin(), next);
    FX_LOG(3, "Will send PREHEADER_MSG (%s) with data of %ld bytes", preHeaderHeadName.c_str(),
           static_cast<long>(chunk.size()));
    ClBlobMsg message = Chunk(PREHEADER_MSG, chunk);
    CWqError result = sendToProgram(message);
    if (result.IsError()) return result.Push(FX_HERE);
  }
  preHeaderHeadName.clear();
  return CWqError::Success();
}

CWqError ProxyRestore::sendUnmodifiedPreHeaders() {
  std::string chunk;
  while (!unmodifiedPreHeaders.empty()) {
    auto next = RestoreLists::PlainChunk(unmodifiedPreHeaders.begin(), unmodifiedPreHeaders.end(), chunk);
    unmodifiedPreHeaders.erase(unmodifiedPreHeaders.begin(), next);
    FX_LOG(3, "Will send UNMODIFIED_PREHEADER_MSG (%s) with data of %ld bytes", currentFileName.c_str(),
           static_cast<long>(chunk.size()));
    ClBlobMsg message = Chunk(UNMODIFIED_PREHEADER_MSG, chunk);
    CWqError result = sendToProgram(message);
    if (result.IsError()) return result.Push(FX_HERE);
  }
  FX_LOG(3, "Will send END for UNMODIFIED_PREHEADER_MSG");
  ClBlobMsg end(UNMODIFIED_PREHEADER_MSG, ClBlobMsg::Borrow, nullptr, 0);
  CWqError result = sendToProgram(end);
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError ProxyRestore::sendArchvieEntries() {
  if (!IsArchiveHeader(headerFlags) || archiveEntries.empty()) return CWqError::Success();
  std::string chunk;
  for (auto at = archiveEntries.cbegin(); at != archiveEntries.cend();) {
    size_t count = 0;
    at = RestoreLists::ArchiveChunk(at, archiveEntries.cend(), chunk, &count);
    FX_LOG(3, "Will send REFOPTHDR2_MSG [%s] with %d entries", chunk.c_str(), static_cast<int>(count));
    ClBlobMsg message = Chunk(REFOPTHDR2_MSG, chunk);
    CWqError result = sendToProgram(message);
    if (result.IsError()) {
      archiveEntries.clear();
      return result.Push(FX_HERE);
    }
  }
  archiveEntries.clear();
  FX_LOG(3, "Will send END for REFOPTHDR2_MSG");
  ClBlobMsg end(REFOPTHDR2_MSG, ClBlobMsg::Borrow, nullptr, 0);
  CWqError result = sendToProgram(end);
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}
