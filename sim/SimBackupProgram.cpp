#include "SimBackupProgram.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "ClBasicMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClPipelineMsgs.h"
#include "SimFileTree.h"
#include "ClProxySerializer.h"
#include "ClTapeMsgs.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"
#include "SimScanContent.h"

namespace SimBackupProgram {

const char kCommand[] = "BKP.EXE";
const char kBaseDir[] = "/opt/client/";

namespace {

bool OptionTrue(const ClJobStartMsg& start, const char* name) {
  const ClJobStartMsg::Entry* entry = start.findOption(name);
  return entry && entry->kind == ClJobStartMsg::kBool && entry->bValue;
}

std::vector<uint8_t> SerializeHeader(const ClProxyFileHeader& header) {
  ClProxyFileHeaderSerializer serializer;
  serializer.setHeader(header);
  std::vector<uint8_t> bytes(serializer.getBufSize());
  uint32_t used = 0;
  serializer.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  return bytes;
}

// Job start, base directory, then the control port of a sync or VTL job.
CWqError Start(SimPeer& peer, const Options& options, bool& vtl) {
  std::shared_ptr<ClProxyMsg> message;
  CWqError result = peer.Receive(std::vector<ClProxyMsgType>{JOB_START_MSG}, SimScript::kDefaultExpectSeconds,
                                 &message);
  if (result.IsError()) return result;
  const ClJobStartMsg* start = dynamic_cast<const ClJobStartMsg*>(message.get());
  if (!start) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "BKP.EXE: job start of an unexpected class");
  ClBlobMsg baseDir(CLIENT_BASE_DIR_MSG, ClBlobMsg::Copy, options.baseDir.data(),
                    static_cast<uint32_t>(options.baseDir.size()));
  result = peer.Send(baseDir);
  if (result.IsError()) return result;
  vtl = OptionTrue(*start, "isVTLBackup");
  if (!options.sendControlPort || (!vtl && !OptionTrue(*start, "Backup_SyncLib_Enabled")))
    return CWqError::Success();
  for (const std::shared_ptr<ClProxyMsg>& event : options.eventsBeforePort) {
    result = peer.Send(*event);
    if (result.IsError()) return result;
  }
  std::shared_ptr<ClProxyMsg> port = options.controlPortBlob ? Blob(BACKUP_CONTROL_PORT_MSG, *options.controlPortBlob)
                                                             : ControlPort(options.controlPort);
  return peer.Send(*port);
}

// Waits for the proxy's answer to a collect-file request; tape answers that
// come first are recorded and skipped.
CWqError NextAnnouncement(SimPeer& peer, std::shared_ptr<ClProxyMsg>& message) {
  for (;;) {
    CWqError result = peer.Receive(std::vector<ClProxyMsgType>(), SimScript::kDefaultExpectSeconds, &message);
    if (result.IsError()) return result;
    if (message->getMsgType() != TAPE_INFO_MSG) return CWqError::Success();
  }
}

// Asks for collect files until the job completes; `serve` answers one.
template <class Serve>
CWqError CollectLoop(SimPeer& peer, Serve serve) {
  for (;;) {
    CWqError result = peer.Send(*CollectRequest());
    if (result.IsError()) return result;
    std::shared_ptr<ClProxyMsg> announcement;
    result = NextAnnouncement(peer, announcement);
    if (result.IsError()) return result;
    if (announcement->getMsgType() == JOB_COMPLETE_MSG) return CWqError::Success();
    result = serve(*announcement);
    if (result.IsError()) return result;
  }
}

struct Tally {
  uint32_t files = 0;
  uint32_t failed = 0;
  uint64_t bytes = 0;
};

// The client paths a directory-change file lists, in order.
std::vector<std::string> ListedPaths(const std::string& dirChange) {
  std::vector<std::string> paths;
  std::istringstream lines(dirChange);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t at = 0;
    for (int field = 0; field < 3 && at != std::string::npos; ++field) {
      at = line.find('\t', at);
      if (at != std::string::npos) ++at;
    }
    if (at != std::string::npos) paths.push_back(SimScanUnescape(line.substr(at)));
  }
  return paths;
}

