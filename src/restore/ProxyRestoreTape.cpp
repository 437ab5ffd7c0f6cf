// Restore from tape: the item cache, the tape close and the next-volume
// requests of the client.
#include <cerrno>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "ProxyRestore.h"

namespace {

const uint32_t kErrorBufferOverflow = 111;

}  // namespace

CWqError ProxyRestore::tapeRestore(const std::vector<std::string>& names1, const std::vector<std::string>& names2,
                                   const std::vector<long>& offsets, unsigned long long value,
                                   IBMiSAVCommandType commandType, const std::string& text,
                                   const std::list<std::string>& items) {
  CWqError result;
  if (commandType != tapeRestoreCache.getCommandType()) {
    // Items of different save commands never share a message.
    result = sendTapeRestoreCacheData();
    if (result.IsError()) return result.Push(FX_HERE);
    tapeRestoreCache.setCommandType(commandType);
  }
  const std::string joined = FXString::Join(items, ":");
  result = tapeRestoreCache.add(names1, names2, offsets, static_cast<unsigned long>(value), text, joined);
  if (FXErrorUtil::IsWin32(result, kErrorBufferOverflow)) {
    result = sendTapeRestoreCacheData();
    if (result.IsError()) return result.Push(FX_HERE);
    result = tapeRestoreCache.add(names1, names2, offsets, static_cast<unsigned long>(value), text, joined);
  }
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError ProxyRestore::sendTapeRestoreCacheData() {
  if (tapeRestoreCache.itemCount() == 0) return CWqError::Success();
  if (!programConnected()) return sendToProgram(tapeRestoreCache);  // the not-connected error
  // The client answers tape items: the receiver has to be there.
  CWqError result = startReceiverThread();
  if (result.IsError()) return result.Push(FX_HERE);
  result = sendToProgram(tapeRestoreCache);
  if (result.IsError()) return result.Push(FX_HERE);
  tapeRestoreCache.clear();
  return CWqError::Success();
}

CWqError ProxyRestore::tapeClose() {
  CWqError result = sendTapeRestoreCacheData();
  if (result.IsError()) return result.Push(FX_HERE);
  ClEmptyMsg close(TAPE_CLOSE_MSG);
  if (!programConnected()) return sendToProgram(close);
  result = startReceiverThread();
  if (result.IsError()) return result.Push(FX_HERE);
  result = sendToProgram(close);
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

void ProxyRestore::registerVTLDataHandler(VTLDataHandler* handler) {
  std::lock_guard<std::recursive_mutex> lock(m_handlerMutex);
  vtlDataHandler.store(handler);
}

void ProxyRestore::unRegisterVTLDataHandler() {
  // Waits for a request in progress: the host may drop its handler after.
  std::lock_guard<std::recursive_mutex> lock(m_handlerMutex);
  vtlDataHandler.store(nullptr);
}

CWqError ProxyRestore::handleNextTapeMessage(ClTapeInfoMsg* request) {
  if (!request) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No next-volume request");
  std::lock_guard<std::recursive_mutex> lock(m_handlerMutex);
  VTLDataHandler* handler = vtlDataHandler.load();
  if (!handler) {
    // The client waits for an answer; without one it would wait forever.
    ClBadEofMsg answer("Handler is not set");
    CWqError sent = sendToProgram(answer);
    if (sent.IsError()) FX_LOG(-1, "Failed to answer a next-volume request: %s", sent.AsString().c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Handler is not set");
  }
  CWqError result = handler->mountNextVolume(request);
  const std::string barcode = request->currentTapeBarCode();
  if (!result.IsError()) {
    FX_LOG(0, "Sending mount reply for [%s]", barcode.c_str());
    result = sendToProgram(*request);
    if (result.IsError()) result.Push(FX_HERE);
    return result;
  }
  FX_LOG(-1, "Failed to mount next volume [%s]: %s", barcode.c_str(), result.AsString().c_str());
  ClBadEofMsg answer(result.AsString(ERROR_OUTPUT_ONE_LINE));
  CWqError sent = sendToProgram(answer);
  if (sent.IsError()) FX_LOG(-1, "Failed to send the mount failure: %s", sent.AsString().c_str());
  return result.Copy().Push(FX_HERE);
}
