#include "ProxyTapeAPI.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <boost/any.hpp>

#include "ArMgrClientAPI.h"
#include "CKxNetwork.h"
#include "ClProxyTimeouts.h"
#include "CWqLibrary.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXClient.h"
#include "KXPI_Focus.h"
#include "KXPlatformInfo.h"
#include "MediaManagerMsgs.h"

uint64_t ProxyTapeAPI::m_ulLocalClientId = 0;
uint64_t ProxyTapeAPI::m_ulMAClientId = 0;
std::string ProxyTapeAPI::m_sMAMangledName;

namespace {

const char kLibrary[] = "KxIBMTape";
// The limit of each remote step when the setting gives none.
const int kRemoteCallSeconds = 300;
const char kFirstHandler[] = "sLNIBMIVTLHandler";
const char kSecondHandler[] = "sLPIBMIVTLHandler";

// Field name keys of the media manager's messages.
const uint32_t kIdKey = 0x46b998;
const uint32_t kTextKey = 0x11ccd3;
const uint32_t kTapeKey = 0x84151e;
const uint32_t kFirstValueKey = 0xe98f2b;
const uint32_t kSecondValueKey = 0xef5782;
const uint32_t kErrorCodeKey = 0x9cb015;
const uint32_t kErrorTextKey = 0xcb7839;
const uint32_t kChunkSizeKey = 0x1ef8d7;
const uint32_t kTapeSizeKey = 0x99245d;

using InitializeFn = void (*)(const char*, const char*, CWqError&);
using ChunkSizeFn = void (*)(const char*, long long, long long, long long&, CWqError&);
using DefaultSizeFn = void (*)(uint64_t&, CWqError&);

// The caches' lock, and the entry points found so far.
std::mutex g_cacheMutex;
InitializeFn g_initializeIBMTape = nullptr;
ChunkSizeFn g_getVolumeChunkSize = nullptr;
DefaultSizeFn g_getDefaultVTLTapeSize = nullptr;

// The entry point `symbol` of the tape library, loaded on first need; kept
// in `cached` once found (the library is never unloaded).
template <typename Fn>
CWqError EntryPoint(Fn& cached, const char* symbol, Fn& out) {
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    out = cached;
  }
  if (out) return CWqError::Success();
  CWqLibrary loader(false);
  CWqError result = loader.Load(loader.GetLibraryNameForName(kLibrary), true);
  if (result.IsError()) return result.Push(FX_HERE, "KxIBMTape not loaded. Make sure require packages are installed.");
  void* address = nullptr;
  result = loader.GetAddress(symbol, address);
  if (result.IsError())
    return result.Push(FX_HERE, "Failed to locate API %s. Make sure latest packages are installed.", symbol);
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  cached = reinterpret_cast<Fn>(address);
  out = cached;
  return CWqError::Success();
}

enum RemoteStep { kAttached, kSent, kReceived };

// Attaches to the media agent's handler pair, sends `request` and receives
// the reply (null when the agent answered without a message). On failure
// `step` says which call failed.
CWqError RemoteCall(const char* mediaAgent, const CNMessageBase& request, std::unique_ptr<CNMessageBase>& reply,
                    RemoteStep& step) {
  kxsExecuteRemoteDllType handlers = {};
  std::strncpy(handlers.szFirst, kFirstHandler, sizeof handlers.szFirst);
  std::strncpy(handlers.szSecond, kSecondHandler, sizeof handlers.szSecond);
  // A media agent that takes the call and never answers must not hold the
  // caller: each step has the limit (the network reads 0 as none).
  int seconds = getTimeOutValue(TIMEOUT_TAPE_REMOTE_CALL);
  if (seconds <= 0) seconds = kRemoteCallSeconds;
  CKxNetwork network;
  bool flag = false;
  step = kAttached;
  CWqError result =
      network.Attach_RemoteDLL(mediaAgent, handlers, KXPI_Focus::getFocusClientName(false), seconds, flag);
  if (result.IsError()) return result;
  step = kSent;
  flag = false;
  result = network.SendXMLMessage(request, 0, seconds, flag);
  if (result.IsError()) return result;
  step = kReceived;
  flag = false;
  CNMessageBase* received = nullptr;
  result = network.ReceiveXMLMessage(nullptr, received, nullptr, 0, seconds, flag);
  reply.reset(received);
  return result;
}

