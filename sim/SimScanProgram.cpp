#include "SimScanProgram.h"

#include <cerrno>

#include "ClBasicMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"
#include "SimScanContent.h"

namespace SimScanProgram {

const char kCommand[] = "SCN.EXE";
const char kBaseDir[] = "/QOpenSys/scanclient/";

namespace {

std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::string& bytes) {
  return std::make_shared<ClBlobMsg>(type, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Job start, base directory, scan configuration.
SimScript Opening(const std::string& baseDir) {
  return SimScript().Expect(JOB_START_MSG).Reply(Blob(CLIENT_BASE_DIR_MSG, baseDir)).Expect(SCAN_CONFIG_MSG);
}

template <class T>
std::shared_ptr<const T> Find(const SimConnectionRecord& record) {
  for (const std::shared_ptr<ClProxyMsg>& message : record.received)
    if (std::shared_ptr<const T> found = std::dynamic_pointer_cast<const T>(message)) return found;
  return nullptr;
}

CWqError SendFileNow(SimPeer& peer, const std::string& tag, const std::string& content) {
  CWqError result = peer.Send(*Tag(tag));
  for (size_t offset = 0; !result.IsError() && offset < content.size(); offset += kBlockBytes)
    result = peer.Send(*Data(content.substr(offset, kBlockBytes)));
  return result;
}

CWqError ScanAndReport(SimPeer& peer, const std::string& root) {
  std::shared_ptr<const ClScanConfigMsg> config = ScanConfig(peer.Recorder().Snapshot());
  if (!config) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Simulated scan program has no scan configuration");
  CWqError result = peer.Send(*Status(1, FXGetClock().UnixTime()));
  if (result.IsError()) return result;

  SimScanResult scan = SimScanContent(root, config->getContent());
  result = SendFileNow(peer, "DC", scan.dirChange);
  if (!result.IsError()) result = SendFileNow(peer, "SFAIL", scan.failuresFile);
  if (!result.IsError()) result = peer.Send(*GoodEof());
  if (!result.IsError())
    result = peer.Send(
        *Status(3, FXGetClock().UnixTime(), scan.failures, static_cast<uint32_t>(scan.failures.size()), scan.items));
  return result;
}

}  // namespace

SimScript Scripted(const SimScript& stream, const std::string& baseDir) {
  SimScript script = Opening(baseDir);
  for (const SimStep& step : stream.Steps()) {
    switch (step.kind) {
      case SimStep::kExpect:
        script.Expect(step.types, step.seconds);
        break;
      case SimStep::kReply:
        script.Reply(step.message);
        break;
      case SimStep::kSilent:
        script.Silent(step.milliseconds);
        break;
      case SimStep::kSendRaw:
        script.SendRaw(step.bytes);
        break;
      case SimStep::kClose:
        script.Close();
        break;
      case SimStep::kReset:
        script.Reset();
        break;
      case SimStep::kCall:
        script.Call(step.action);
        break;
    }
  }
  return script;
}

SimScript Unscripted(const std::string& root, const std::string& baseDir) {
  return Opening(baseDir).Call([root](SimPeer& peer) { return ScanAndReport(peer, root); }).Expect(JOB_COMPLETE_MSG);
}

std::shared_ptr<const ClJobStartMsg> JobStart(const SimConnectionRecord& record) { return Find<ClJobStartMsg>(record); }

std::shared_ptr<const ClScanConfigMsg> ScanConfig(const SimConnectionRecord& record) {
  return Find<ClScanConfigMsg>(record);
}

std::shared_ptr<ClProxyMsg> Status(uint32_t word, int64_t time, const std::list<std::string>& failures,
                                   uint32_t failedToBackup, uint32_t numCollect) {
  return std::make_shared<ClScanResultMsg>(word, time, failures, failedToBackup, numCollect);
}

std::shared_ptr<ClProxyMsg> Tag(const std::string& tag) { return Blob(FILE_HEADER_MSG, tag); }
std::shared_ptr<ClProxyMsg> Data(const std::string& bytes) { return Blob(FILE_DATA_MSG, bytes); }
std::shared_ptr<ClProxyMsg> GoodEof() { return std::make_shared<ClEmptyMsg>(GOOD_EOF_MSG); }
std::shared_ptr<ClProxyMsg> BadEof(const std::string& text) { return std::make_shared<ClBadEofMsg>(text); }
std::shared_ptr<ClProxyMsg> DisableSyncLib() { return std::make_shared<ClEmptyMsg>(DISABLE_SYNCLIB_MSG); }

std::shared_ptr<ClProxyMsg> Event(uint32_t eventId, int32_t severity, int32_t value,
                                  const std::list<std::string>& arguments) {
  return std::make_shared<ClEventMsg>(eventId, severity, value, arguments);
}

SimScript& SendFile(SimScript& script, const std::string& tag, const std::string& content) {
  script.Reply(Tag(tag));
  for (size_t offset = 0; offset < content.size(); offset += kBlockBytes)
    script.Reply(Data(content.substr(offset, kBlockBytes)));
  return script;
}

}  // namespace SimScanProgram
