#include "CLProxyDedupeQueryMgr.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxySrvConnection.h"
#include "CWqIPAddr.h"
#include "FXErrorUtil.h"
#include "FXThread.h"
#include "KXJobPerfManager.h"
#include "SignatureQuery.h"

#define QLOG(level, ...) m_debug.DebugLvl(__PRETTY_FUNCTION__, level, __VA_ARGS__)

namespace {

const uint32_t kErrorProxyOperation = 774;  // ERROR_PROXY_OPERATION
const uint32_t kErrorOutOfMemory = 14;      // ERROR_OUTOFMEMORY
const uint32_t kRequestFlag = 0x40;
// How long Uninitialize lets a message in hand finish and be answered
// before it cuts the connection anyway (a client that never reads).
const std::chrono::milliseconds kReplyGrace(2000);

std::atomic<int> g_acceptWaitSeconds(CLProxyDedupeQueryMgr::kDefaultAcceptWaitSeconds);
std::atomic<int> g_receiveWaitSeconds(0);

// A buffer that a large batch grew is given back rather than kept for the
// next one: the client decides the batch size, not how much stays mapped.
template <typename T>
void ReleaseIfLarge(std::vector<T>& buffer) {
  if (buffer.capacity() > CLProxyDedupeQueryMgr::kKeptBatchQueries) std::vector<T>().swap(buffer);
}

bool EndsStream(ClProxyMsgType type) {
  return type == STREAM_STOP_MSG || type == JOB_COMPLETE_MSG || type == DISCONNECT_MSG;
}

}  // namespace

void CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(int seconds) {
  g_acceptWaitSeconds = seconds < 1 ? kDefaultAcceptWaitSeconds : seconds;
}
int CLProxyDedupeQueryMgr::AcceptWaitSeconds() { return g_acceptWaitSeconds.load(); }
void CLProxyDedupeQueryMgr::SetReceiveWaitSeconds(int seconds) { g_receiveWaitSeconds = seconds; }
int CLProxyDedupeQueryMgr::ReceiveWaitSeconds() { return g_receiveWaitSeconds.load(); }

CLProxyDedupeQueryMgr::CLProxyDedupeQueryMgr()
    : m_debug(nullptr),
      m_pSignatureQuery(nullptr),
      m_llJobId(0),
      m_bStop(false),
      m_uPending(0),
      m_uArchiveFileId(0),
      m_uSignatureScheme(0),
      m_uSignaturesPerBatch(0),
      m_uStoredAnswerLimit(0),
      m_bAnswerLimitPassed(false),
      m_iListenDescriptor(-1),
      m_iAcceptedDescriptor(-1),
      m_bHandling(false) {}

CLProxyDedupeQueryMgr::~CLProxyDedupeQueryMgr() { Uninitialize(); }