// A reply that is missing or not the one expected, with its six parameters.
CWqError Unexpected(const FXCodeLocation& where, const char* mediaAgent, const CNMessageBase* reply,
                    uint32_t expectedTag, const char* expectedName) {
  CWqError error = FXErrorUtil::ErrorEventMessage(where, EV_TAPE_REPLY_UNEXPECTED);
  error << boost::any(std::string("IBMIVTL")) << boost::any(std::string(mediaAgent ? mediaAgent : ""));
  if (reply) {
    error << boost::any(static_cast<uint64_t>(reply->getTagID())) << boost::any(reply->getTagName())
          << boost::any(static_cast<MediaManager::TagType>(expectedTag));
  } else {
    error << boost::any(0) << boost::any(std::string("(NULL)")) << boost::any(static_cast<int>(expectedTag));
  }
  error << boost::any(std::string(expectedName));
  return error;
}

// A reply is the message of namespace 10 and `id`; the packed tag of a
// message the catalogue does not know can equal an expected one.
bool Is(const std::unique_ptr<CNMessageBase>& reply, int id) {
  return reply && reply->getNamespace() == 10 && reply->getMessageId() == id;
}

CWqError Malformed(const FXCodeLocation& where, const char* mediaAgent, const CNMessageBase& reply,
                   const char* what) {
  return FXErrorUtil::ErrorErrNo(where, EPROTO, "The %s from media agent [%s] holds no integer %s",
                                 reply.getTagName().c_str(), mediaAgent, what);
}

// The media manager's error reply: `code` gets its code, and the result is
// the plain-integer error of that code, or EPROTO without an integer code.
CWqError ErrorReply(const FXCodeLocation& where, const char* mediaAgent, CNMessageBase& reply, int64_t& code) {
  if (!reply.findint64(1, 1, MediaManager::Tag_QErrorMsg, kErrorCodeKey, code))
    return Malformed(where, mediaAgent, reply, "error code");
  const std::string& text = reply.getstringByRef(2, 2, MediaManager::Tag_QErrorMsg, kErrorTextKey);
  return FXErrorUtil::ErrorInt(where, static_cast<int32_t>(code), "Got error message %lu %s",
                               static_cast<unsigned long>(code), text.c_str());
}

CWqError ErrorReply(const FXCodeLocation& where, const char* mediaAgent, CNMessageBase& reply) {
  int64_t code = 0;
  return ErrorReply(where, mediaAgent, reply, code);
}

// The operations name their media agent; none cannot be called.
CWqError NoMediaAgent(const FXCodeLocation& where, const char* operation) {
  return FXErrorUtil::ErrorErrNo(where, EINVAL, "%s: no media agent named", operation);
}

std::string LocalName() { return KXPI_Focus::getFocusClientName(true); }

}  // namespace

void ProxyTapeAPI::ResetCaches() {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  m_ulLocalClientId = 0;
  m_ulMAClientId = 0;
  m_sMAMangledName.clear();
  g_initializeIBMTape = nullptr;
  g_getVolumeChunkSize = nullptr;
  g_getDefaultVTLTapeSize = nullptr;
}

bool ProxyTapeAPI::isSameAsMA(const char* mediaAgent) {
  const std::string agent = mediaAgent ? mediaAgent : "";
  uint64_t local = 0, ma = 0;
  bool lookUpAgent = false;
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    local = m_ulLocalClientId;
    ma = m_ulMAClientId;
    lookUpAgent = ma == 0 || m_sMAMangledName != agent;
    // A lookup that fails must not leave an earlier agent's id (perhaps this
    // machine's) under the new name.
    if (lookUpAgent) m_ulMAClientId = 0;
  }
  if (local == 0) {
    const std::string name = LocalName();
    uint64_t id = 0;
    KXClient(name, false, 0).getClientId(id, NULL);
    FX_LOG(3, "Local client is %s (%lu)", name.c_str(), static_cast<unsigned long>(id));
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    m_ulLocalClientId = id;
    local = id;
  }
  if (lookUpAgent) {
    std::string host, client;
    int n1 = 0, n2 = 0;
    DemangleHostName(agent, host, client, n1, n2);
    uint64_t id = 0;
    KXClient(client, false, 0).getClientId(id, NULL);
    FX_LOG(3, "Media Agent is %s (%lu)", client.c_str(), static_cast<unsigned long>(id));
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    m_ulMAClientId = id;
    m_sMAMangledName = agent;
    ma = id;
  }
  return local != 0 && local == ma;
}

