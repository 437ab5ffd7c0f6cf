#include "SimPostOpsProgram.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"

namespace {

const uint32_t kLargestBlock = 65536;

}  // namespace

std::shared_ptr<SimPostOpsProgram> SimPostOpsProgram::Create(const std::string& baseDir) {
  return std::shared_ptr<SimPostOpsProgram>(new SimPostOpsProgram(baseDir));
}

void SimPostOpsProgram::SetBlockHook(BlockHook hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_blockHook = std::move(hook);
}

SimScript SimPostOpsProgram::Script() {
  std::shared_ptr<SimPostOpsProgram> self = shared_from_this();
  return SimScript().Call([self](SimPeer& peer) { return self->Run(peer); });
}

SimPostOpsProgram::Result SimPostOpsProgram::GetResult() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_result;
}

CWqError SimPostOpsProgram::Fault(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_result.fault.empty()) m_result.fault = text;
  }
  return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "PST.EXE: %s", text);
}

CWqError SimPostOpsProgram::Run(SimPeer& peer) {
  const int seconds = SimScript::kDefaultExpectSeconds;
  std::shared_ptr<ClProxyMsg> message;
  CWqError result = peer.Receive(std::vector<ClProxyMsgType>(), seconds, &message);
  if (result.IsError()) return SimLinkEnded(result) ? CWqError::Success() : Fault("no job start: %s", result.AsString().c_str());
  std::shared_ptr<const ClJobStartMsg> start = std::dynamic_pointer_cast<const ClJobStartMsg>(message);
  if (!start) return Fault("first message of type 0x%04x, not the job start", static_cast<unsigned>(message->getMsgType()));
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result.jobStart = start;
  }
  ClBlobMsg baseDir(CLIENT_BASE_DIR_MSG, ClBlobMsg::Copy, m_sBaseDir.data(), static_cast<uint32_t>(m_sBaseDir.size()));
  result = peer.Send(baseDir);
  if (result.IsError()) return SimProgramEnd(result);

  for (;;) {
    result = peer.Receive(std::vector<ClProxyMsgType>(), seconds, &message);
    if (result.IsError())
      return SimLinkEnded(result) ? CWqError::Success() : Fault("waiting for a transfer: %s", result.AsString().c_str());
    const ClProxyMsgType type = message->getMsgType();
    if (type == JOB_COMPLETE_MSG) break;
    if (type != FILE_HEADER_MSG)
      return Fault("message of type 0x%04x where a file header or the job complete belongs",
                   static_cast<unsigned>(type));
    const ClBlobMsg* header = dynamic_cast<const ClBlobMsg*>(message.get());
    if (!header) return Fault("file header of an unexpected class");
    bool ended = false;
    result = ReceiveTransfer(peer, std::vector<uint8_t>(header->getBlob(), header->getBlob() + header->getBlobSize()),
                             ended);
    if (result.IsError() || ended) return result;
  }

  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result.jobComplete = true;
  }
  // The phase is over: anything more is a fault.
  result = peer.Receive(std::vector<ClProxyMsgType>(), 0, &message);
  if (result.IsError()) return SimProgramEnd(result);
  return Fault("message of type 0x%04x after the job complete", static_cast<unsigned>(message->getMsgType()));
}

CWqError SimPostOpsProgram::ReceiveTransfer(SimPeer& peer, const std::vector<uint8_t>& header, bool& ended) {
  // A path, then exactly one NUL that ends the payload.
  size_t nulCount = 0;
  for (uint8_t byte : header)
    if (byte == 0) ++nulCount;
  if (header.size() < 2 || header.back() != 0 || nulCount != 1)
    return Fault("file header of %zu bytes is not a path followed by one NUL", header.size());
  size_t transfer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result.transfers.push_back(Transfer());
    m_result.transfers.back().path.assign(header.begin(), header.end() - 1);
    transfer = m_result.transfers.size() - 1;
  }

  size_t blocks = 0;
  uint64_t bytes = 0;
  for (;;) {
    std::shared_ptr<ClProxyMsg> message;
    CWqError result = peer.Receive(std::vector<ClProxyMsgType>(), SimScript::kDefaultExpectSeconds, &message);
    if (result.IsError()) {
      if (SimLinkEnded(result)) {
        ended = true;
        return CWqError::Success();
      }
      return Fault("inside a transfer after %zu blocks: %s", blocks, result.AsString().c_str());
    }
    const ClProxyMsgType type = message->getMsgType();
    if (type == GOOD_EOF_MSG) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_result.transfers[transfer].end = kGoodEof;
      return CWqError::Success();
    }
    if (type == BAD_EOF_MSG) {
      const ClBadEofMsg* badEof = dynamic_cast<const ClBadEofMsg*>(message.get());
      if (!badEof) return Fault("bad end of file of an unexpected class");
      std::lock_guard<std::mutex> lock(m_mutex);
      m_result.transfers[transfer].end = kBadEof;
      badEof->get(m_result.transfers[transfer].badEofText);
      return CWqError::Success();
    }
    if (type != FILE_DATA_MSG)
      return Fault("message of type 0x%04x inside a transfer", static_cast<unsigned>(type));
    const ClBlobMsg* block = dynamic_cast<const ClBlobMsg*>(message.get());
    if (!block) return Fault("file data of an unexpected class");
    if (block->getBlobSize() == 0 || block->getBlobSize() > kLargestBlock)
      return Fault("data block %zu of %u bytes", blocks, static_cast<unsigned>(block->getBlobSize()));
    ++blocks;
    bytes += block->getBlobSize();
    BlockHook hook;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      Transfer& current = m_result.transfers[transfer];
      current.data.insert(current.data.end(), block->getBlob(), block->getBlob() + block->getBlobSize());
      current.blockSizes.push_back(block->getBlobSize());
      hook = m_blockHook;
    }
    if (hook && !hook(peer, blocks, bytes)) {
      ended = true;
      return CWqError::Success();
    }
  }
}