// One item: header, data, end marker; or FAILED_FILE_MSG.
CWqError SendItem(SimPeer& peer, const std::string& root, const std::string& clientPath, bool vtl,
                  const Options& options, Tally& tally, std::vector<uint8_t>& buffer) {
  const bool failing = !options.readFailsAt.empty() && options.readFailsAt == clientPath;
  uint64_t offset = 0;
  const std::string local = root + clientPath;
  struct stat st;
  int fd = -1;
  if (::lstat(local.c_str(), &st) != 0 ||
      (S_ISREG(st.st_mode) && (fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC)) < 0)) {
    const int errNo = errno;
    ++tally.failed;
    return peer.Send(*FailedFile(clientPath, errNo, std::strerror(errNo)));
  }
  const ClProxyFileHeader header = HeaderFromStat(clientPath, st);
  CWqError result = peer.Send(*Header(header, vtl ? VtlFields(1) : std::vector<uint8_t>()));
  if (result.IsError() || S_ISDIR(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    if (!result.IsError()) ++tally.files;
    return result.IsError() ? result : peer.Send(*GoodEof());
  }
  if (S_ISLNK(st.st_mode)) {
    const ssize_t got = ::readlink(local.c_str(), reinterpret_cast<char*>(buffer.data()), buffer.size());
    if (got > 0) {
      result = peer.Send(*Data(std::vector<uint8_t>(buffer.begin(), buffer.begin() + got)));
      tally.bytes += static_cast<uint64_t>(got);
    }
  }
  while (fd >= 0 && !result.IsError()) {
    size_t want = buffer.size();
    if (failing) want = static_cast<size_t>(std::min<uint64_t>(want, options.readFailsAfter - offset));
    ssize_t got = -1;
    if (failing && want == 0) errno = EIO;
    else got = ::read(fd, buffer.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int errNo = errno;
      ::close(fd);
      ++tally.failed;  // a file ended by BAD_EOF_MSG is not backed up whole
      return peer.Send(*BadEof(std::strerror(errNo)));
    }
    if (got == 0) break;
    ClBlobMsg block(FILE_DATA_MSG, ClBlobMsg::Borrow, buffer.data(), static_cast<uint32_t>(got));
    result = peer.Send(block);
    tally.bytes += static_cast<uint64_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  if (fd >= 0) ::close(fd);
  if (result.IsError()) return result;
  ++tally.files;
  return peer.Send(*GoodEof());
}

// A synthetic-full collect file's content, as the proxy streams it; false
// in `good` when it ended with BAD_EOF_MSG.
CWqError ReceiveCollectFile(SimPeer& peer, std::string& content, bool& good) {
  for (;;) {
    std::shared_ptr<ClProxyMsg> message;
    CWqError result = peer.Receive(std::vector<ClProxyMsgType>{FILE_DATA_MSG, GOOD_EOF_MSG, BAD_EOF_MSG},
                                   SimScript::kDefaultExpectSeconds, &message);
    if (result.IsError()) return result;
    if (message->getMsgType() != FILE_DATA_MSG) {
      good = message->getMsgType() == GOOD_EOF_MSG;
      return CWqError::Success();
    }
    const ClBlobMsg* block = dynamic_cast<const ClBlobMsg*>(message.get());
    if (block) content.append(reinterpret_cast<const char*>(block->getBlob()), block->getBlobSize());
  }
}

CWqError SendVolumeList(SimPeer& peer, const std::string& root) {
  std::vector<std::string> top;
  DIR* dir = ::opendir(root.c_str());
  while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
    const std::string name = entry->d_name;
    struct stat st;
    if (name != "." && name != ".." && ::lstat((root + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      top.push_back("/" + name);
  }
  if (dir) ::closedir(dir);
  std::sort(top.begin(), top.end());
  std::string text;
  for (const std::string& path : top) text += path + ";";
  return peer.Send(*VolumeList(text + "/"));
}

}  // namespace

SimScript Scripted(const SimScript& stream, const Options& options) {
  return SimScript().Call([stream, options](SimPeer& peer) {
    bool vtl = false;
    CWqError result = Start(peer, options, vtl);
    if (result.IsError()) return SimProgramEnd(result);
    return SimProgramEnd(peer.RunSteps(stream));
  });
}

SimScript Unscripted(const std::string& root, const Options& options) {
  return SimScript().Call([root, options](SimPeer& peer) {
    bool vtl = false;
    CWqError result = Start(peer, options, vtl);
    if (!result.IsError() && options.sendVolumeList) result = SendVolumeList(peer, root);
    if (result.IsError()) return SimProgramEnd(result);
    std::vector<uint8_t> buffer(kBlockBytes);
    result = CollectLoop(peer, [&](const ClProxyMsg& announcement) -> CWqError {
      std::vector<std::string> items;
      switch (announcement.getMsgType()) {
        case COLLECT_FILE_MSG:
        case SC_COLLECT_FILE_MSG:
          SimListTree(root, "/", items);
          break;
        case SYNTHETIC_FULL_COLLECT_FILE_MSG: {
          std::string content;
          bool good = false;
          CWqError received = ReceiveCollectFile(peer, content, good);
          if (received.IsError()) return received;
          if (!good) return peer.Send(*BadCollect());
          items = ListedPaths(content);
          break;
        }
        default:
          return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "BKP.EXE: message type 0x%04x where a collect file belongs",
                                         static_cast<unsigned>(announcement.getMsgType()));
      }
      Tally tally;
      for (const std::string& item : items) {
        CWqError sent = SendItem(peer, root, item, vtl, options, tally, buffer);
        if (sent.IsError()) return sent;
      }
      return peer.Send(*Stats(tally.files, tally.failed, tally.bytes));
    });
    return SimProgramEnd(result);
  });
}

SimScript Bulk(uint64_t blocks, uint32_t blockBytes, const Options& options) {
  return SimScript().Call([blocks, blockBytes, options](SimPeer& peer) {
    bool vtl = false;
    CWqError result = Start(peer, options, vtl);
    if (result.IsError()) return SimProgramEnd(result);
    std::vector<uint8_t> buffer(blockBytes ? blockBytes : 1);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 131 + 7);
    const ClBlobMsg block(FILE_DATA_MSG, ClBlobMsg::Borrow, buffer.data(), blockBytes);
    result = CollectLoop(peer, [&](const ClProxyMsg&) -> CWqError {
      ClProxyFileHeader header;
      header.name = "/bulk/data";
      header.mode = 0100644;
      header.size = blocks * blockBytes;
      header.flags = 0x10;
      CWqError sent = peer.Send(*Header(header, vtl ? VtlFields(1) : std::vector<uint8_t>()));
      for (uint64_t i = 0; i < blocks && !sent.IsError(); ++i)
        sent = ClProxyConnection::writeFrame(peer.Connection().getConnectionSocket(), FILE_DATA_MSG,
                                             block.getBlob(), block.getBlobSize());
      if (!sent.IsError()) sent = peer.Send(*GoodEof());
      if (!sent.IsError()) sent = peer.Send(*Stats(1, 0, header.size));
      return sent;
    });
    return SimProgramEnd(result);
  });
}