CWqError CLProxyDedupeQueryMgr::Initialize(long jobId, unsigned int archiveFileId, unsigned int signatureScheme,
                                           _stSQueryInitParameters& params, unsigned int& port) {
  if (m_pServer) {
    // One server per manager: a running one keeps its port.
    CWqIPAddr local;
    if (!m_pServer->getProxySocket().GetLocalAddress(local).IsError()) port = local.GetPortNumber();
    return CWqError::Success();
  }
  m_params = params;
  m_sClientName = params.pClientName ? params.pClientName : "";
  m_params.pClientName = m_sClientName.c_str();
  m_llJobId = jobId;
  m_uArchiveFileId = archiveFileId;
  m_uSignatureScheme = signatureScheme;
  m_bStop = false;
  m_debug.setJobId(static_cast<uint64_t>(jobId));

  m_pServer.reset(new (std::nothrow) ClProxySrvConnection());
  if (!m_pServer) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorOutOfMemory, "No memory for the query listener");
  CWqError result = m_pServer->initServer(0);
  if (result.IsError()) {
    Uninitialize();
    QLOG(-1, "BKPAPI:init server failed:%s", result.AsString().c_str());
    result.Push(FX_HERE);
    return result;
  }
  CWqIPAddr local;
  result = m_pServer->getProxySocket().GetLocalAddress(local);
  if (result.IsError()) {
    Uninitialize();
    result.Push(FX_HERE, "Cannot read the query listener's port");
    return result;
  }
  port = local.GetPortNumber();
  {
    std::lock_guard<std::mutex> lock(m_socketMutex);
    m_iListenDescriptor = m_pServer->getProxySocket().GetSocketDescriptor();
  }

  m_pListener.reset(new (std::nothrow) KxThread());
  if (!m_pListener) {
    Uninitialize();
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorOutOfMemory, "No memory for the listener thread");
  }
  if (!m_pListener->createThread(&CLProxyDedupeQueryMgr::listernStatic, this)) {
    const std::string why = m_pListener->getLastError();
    m_pListener.reset();
    Uninitialize();
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Cannot start the listener thread: %s",
                                   why.c_str());
  }

  if (!InitializePrePipelineDedupQuery()) {
    QLOG(-1, "[ERROR] PrePipelineDedupQuery module initialization Failed");
    Uninitialize();
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "PrePipelineDedupQuery module initialization Failed");
  }
  QLOG(-1, "DedupeQueryMgr started successfully on %d port ", static_cast<int>(port));
  return CWqError::Success();
}

bool CLProxyDedupeQueryMgr::InitializePrePipelineDedupQuery() {
  // Under the lock: the listener may make the module for an early query
  // while Initialize makes it too; only one of them does.
  auto_lock hold(&m_lock);
  if (m_pSignatureQuery.load()) return true;
  ISignatureQuery* module = GetSignatureQuery();
  if (!module) return false;
  if (module->init(m_params) != 0) {
    QLOG(-1, "[Error] BKPAPI: PrePipelineDedupe_Query module initialization failed");
    // Released at once: no later query may use a module that is not ready.
    FreeSignatureQuery(module);
    return false;
  }
  m_pSignatureQuery = module;
  QLOG(-1,
       "PrepipelineDedupeQuerParams: [appid - %u] [use-CacheDB - %s] [use-SIDB - %s] [copyid - %u] [job-id - %llu] "
       "[CacheDB size - %u MB] [ClientComputerName - %s]",
       m_params.uAppId, m_params.bUseCacheDB ? "Yes" : "No", m_params.bUseSIDB ? "Yes" : "No", m_params.uCopyId,
       static_cast<unsigned long long>(m_params.ullJobId), m_params.uCacheDBSizeMB,
       m_params.pClientName ? m_params.pClientName : "");
  return true;
}

void* CLProxyDedupeQueryMgr::listernStatic(void* self) {
  return static_cast<CLProxyDedupeQueryMgr*>(self)->listenerLoop();
}

bool CLProxyDedupeQueryMgr::PublishAccepted(int descriptor) {
  // A descriptor of our own for the accepted socket: the connection closes
  // its descriptor when a bad frame breaks the link, and the number may then
  // be anyone's; ours names this socket until we close it.
  const int own = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return false;
  std::lock_guard<std::mutex> lock(m_socketMutex);
  m_iAcceptedDescriptor = own;
  // Uninitialize came by before the descriptor was known: end its waits here.
  if (m_bStop.load()) ::shutdown(own, SHUT_RDWR);
  return true;
}

void CLProxyDedupeQueryMgr::ForgetAccepted() {
  std::lock_guard<std::mutex> lock(m_socketMutex);
  if (m_iAcceptedDescriptor >= 0) ::close(m_iAcceptedDescriptor);
  m_iAcceptedDescriptor = -1;
}

void CLProxyDedupeQueryMgr::SetHandling(bool handling) {
  std::lock_guard<std::mutex> lock(m_socketMutex);
  m_bHandling = handling;
  if (!handling) m_handlingDone.notify_all();
}