CWqError ProxyTapeAPI::initializeIBMTape(uint64_t id, const char* mediaAgent, const char* text,
                                         const std::string& tape) {
  if (!mediaAgent || !*mediaAgent) return NoMediaAgent(FX_HERE, "initializeIBMTape");
  FX_LOG(3, "Got request to initialize Tape %s on MA %s (local client is %s)", tape.c_str(), mediaAgent,
         LocalName().c_str());
  if (isSameAsMA(mediaAgent)) {
    InitializeFn call = nullptr;
    CWqError result = EntryPoint(g_initializeIBMTape, "initializeIBMTape", call);
    if (result.IsError()) return result;
    result = CWqError::Success();
    call(text, tape.c_str(), result);
    return result;
  }
  FX_LOG(5, "Making remote call for initialize tape");
  MediaManager::InitializeIBMTape request;
  request.initialize();
  request.setint64(1, 1, static_cast<int64_t>(id), MediaManager::Tag_InitializeIBMTape, kIdKey);
  request.setstring(2, 2, text ? text : "", MediaManager::Tag_InitializeIBMTape, kTextKey);
  request.setstring(3, 6, tape, MediaManager::Tag_InitializeIBMTape, kTapeKey);
  std::unique_ptr<CNMessageBase> reply;
  RemoteStep step;
  CWqError result = RemoteCall(mediaAgent, request, reply, step);
  if (result.IsError()) return result.Push(FX_HERE);
  if (Is(reply, MediaManager::kQErrorMsgId)) {
    int64_t code = 0;
    CWqError error = ErrorReply(FX_HERE, mediaAgent, *reply, code);
    // Only a reply that says 0 is success, not one that says nothing.
    if (FXErrorUtil::IsInt(error, 0) && code == 0) return CWqError::Success();
    return error;
  }
  return Unexpected(FX_HERE, mediaAgent, reply.get(), MediaManager::Tag_QErrorMsg, "QErrorMsg");
}

CWqError ProxyTapeAPI::getTapeSize(uint64_t id, const char* mediaAgent, const char* text, long long first,
                                   long long second, long long& chunkSize) {
  if (!mediaAgent || !*mediaAgent) return NoMediaAgent(FX_HERE, "getTapeSize");
  FX_LOG(3, "Got request to find chunk size on MA %s (local client is %s)", mediaAgent, LocalName().c_str());
  if (isSameAsMA(mediaAgent)) {
    ChunkSizeFn call = nullptr;
    CWqError result = EntryPoint(g_getVolumeChunkSize, "getVolumeChunkSize", call);
    if (result.IsError()) return result;
    FX_LOG(5, "Making local call for chunk size");
    result = CWqError::Success();
    call(text, first, second, chunkSize, result);
    return result;
  }
  FX_LOG(5, "Making remote call for chunk size");
  MediaManager::GetChunkSizeOnMediaReq request;
  request.initialize();
  request.setint64(1, 1, static_cast<int64_t>(id), MediaManager::Tag_GetChunkSizeOnMediaReq, kIdKey);
  request.setstring(2, 2, text ? text : "", MediaManager::Tag_GetChunkSizeOnMediaReq, kTextKey);
  request.setint64(3, 6, first, MediaManager::Tag_GetChunkSizeOnMediaReq, kFirstValueKey);
  request.setint64(4, 7, second, MediaManager::Tag_GetChunkSizeOnMediaReq, kSecondValueKey);
  std::unique_ptr<CNMessageBase> reply;
  RemoteStep step;
  CWqError result = RemoteCall(mediaAgent, request, reply, step);
  if (result.IsError()) return result.Push(FX_HERE);
  if (Is(reply, MediaManager::kQErrorMsgId)) return ErrorReply(FX_HERE, mediaAgent, *reply);
  if (Is(reply, MediaManager::kGetChunkSizeOnMediaRespId)) {
    int64_t found = 0;
    if (!reply->findint64(6, 6, MediaManager::Tag_GetChunkSizeOnMediaResp, kChunkSizeKey, found))
      return Malformed(FX_HERE, mediaAgent, *reply, "chunk size");
    chunkSize = found;
    return CWqError::Success();
  }
  return Unexpected(FX_HERE, mediaAgent, reply.get(), MediaManager::Tag_GetChunkSizeOnMediaResp,
                    "GetChunkSizeOnMediaResp");
}