std::shared_ptr<const ClJobStartMsg> JobStart(const SimConnectionRecord& record) {
  for (const std::shared_ptr<ClProxyMsg>& message : record.received)
    if (auto start = std::dynamic_pointer_cast<const ClJobStartMsg>(message)) return start;
  return nullptr;
}

std::shared_ptr<ClProxyMsg> CollectRequest() { return std::make_shared<ClEmptyMsg>(COLLECT_FILE_REQUEST_MSG); }

std::shared_ptr<ClProxyMsg> Header(const ClProxyFileHeader& header, const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> bytes = SerializeHeader(header);
  bytes.insert(bytes.end(), extra.begin(), extra.end());
  return Blob(FILE_HEADER_MSG, bytes);
}

std::vector<uint8_t> VtlFields(int32_t barcode) {
  std::vector<uint8_t> bytes(4);
  uint32_t offset = 0;
  ClProxySerializer::serialize(barcode, bytes.data(), 4, offset);
  return bytes;
}

std::vector<uint8_t> VtlFields(int32_t barcode, int32_t streamCount, int32_t streamNumber,
                               const std::string& archiveObjectName) {
  std::vector<uint8_t> bytes(16 + archiveObjectName.size());
  const uint32_t size = static_cast<uint32_t>(bytes.size());
  uint32_t offset = 0;
  ClProxySerializer::serialize(barcode, bytes.data(), size, offset);
  ClProxySerializer::serialize(streamCount, bytes.data(), size, offset);
  ClProxySerializer::serialize(streamNumber, bytes.data(), size, offset);
  ClProxySerializer::serialize(archiveObjectName, bytes.data(), size, offset);
  return bytes;
}