void* CLProxyDedupeQueryMgr::listenerLoop() {
  // Accept phase.
  int attempts = 0;
  while (!m_bStop.load()) {
    ++attempts;
    CWqError result = m_pServer->acceptClient(AcceptWaitSeconds());
    if (!result.IsError()) {
      CWqSocket& connection = m_pServer->getConnectionSocket();
      if (PublishAccepted(connection.GetSocketDescriptor())) break;
      // Without a descriptor of its own the stop could not end a receive.
      result = FXErrorUtil::ErrorErrNo(FX_HERE, errno, "Cannot keep the accepted connection: %s",
                                       std::strerror(errno));
      (void)connection.Shutdown(SHUT_RDWR);
      connection.Clear();
    }
    if (FXErrorUtil::IsErrNo(result, EINTR)) {
      --attempts;
      continue;
    }
    const bool noPeerYet = FXErrorUtil::IsErrNo(result, ETIME) || FXErrorUtil::IsErrNo(result, ETIMEDOUT);
    if (noPeerYet && attempts < kAcceptAttempts && !m_bStop.load()) {
      QLOG(2, "No connection from the client program yet [attempt %d of %d]", attempts, kAcceptAttempts);
      continue;
    }
    QLOG(-1, "BKPAPI:failure while waiting for client connection:%s", result.AsString().c_str());
    break;
  }

  // Receive phase.
  int budget = kTimeoutBudget;
  ClProxyMsg* message = nullptr;
  ClProxyMsg* reply = nullptr;
  for (;;) {
    if (m_bStop.load()) break;
    delete message;
    delete reply;
    message = nullptr;
    reply = nullptr;
    CWqError result = m_pServer->recvMessage(message, ReceiveWaitSeconds());
    if (!result.IsError()) {
      SetHandling(true);
      const ClProxyMsgType type = message->getMsgType();
      CWqError handled = processMessage(message, reply);
      if (handled.IsError() && type != JOB_COMPLETE_MSG && type != DISCONNECT_MSG) {
        QLOG(-1, "BKPAPI:error while processing message type %X:%s", static_cast<unsigned>(type),
             handled.AsString().c_str());
        delete reply;
        reply = new ClEmptyMsg(DISCONNECT_MSG);
      }
      if (reply) (void)m_pServer->sendMessage(reply);
      SetHandling(false);
      if (m_bAnswerLimitPassed.exchange(false)) {
        // Refusing batch after batch would leave the client free to try
        // forever: the link ends here. What is kept stays for its blocks.
        QLOG(-1, "BKPAPI:stream will be stopped: the client program passed the limit of kept answers");
        (void)m_pServer->getConnectionSocket().Shutdown(SHUT_RDWR);
        break;
      }
      if (EndsStream(type)) {
        QLOG(2, "BKPAPI:stream will be stopped due to message %X", static_cast<unsigned>(type));
        break;
      }
      continue;
    }
    if (FXErrorUtil::IsErrNo(result, ETIME)) {
      --budget;
      if (m_receiveTimeoutSeam)
        m_receiveTimeoutSeam(kTimeoutBudget - budget, m_pServer->getConnectionSocket().GetSocketDescriptor());
      if (budget <= 0) {
        QLOG(-1, "BKPAPI:timeout while waiting for client message:%s", result.AsString().c_str());
        break;
      }
    } else {
      budget = kTimeoutBudget;
      QLOG(-1, "BKPAPI:error detected while receiving message from client:%s", result.AsString().c_str());
    }
    // A peer that closed or reset the link has left it for good: receiving
    // again would only repeat the failure, at full speed.
    const bool linkGone = FXErrorUtil::IsErrNo(result, ENOTCONN) || FXErrorUtil::IsErrNo(result, ECONNRESET) ||
                          FXErrorUtil::IsErrNo(result, EBADF);
    if (!linkGone && m_pServer->getConnectionSocket().IsValid() && !m_pServer->isKillMsgReceived()) continue;
    QLOG(-1, "BKPAPI:failure while waiting for client message:%s", result.AsString().c_str());
    break;
  }
  QLOG(-1, "[Exiting listener thread] Terminate request");
  delete message;
  delete reply;
  // No receive is left for the stop to end.
  ForgetAccepted();
  return nullptr;
}

