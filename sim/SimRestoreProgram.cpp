#include "SimRestoreProgram.h"

#include <cerrno>
#include <deque>

#include "ClBasicMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxySerializer.h"
#include "ClTapeMsgs.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"

namespace SimRestoreProgram {

const char kCommand[] = "RST.EXE";
const char kBaseDir[] = "/opt/client/";

namespace {

CWqError Start(SimPeer& peer, const Options& options) {
  CWqError result = peer.Receive(std::vector<ClProxyMsgType>{JOB_START_MSG}, SimScript::kDefaultExpectSeconds);
  if (result.IsError()) return result;
  ClBlobMsg baseDir(CLIENT_BASE_DIR_MSG, ClBlobMsg::Copy, options.baseDir.data(),
                    static_cast<uint32_t>(options.baseDir.size()));
  return peer.Send(baseDir);
}

// Answers one message of the unscripted tape restore; `done` at the end.
CWqError Serve(SimPeer& peer, const Options& options, const ClProxyMsg& message, uint32_t& items,
               bool& asked, std::deque<std::shared_ptr<ClProxyMsg>>& pending, bool& done) {
  switch (message.getMsgType()) {
    case TAPE_RESTORE_DATA_MSG: {
      const ClTapeRestoreDataMsg* data = dynamic_cast<const ClTapeRestoreDataMsg*>(&message);
      if (!data) return CWqError::Success();
      std::vector<StatusEntry> entries;
      for (const TapeRestoreData& item : data->getItems()) {
        StatusEntry entry;
        entry.name = item.text;
        entry.status = 5;
        entry.value = item.value;
        entries.push_back(entry);
      }
      CWqError result = peer.Send(*ItemStatus(entries));
      if (result.IsError()) return result;
      items += static_cast<uint32_t>(entries.size());
      if (asked || options.nextVolumeAfter == 0 || items < options.nextVolumeAfter) return CWqError::Success();
      asked = true;
      result = peer.Send(*TapeInfo(options.nextVolume, options.driveSerial));
      // The answer; whatever the proxy sends meanwhile is served after it.
      while (!result.IsError()) {
        std::shared_ptr<ClProxyMsg> answer;
        result = peer.Receive(std::vector<ClProxyMsgType>(), 0, &answer);
        if (result.IsError()) break;
        if (answer->getMsgType() == TAPE_INFO_MSG || answer->getMsgType() == BAD_EOF_MSG) break;
        pending.push_back(answer);
      }
      return result;
    }
    case TAPE_CLOSE_MSG:
      return peer.Send(*Empty(TAPE_CLOSE_MSG));
    case JOB_COMPLETE_MSG:
      done = true;
      return peer.Send(*Empty(GOOD_EOF_MSG));
    default:
      return CWqError::Success();
  }
}

}  // namespace

SimScript Scripted(const SimScript& stream, const Options& options) {
  return SimScript().Call([stream, options](SimPeer& peer) {
    CWqError result = Start(peer, options);
    if (!result.IsError()) result = peer.RunSteps(stream);
    while (!result.IsError() && options.answerJobComplete) {
      std::shared_ptr<ClProxyMsg> message;
      result = peer.Receive(std::vector<ClProxyMsgType>(), 0, &message);
      if (!result.IsError() && message->getMsgType() == JOB_COMPLETE_MSG) {
        result = peer.Send(*Empty(GOOD_EOF_MSG));
        break;
      }
    }
    return SimProgramEnd(result);
  });
}

SimScript Unscripted(const Options& options) {
  return SimScript().Call([options](SimPeer& peer) {
    CWqError result = Start(peer, options);
    uint32_t items = 0;
    bool asked = false, done = false;
    std::deque<std::shared_ptr<ClProxyMsg>> pending;
    while (!result.IsError() && !done) {
      std::shared_ptr<ClProxyMsg> message;
      if (!pending.empty()) {
        message = pending.front();
        pending.pop_front();
      } else {
        result = peer.Receive(std::vector<ClProxyMsgType>(), 0, &message);
        if (result.IsError()) break;
      }
      result = Serve(peer, options, *message, items, asked, pending, done);
    }
    return SimProgramEnd(result);
  });
}

std::shared_ptr<const ClJobStartMsg> JobStart(const SimConnectionRecord& record) {
  for (const std::shared_ptr<ClProxyMsg>& message : record.received)
    if (auto start = std::dynamic_pointer_cast<const ClJobStartMsg>(message)) return start;
  return nullptr;
}

std::vector<ClProxyMsgType> Types(const SimConnectionRecord& record) {
  std::vector<ClProxyMsgType> types;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) types.push_back(message->getMsgType());
  return types;
}