std::shared_ptr<ClProxyMsg> Data(const std::vector<uint8_t>& bytes) { return Blob(FILE_DATA_MSG, bytes); }
std::shared_ptr<ClProxyMsg> GoodEof() { return std::make_shared<ClEmptyMsg>(GOOD_EOF_MSG); }
std::shared_ptr<ClProxyMsg> BadEof(const std::string& text) { return std::make_shared<ClBadEofMsg>(text); }
std::shared_ptr<ClProxyMsg> FailedFile(const std::string& name, int32_t error, const std::string& text) {
  return std::make_shared<ClFailedFileMsg>(name, error, text);
}
std::shared_ptr<ClProxyMsg> Stats(uint32_t files, uint32_t failedFiles, uint64_t totalSize) {
  return std::make_shared<ClBackupStatsMsg>(files, failedFiles, totalSize);
}
std::shared_ptr<ClProxyMsg> BadCollect() { return std::make_shared<ClEmptyMsg>(BAD_COLLECT_FILE_MSG); }
std::shared_ptr<ClProxyMsg> NewLibrary() { return std::make_shared<ClEmptyMsg>(NEW_LIBRARY_MSG); }
std::shared_ptr<ClProxyMsg> TapeFull(const std::string& barcode) { return std::make_shared<ClTapeFullMsg>(barcode); }

std::shared_ptr<ClProxyMsg> TapeInfo(const std::string& barcode, const std::string& driveSerial,
                                     const char* messageKey, const char* queueName) {
  auto info = std::make_shared<ClTapeInfoMsg>(barcode, driveSerial);
  if (messageKey) info->setArgument(ClTapeInfoMsg::keyMessage_Key, messageKey);
  if (queueName) info->setArgument(ClTapeInfoMsg::keyMSGQName, queueName);
  return info;
}

std::shared_ptr<ClProxyMsg> Event(uint32_t eventId, const std::list<std::string>& arguments) {
  return std::make_shared<ClEventMsg>(eventId, 1, 0, arguments);
}

std::shared_ptr<ClProxyMsg> PipelineData(const _PipelineDataHdr& header, const std::vector<uint8_t>& bytes) {
  return std::make_shared<ClPipelineBlobMsg>(header, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::shared_ptr<ClProxyMsg> Signature(const _PrePipelineDedupe_Signature* signature) {
  if (!signature) return std::make_shared<ClPipelineSignatureMsg>();
  return std::make_shared<ClPipelineSignatureMsg>(*signature);
}

std::shared_ptr<ClProxyMsg> ReferenceList(const std::list<std::string>& references) {
  std::vector<uint8_t> bytes(ClProxySerializer::getBufSize(references));
  uint32_t offset = 0;
  ClProxySerializer::serialize(references, bytes.data(), static_cast<uint32_t>(bytes.size()), offset);
  return Blob(REFOPTHDR2_MSG, bytes);
}

std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::vector<uint8_t>& bytes) {
  return std::make_shared<ClBlobMsg>(type, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::shared_ptr<ClProxyMsg> VolumeList(const std::string& text) {
  return Blob(CLIENT_VOLUME_LIST, std::vector<uint8_t>(text.begin(), text.end()));
}

std::shared_ptr<ClProxyMsg> ControlPort(uint32_t port) {
  std::vector<uint8_t> bytes(4);
  uint32_t offset = 0;
  ClProxySerializer::serialize(port, bytes.data(), 4, offset);
  return Blob(BACKUP_CONTROL_PORT_MSG, bytes);
}

ClProxyFileHeader HeaderFromStat(const std::string& clientPath, const struct stat& st) {
  ClProxyFileHeader header;
  header.name = clientPath;
  header.mode = st.st_mode;
  header.uid = st.st_uid;
  header.gid = st.st_gid;
  header.size = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  header.ctime = static_cast<uint64_t>(st.st_ctime);
  header.mtime = static_cast<uint64_t>(st.st_mtime);
  header.atime = static_cast<uint64_t>(st.st_atime);
  header.flags = S_ISDIR(st.st_mode) ? 0x20 : 0x10;
  return header;
}

}  // namespace SimBackupProgram