CWqError CLProxyDedupeQueryMgr::processMessage(ClProxyMsg* msg, ClProxyMsg*& reply) {
  auto_lock hold(&m_lock);
  if (!msg) return CWqError::Success();
  CWqError result = CWqError::Success();
  switch (msg->getMsgType()) {
    case PREPIPELINE_DEDUPE_QUERY_MSG:
      result = onPrepipelineDedupeQuery(msg, reply);
      break;
    case PREPIPELINE_DEDUPE_RESULT_REQ_MSG:
      result = onPrepipelineDedupeQueryResultReq(msg, reply);
      break;
    default:
      return CWqError::Success();
  }
  ReleaseIfLarge(m_requests);
  ReleaseIfLarge(m_received);
  return result;
}

CWqError CLProxyDedupeQueryMgr::onPrepipelineDedupeQuery(ClProxyMsg* msg, ClProxyMsg*& reply) {
  auto_lock hold(&m_lock);
  // After the stop no module is made: the one there was is about to go.
  if (!m_pSignatureQuery.load() && (m_bStop.load() || !InitializePrePipelineDedupQuery())) {
    QLOG(-1, "[ERROR] Initializing Signature-query module failed");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Initializing Signature-query module failed");
  }
  const COBPrePipelineDedupeQueryMsg* query = dynamic_cast<const COBPrePipelineDedupeQueryMsg*>(msg);
  if (!query) {
    const unsigned type = msg ? static_cast<unsigned>(msg->getMsgType()) : 0;
    QLOG(-1, "[ERROR] Unexpected message[%u]", type);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Unexpected message[%u]", type);
  }
  uint32_t count = 0;
  const _PrePipelineDedupe_Query* first = query->getQuery(count);
  if (!first || count == 0) {
    QLOG(-1, "[ERROR] PrePipelineDedupe_Query list not found in query-msg[%u]", count);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "PrePipelineDedupe_Query not found in query-msg[%u]",
                                   count);
  }
  const uint32_t perBatch = m_uSignaturesPerBatch.load();
  const uint32_t limit = perBatch ? perBatch : kDefaultSignaturesPerBatch;
  if (count > limit) {
    QLOG(-1, "[ERROR] Query batch of %u signatures, above the %u per batch", count, limit);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Query batch of %u signatures, above the %u per batch",
                                   count, limit);
  }
  // Every answer still owed may be a new block's and so counts as kept: a
  // client that queries new blocks and never sends them cannot make the job
  // keep more than the limit.
  const size_t setLimit = m_uStoredAnswerLimit.load();
  const size_t keepLimit = setLimit ? setLimit : kDefaultStoredAnswerLimit;
  const size_t kept = m_answers.Size();
  if (kept + m_uPending + count > keepLimit) {
    m_bAnswerLimitPassed = true;
    QLOG(-1, "[ERROR] Query batch of %u signatures refused: the answers of new blocks would pass the limit of %zu "
         "answers [kept - %zu] [awaited - %u]", count, keepLimit, kept, m_uPending);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation,
                                   "Query batch of %u signatures refused: the answers of new blocks would pass the "
                                   "limit of %zu answers [kept - %zu] [awaited - %u]",
                                   count, keepLimit, kept, m_uPending);
  }
  std::vector<SIDBQueryAndInsertSignaturesRequestParam>& requests = m_requests;
  requests.assign(count, SIDBQueryAndInsertSignaturesRequestParam());
  const uint32_t now = static_cast<uint32_t>(FXTime());
  const uint32_t archiveFileId = m_uArchiveFileId.load();
  for (uint32_t i = 0; i < count; ++i) {
    const _PrePipelineDedupe_Query& q = first[i];
    SIDBQueryAndInsertSignaturesRequestParam& request = requests[i];
    request.uUniqueId = q.uUniqueId;
    std::memcpy(request.primary.signature, q.signature, sizeof request.primary.signature);
    request.primary.uFromQuery68 = q.uValue68;
    request.primary.ullFromQuery72 = q.ullValue72;
    request.primary.uFromQuery80 = static_cast<uint32_t>(q.ullValue80);
    request.primary.uArchiveFileId = archiveFileId;
    request.primary.uFlags = m_uSignatureScheme | kRequestFlag;
    request.primary.uTime = now;
    request.bUseCacheDB = m_params.bUseCacheDB;
  }
  m_uPending += count;
  const int rc = m_pSignatureQuery.load()->QuerySignaturesAsync(requests);
  if (rc != 0) {
    QLOG(-1, "[ERROR] QuerySignaturesAsync Failed [%u]", static_cast<unsigned>(rc));
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "QuerySignaturesAsync Failed [%u]",
                                   static_cast<unsigned>(rc));
  }
  CWqError result = CheckForSignatureQueryResult(false, reply);
  if (result.IsError()) result.Push(FX_HERE, "CheckForSignatureQueryResult Failed [%s]", result.AsString().c_str());
  return result;
}

