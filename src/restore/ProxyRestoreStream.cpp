// The file stream: the host's header, optional header, data blocks and end
// of file become FILE_HEADER_MSG, FILE_DATA_MSG and GOOD/BAD_EOF_MSG.
#include <cerrno>
#include <cstring>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyRestore.h"

namespace {

const uint64_t kScanlessBackup = 0x8000;
const uint64_t kHeaderKindMask = 0xF0;
const uint64_t kArchiveHeaderKind = 0x40;
const uint64_t kArchiveHeaderBit = 0x2;

bool IsArchiveHeader(uint64_t flags) {
  return (flags & kHeaderKindMask) == kArchiveHeaderKind && (flags & kArchiveHeaderBit) != 0;
}

// The IBM i library and document-library file systems take no unmodified
// list.
bool TakesUnmodifiedList(const std::string& name, uint64_t flags) {
  return !name.empty() && name.find("QSYS.LIB") == std::string::npos && name.find("QDLS") == std::string::npos &&
         (flags & kScanlessBackup) != 0;
}

}  // namespace

CWqError ProxyRestore::setCxHeader(CXFileHeader& header) {
  const void* end = std::memchr(header.name, '\0', CXFileHeader::kNameCapacity);
  if (!end)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "The file header's name is not terminated within %u bytes",
                                   CXFileHeader::kNameCapacity);
  ClProxyFileHeader converted;
  converted.name.assign(header.name, static_cast<const char*>(end) - header.name);
  converted.mode = header.mode;
  converted.uid = header.uid;
  converted.gid = header.gid;
  converted.size = header.size;
  converted.ctime = header.ctime;
  converted.mtime = header.mtime;
  converted.flags = header.platformFlags;
  converted.offset = header.offset;

  headerFlags = converted.flags;
  FX_LOG(2, "Was this backed up using Scanless backup [%d]", (headerFlags & kScanlessBackup) ? 1 : 0);
  currentFileName = converted.name;
  headerSerializer.setHeader(converted);
  archiveEntries.clear();

  if (!preHeaderHeadName.empty()) {
    CWqError result = pushPreHeadersToClient();
    if (result.IsError()) return result.Push(FX_HERE);
  }
  if (!preHeaders.empty()) {
    FX_LOG(3, "setting preHeaderHeadName = [%s]", currentFileName.c_str());
    preHeaderHeadName = currentFileName;
    if (IsArchiveHeader(headerFlags)) {
      CWqError result = pushPreHeadersToClient();
      if (result.IsError()) return result.Push(FX_HERE);
    }
  } else {
    FX_LOG(3, "preHeaders.empty = %d when header name [%s]", 1, currentFileName.c_str());
  }
  fileState = 1;
  return CWqError::Success();
}

CWqError ProxyRestore::setOptHeader(char* data, uint32_t size) {
  std::unique_ptr<char[]> copy(new char[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  optHeader = std::move(copy);
  optHeaderSize = size;
  return CWqError::Success();
}

CWqError ProxyRestore::sendHeader() {
  skipFileData = false;
  if (!programConnected())
    return FXErrorUtil::ErrorWin32(FX_HERE, 2250 /* ERROR_NOT_CONNECTED */,
                                   "The restore program is not connected: header of [%s] not sent",
                                   currentFileName.c_str());
  CWqError result = startReceiverThread();
  if (result.IsError()) return result.Push(FX_HERE);
  result = waitForEarlierAnswer();
  if (result.IsError()) return result.Push(FX_HERE);

  // Sized in 64 bits: a header near the frame maximum plus a large optional
  // header must not wrap into a small buffer.
  const uint32_t headerBytes = headerSerializer.getBufSize();
  const uint64_t total = static_cast<uint64_t>(headerBytes) + optHeaderSize;
  const uint32_t maximum = m_pSrvConnection->getMaxPayload();
  if (total > maximum)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EMSGSIZE,
                                   "The header of [%s] takes %llu bytes, above the message maximum of %u",
                                   currentFileName.c_str(), static_cast<unsigned long long>(total), maximum);
  std::unique_ptr<char[]> buffer(new char[total ? total : 1]);
  uint32_t written = 0;
  const int serialized = headerSerializer.serialize(buffer.get(), static_cast<uint32_t>(total), written);
  if (serialized != 0 || written != headerBytes)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO,
                                   "The header of [%s] did not serialize (result %d, %u of %u bytes)",
                                   currentFileName.c_str(), serialized, written, headerBytes);
  if (optHeaderSize) std::memcpy(buffer.get() + written, optHeader.get(), optHeaderSize);

  // Records that arrive from now on may concern this file.
  stampCurrentFile();
  std::unique_ptr<ClBlobMsg> message = ClBlobMsg::Adopt(FILE_HEADER_MSG, buffer.release(),
                                                        static_cast<uint32_t>(total));
  result = sendToProgram(*message);
  message.reset();
  if (result.IsError()) return result.Push(FX_HERE);
  FX_LOG(4, "Sent header for file %s", currentFileName.c_str());

  if (TakesUnmodifiedList(currentFileName, headerFlags)) {
    FX_LOG(3, "Sending unmodified preheaders to IBMi");
    result = sendUnmodifiedPreHeaders();
    if (result.IsError()) return result.Push(FX_HERE);
  }
  result = getMyFileStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  fileState = 2;
  return CWqError::Success();
}

CWqError ProxyRestore::sendData(char* data, uint32_t size) {
  if (skipFileData) {
    discardedBytes += size;
    FX_LOG(2, "Discarded %u bytes (Total for this job %llu)", size,
           static_cast<unsigned long long>(discardedBytes));
    return CWqError::Success();
  }
  // Borrowed: the host keeps its buffer. The locked send keeps the
  // receiver's replies from interleaving with the block.
  ClBlobMsg message(FILE_DATA_MSG, ClBlobMsg::Borrow, data, size);
  CWqError result = sendToProgram(message);
  if (result.IsError()) return result.Push(FX_HERE);
  FX_LOG(4, "Sent data, dataSize=%d", static_cast<int>(size));
  result = getMyFileStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

CWqError ProxyRestore::sendGoodEOF() {
  FX_LOG(3, "Sending GOOD EOF for '%s'", currentFileName.c_str());
  ClEmptyMsg message(GOOD_EOF_MSG);
  CWqError result = sendToProgram(message);
  if (result.IsError()) return result.Push(FX_HERE);
  endCurrentFile(true);  // the client answers a good end
  result = getMyFileStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  fileState = 0;
  return CWqError::Success();
}

CWqError ProxyRestore::sendBadEOF() {
  FX_LOG(3, "Sending BAD EOF for '%s'", currentFileName.c_str());
  ClBadEofMsg message("");
  CWqError result = sendToProgram(message);
  if (result.IsError()) return result.Push(FX_HERE);
  endCurrentFile(false);
  result = getMyFileStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  fileState = 0;
  return CWqError::Success();
}

CWqError ProxyRestore::onCloseArchive() {
  if (fileState != 0) {
    FX_LOG(3, "calling sendBadEOF for '%s'", currentFileName.c_str());
    sendBadEOF();  // best effort: the archive closes either way
  }
  if (preHeaderHeadName.empty()) {
    FX_LOG(3, "no pre-headers");
    return CWqError::Success();
  }
  CWqError result = pushPreHeadersToClient();
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}