CWqError ProxyTapeAPI::GetDefaultTapeSize(const char* mediaAgent, unsigned int& size) {
  size = 0;
  if (!mediaAgent || !*mediaAgent) return NoMediaAgent(FX_HERE, "GetDefaultTapeSize");
  uint64_t maId = 0, localId = 0;
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    maId = m_ulMAClientId;
    localId = m_ulLocalClientId;
  }
  FX_LOG(3, "Got request to find default tape size on MA %s (%lu) (local client is %s (%lu))", mediaAgent,
         static_cast<unsigned long>(maId), LocalName().c_str(), static_cast<unsigned long>(localId));
  if (isSameAsMA(mediaAgent)) {
    DefaultSizeFn call = nullptr;
    CWqError result = EntryPoint(g_getDefaultVTLTapeSize, "getDefaultVTLTapeSize", call);
    if (result.IsError()) return result;
    uint64_t found = 0;
    result = CWqError::Success();
    call(found, result);
    FX_LOG(5, "Default size of tape is [%lu]", static_cast<unsigned long>(found));
    size = static_cast<unsigned int>(found);
    return result;
  }
  FX_LOG(5, "Making remote call for default tape size");
  MediaManager::GetDefaultVTLTapeSizeReq request;
  request.initialize();
  std::unique_ptr<CNMessageBase> reply;
  RemoteStep step;
  CWqError result = RemoteCall(mediaAgent, request, reply, step);
  if (result.IsError()) {
    const std::string text = result.AsString();
    if (step == kAttached)
      return result.Push(FX_HERE, "Failed to launch remote DLL [%s][%s] on MA [%s]. [%s]", kFirstHandler,
                         kSecondHandler, mediaAgent, text.c_str());
    if (step == kSent) return result.Push(FX_HERE, "Failed to launch remote DLL to get default tape size [%s]", text.c_str());
    return result.Push(FX_HERE, "Failed to receive result of remote call. [%s]", text.c_str());
  }
  if (reply) FX_LOG(0, "Response [%lu]", static_cast<unsigned long>(reply->getTagID()));
  if (Is(reply, MediaManager::kQErrorMsgId)) return ErrorReply(FX_HERE, mediaAgent, *reply);
  if (Is(reply, MediaManager::kGetTapeSizeRespId)) {
    int64_t found = 0;
    if (!reply->findint64(1, 1, MediaManager::Tag_GetTapeSizeResp, kTapeSizeKey, found))
      return Malformed(FX_HERE, mediaAgent, *reply, "tape size");
    size = static_cast<unsigned int>(found);
    return CWqError::Success();
  }
  return Unexpected(FX_HERE, mediaAgent, reply.get(), MediaManager::Tag_GetTapeSizeResp, "getDefaultVTLTapeSize");
}

float ProxyTapeAPI::DRBackupSizeMultiplicationFactor() {
  unsigned int factor = 1;
  KXPlatformInfo().getNumber("FileSystemAgent", "DRBackupSizeMultiplicationFactor", &factor);
  return static_cast<float>(static_cast<double>(static_cast<float>(factor)) * 1.2);
}