CWqError CLProxyDedupeQueryMgr::onPrepipelineDedupeQueryResultReq(ClProxyMsg* msg, ClProxyMsg*& reply) {
  auto_lock hold(&m_lock);
  if (!m_pSignatureQuery.load()) {
    QLOG(-1, "[ERROR] UnInitialized Signature-query module");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "UnInitialized Signature-query module");
  }
  CWqError result = CheckForSignatureQueryResult(true, reply);
  if (result.IsError()) result.Push(FX_HERE, "CheckForSignatureQueryResult Failed [%s]", result.AsString().c_str());
  return result;
}

CWqError CLProxyDedupeQueryMgr::CheckForSignatureQueryResult(bool waitForAll, ClProxyMsg*& reply) {
  auto_lock hold(&m_lock);
  ISignatureQuery* module = m_pSignatureQuery.load();
  if (!module) {
    QLOG(-1, " UnInitialized Signature-query module");
    return CWqError::Success();
  }
  if (m_uPending == 0) return CWqError::Success();
  std::vector<_SignatureRespParam>& answers = m_received;
  answers.clear();
  const int rc = module->GetQuerySignaturesResponse(answers, waitForAll);
  if (rc != 0) {
    QLOG(-1, "[ERROR] GetQuerySignaturesResponse Failed [%u] [recieve pending - %s]", static_cast<unsigned>(rc),
         waitForAll ? "yes" : "no");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "GetQuerySignaturesResponse Failed [%u]",
                                   static_cast<unsigned>(rc));
  }
  const uint32_t expected = m_uPending;
  // Whatever came is counted, so that the count never drifts from what the
  // module still owes. Only a new block's answer is kept: the client program
  // sends a signature record for new blocks alone, and a found block's
  // answer would stay for the rest of the job.
  for (const _SignatureRespParam& answer : answers)
    if (answer.response.uFound == 0) m_answers.Add(answer);
  m_uPending -= answers.size() < m_uPending ? static_cast<uint32_t>(answers.size()) : m_uPending;
  if (waitForAll && answers.size() != expected) {
    QLOG(-1, "[ERROR] [Expected  %u] [recieved - %zu] signatures", expected, answers.size());
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "[Expected  %u] [recieved - %zu] signatures",
                                   expected, answers.size());
  }
  if (answers.empty()) return CWqError::Success();
  std::vector<_PrePipelineDedupe_Result_Resp> results;
  results.reserve(answers.size());
  for (const _SignatureRespParam& answer : answers) results.push_back(ResultForResponse(answer.response));
  reply = new COBPrePipelineDedupeResultRespMsg(std::move(results));
  return CWqError::Success();
}

bool CLProxyDedupeQueryMgr::GetQueryRespParam(unsigned int uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer) {
  auto_lock hold(&m_lock);
  if (m_answers.Take(uniqueId, answer)) return true;
  QLOG(-1, "[ERROR] Signature not found in the resp-list [UniqueID - %u]", uniqueId);
  return false;
}