std::vector<std::string> CommaItems(const std::string& chunk) {
  std::vector<std::string> items;
  if (chunk.empty()) return items;
  std::string item;
  for (size_t i = 0; i < chunk.size(); ++i) {
    const char c = chunk[i];
    if (c == ',') {
      items.push_back(item);
      item.clear();
    } else if (c == '%' && i + 1 < chunk.size() && (chunk[i + 1] == 'c' || chunk[i + 1] == '%')) {
      item += chunk[++i] == 'c' ? ',' : '%';
    } else {
      item += c;
    }
  }
  items.push_back(item);
  return items;
}

std::vector<std::vector<std::string>> Lists(const SimConnectionRecord& record, ClProxyMsgType type) {
  std::vector<std::vector<std::string>> lists;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) {
    if (message->getMsgType() != type) continue;
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
    if (!blob) continue;
    const std::string text(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize());
    if (type != PREHEADER_MSG) {
      lists.push_back(CommaItems(text));
      continue;
    }
    // The head name goes out as it is, so it ends at the first comma only
    // when it holds none: the tests name heads without commas or read the
    // raw text.
    const size_t comma = text.find(',');
    std::vector<std::string> items{text.substr(0, comma)};
    if (comma != std::string::npos) {
      std::vector<std::string> rest = CommaItems(text.substr(comma + 1));
      items.insert(items.end(), rest.begin(), rest.end());
    }
    lists.push_back(items);
  }
  return lists;
}

std::vector<std::shared_ptr<const ClTapeRestoreDataMsg>> TapeRestores(const SimConnectionRecord& record) {
  std::vector<std::shared_ptr<const ClTapeRestoreDataMsg>> found;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received)
    if (auto data = std::dynamic_pointer_cast<const ClTapeRestoreDataMsg>(message)) found.push_back(data);
  return found;
}

std::vector<ReceivedHeader> Headers(const SimConnectionRecord& record) {
  std::vector<ReceivedHeader> headers;
  for (const std::string& payload : Payloads(record, FILE_HEADER_MSG)) {
    ReceivedHeader received;
    ClProxyFileHeaderSerializer serializer;
    uint32_t used = 0;
    received.decoded = serializer.deserialize(payload.data(), static_cast<uint32_t>(payload.size()), used) == 0;
    if (received.decoded) {
      serializer.getHeader(received.header);
      received.optional.assign(payload.begin() + used, payload.end());
    }
    headers.push_back(received);
  }
  return headers;
}

std::vector<std::string> Payloads(const SimConnectionRecord& record, ClProxyMsgType type) {
  std::vector<std::string> payloads;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) {
    if (message->getMsgType() != type) continue;
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
    payloads.push_back(blob ? std::string(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize())
                            : std::string());
  }
  return payloads;
}

std::vector<std::string> SourceFilters(const SimConnectionRecord& record) {
  std::vector<std::string> filters;
  for (const std::string& chunk : Payloads(record, SOURCE_FILTERS_MSG)) {
    size_t from = 0;
    for (size_t at = chunk.find(';'); ; at = chunk.find(';', from)) {
      filters.push_back(chunk.substr(from, at == std::string::npos ? std::string::npos : at - from));
      if (at == std::string::npos) break;
      from = at + 1;
    }
  }
  return filters;
}

std::vector<uint8_t> ItemStatusBytes(const std::vector<StatusEntry>& entries) {
  uint32_t size = 0;
  for (const StatusEntry& entry : entries)
    size += ClProxySerializer::getBufSize(entry.name) + ClProxySerializer::getBufSize(entry.message) + 12;
  std::vector<uint8_t> bytes(size);
  uint32_t offset = 0;
  for (const StatusEntry& entry : entries) {
    ClProxySerializer::serialize(entry.name, bytes.data(), size, offset);
    ClProxySerializer::serialize(entry.message, bytes.data(), size, offset);
    ClProxySerializer::serialize(entry.status, bytes.data(), size, offset);
    ClProxySerializer::serialize(entry.value, bytes.data(), size, offset);
  }
  return bytes;
}

std::shared_ptr<ClProxyMsg> ItemStatus(const std::vector<StatusEntry>& entries) {
  return Blob(ITEM_STATUS_MSG, ItemStatusBytes(entries));
}

std::shared_ptr<ClProxyMsg> DataNotNeeded(const std::string& name) {
  return Blob(FILE_DATA_NOT_NEEDED_MSG, std::vector<uint8_t>(name.begin(), name.end()));
}

std::shared_ptr<ClProxyMsg> FailedFile(const std::string& name, int32_t code, const std::string& text) {
  return std::make_shared<ClFailedFileMsg>(name, code, text);
}

std::shared_ptr<ClProxyMsg> Event(uint32_t eventId, const std::list<std::string>& arguments) {
  return std::make_shared<ClEventMsg>(eventId, 1, 0, arguments);
}

std::shared_ptr<ClProxyMsg> TapeInfo(const std::string& barcode, const std::string& driveSerial) {
  return std::make_shared<ClTapeInfoMsg>(barcode, driveSerial);
}

std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }

std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::vector<uint8_t>& bytes) {
  return std::make_shared<ClBlobMsg>(type, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace SimRestoreProgram