CWqError CLProxyDedupeQueryMgr::GetCLDedupTagData(SIDBQueryAndInsertSignaturesResponseParam* answer,
                                                  SIDBQueryAndInsertSignaturesResponseParam* tag) {
  ISignatureQuery* module = m_pSignatureQuery.load();
  if (!module) {
    QLOG(-1, "[ERROR]Uninitialized m_pSignatureQuery module");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Uninitialized m_pSignatureQuery module");
  }
  (void)module->GetTagData(answer, tag);
  return CWqError::Success();
}

void CLProxyDedupeQueryMgr::SetAFileID(unsigned int archiveFileId) { m_uArchiveFileId = archiveFileId; }

void CLProxyDedupeQueryMgr::UpdatePerfCounters(_JobPerfCounterCollection* collection, unsigned int group) {
  ISignatureQuery* module = m_pSignatureQuery.load();
  if (module) (void)module->UpdatePerfCounters(collection, group);
}

void CLProxyDedupeQueryMgr::FreeModule(bool shutDown) {
  ISignatureQuery* module = m_pSignatureQuery.exchange(nullptr);
  if (!module) return;
  QLOG(-1, "Uninitializing SignatureQuery module");
  if (!shutDown) module->shutdown();
  FreeSignatureQuery(module);
}

void CLProxyDedupeQueryMgr::Uninitialize() {
  m_bStop = true;
  bool handlingOutlivedGrace = false;
  {
    // Every wait of the listener ends: the accept at once; a receive at once
    // too, but a message in hand is first finished and answered.
    std::unique_lock<std::mutex> lock(m_socketMutex);
    if (m_iListenDescriptor >= 0) ::shutdown(m_iListenDescriptor, SHUT_RDWR);
    if (m_iAcceptedDescriptor >= 0) {
      ::shutdown(m_iAcceptedDescriptor, SHUT_RD);
      handlingOutlivedGrace = !m_handlingDone.wait_for(lock, kReplyGrace, [this] { return !m_bHandling; });
      // The listener may have ended and given its descriptor back meanwhile.
      if (m_iAcceptedDescriptor >= 0) ::shutdown(m_iAcceptedDescriptor, SHUT_RDWR);
    }
  }
  bool moduleShutDown = false;
  if (handlingOutlivedGrace) {
    // The message in hand is most likely inside the module's wait for all
    // answers, which may never end: shutting the module down ends it, so the
    // join below ends too. The module is freed only after the join.
    ISignatureQuery* module = m_pSignatureQuery.load();
    if (module) {
      moduleShutDown = true;
      QLOG(-1, "The message in hand did not finish within %lld ms; shutting the SignatureQuery module down",
           static_cast<long long>(kReplyGrace.count()));
      module->shutdown();
    }
  }
  if (m_pListener) {
    m_pListener->joinThread(-1, nullptr);
    QLOG(2, "Listerner thread terminated");
    m_pListener.reset();
  }
  // Only now, with no listener left to use it.
  FreeModule(moduleShutDown);
  if (m_pServer) {
    CWqSocket& connection = m_pServer->getConnectionSocket();
    if (connection.IsValid()) {
      (void)connection.Shutdown(SHUT_RDWR);
      connection.Clear();
    }
    m_pServer.reset();
    QLOG(2, "CLProxyDedupeQueryMgr server stopped");
  }
  ForgetAccepted();
  std::lock_guard<std::mutex> lock(m_socketMutex);
  m_iListenDescriptor = -1;
}

uint32_t CLProxyDedupeQueryMgr::PendingCount() {
  auto_lock hold(&m_lock);
  return m_uPending;
}

size_t CLProxyDedupeQueryMgr::StoredAnswerCount() {
  auto_lock hold(&m_lock);
  return m_answers.Size();
}

size_t CLProxyDedupeQueryMgr::RetainedBatchBytes() {
  auto_lock hold(&m_lock);
  return m_requests.capacity() * sizeof(SIDBQueryAndInsertSignaturesRequestParam) +
         m_received.capacity() * sizeof(_SignatureRespParam);
}

bool CLProxyDedupeQueryMgr::ListenerRunning() const { return m_pListener && m_pListener->threadInProgress(); }
