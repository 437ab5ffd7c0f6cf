// CLProxyDedupeQueryMgr: the signature-query server of one backup.
//
// Initialize opens a listening connection (a port of "dynamicPortRange" or
// any free one), reports its port, starts the listener thread and makes the
// signature-query module. The listener accepts the client program's one
// connection (each wait of AcceptWaitSeconds() that ends without one is
// tried again, up to kAcceptAttempts in all) and serves its messages: query
// batches go to the module, their answers are returned as results, and the
// answers of new blocks (found flag 0; a found block gets no signature
// record) are kept until GetQueryRespParam takes them out; a result request
// waits for every outstanding answer. A batch above the configured
// signatures per batch (kDefaultSignaturesPerBatch when none is configured)
// is refused. So is a batch after which the answers kept and still owed
// could pass kDefaultStoredAnswerLimit (every owed answer may be a new
// block's); that refusal also ends the link, so that a client that queries
// new blocks and never sends them holds a bounded part of the proxy's
// memory. A message whose handling fails is answered with DISCONNECT_MSG;
// STREAM_STOP_MSG, JOB_COMPLETE_MSG and DISCONNECT_MSG end the listener, as
// do ten receive time-outs or a broken link.
//
// Threads: the host thread calls Initialize, GetQueryRespParam,
// GetCLDedupTagData, SetAFileID, UpdatePerfCounters and Uninitialize; the
// listener handles messages holding the member lock for each whole message
// (a module's wait for all answers included). GetQueryRespParam takes that
// lock for its lookup.
//
// Uninitialize (also run by the destructor, harmless when repeated): sets
// the stop flag, shuts the listening socket and the accepted connection down
// so that every wait returns (a message in hand is finished and answered
// first, within a grace of 2 s; after it the module is shut down, which ends
// its wait for all answers), joins the listener, and only then frees the
// module. The connection is shut down through the manager's own copy of its
// descriptor, never through a number that may since name another file. No
// module is made after the stop. A module whose init fails is freed at once.
//
// Errors: ERROR_PROXY_OPERATION (774) with the texts of each operation,
// ERROR_OUTOFMEMORY (14) when the connection or thread object cannot be made,
// or the listening connection's own error.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <functional>
#include <string>
#include <vector>

#include "CWqError.h"
#include "ClProxyMsg.h"
#include "ClSignatureRecords.h"
#include "DedupeAnswerStore.h"
#include "EvDebug.h"
#include "FXMutex.h"
#include "KXThread.h"

class ClProxySrvConnection;
class ISignatureQuery;
struct _JobPerfCounterCollection;

class CLProxyDedupeQueryMgr {
 public:
  static const int kAcceptAttempts = 100;
  static const int kDefaultAcceptWaitSeconds = 30;
  static const int kTimeoutBudget = 10;
  // The largest batch taken when the configuration sets no size.
  static const uint32_t kDefaultSignaturesPerBatch = 4096;
  // Batches up to this many queries leave their buffers for the next one.
  static const uint32_t kKeptBatchQueries = 1024;
  // The most answers of new blocks one job may keep waiting for their
  // signature records (248 bytes each, some 300 MiB with the store's
  // index). Not tied to the batch size: a client may query well ahead of
  // the blocks it sends, so the limit is generous.
  static const size_t kDefaultStoredAnswerLimit = size_t(1) << 20;

  // Test seams: the accept wait (seconds, default 30) and the receive wait
  // (seconds as ClProxyConnection takes them; default 0, no limit).
  static void SetAcceptWaitSeconds(int seconds);
  static int AcceptWaitSeconds();
  static void SetReceiveWaitSeconds(int seconds);
  static int ReceiveWaitSeconds();

  CLProxyDedupeQueryMgr();
  ~CLProxyDedupeQueryMgr();
  CLProxyDedupeQueryMgr(const CLProxyDedupeQueryMgr&) = delete;
  CLProxyDedupeQueryMgr& operator=(const CLProxyDedupeQueryMgr&) = delete;

  CWqError Initialize(long jobId, unsigned int archiveFileId, unsigned int signatureScheme,
                      _stSQueryInitParameters& params, unsigned int& port);
  bool InitializePrePipelineDedupQuery();

  static void* listernStatic(void* self);
  void* listenerLoop();

  // The listener's handling of one message; `reply` receives a new message
  // to send back (the caller's to delete) or stays null.
  CWqError processMessage(ClProxyMsg* msg, ClProxyMsg*& reply);
  CWqError onPrepipelineDedupeQuery(ClProxyMsg* msg, ClProxyMsg*& reply);
  CWqError onPrepipelineDedupeQueryResultReq(ClProxyMsg* msg, ClProxyMsg*& reply);
  CWqError CheckForSignatureQueryResult(bool waitForAll, ClProxyMsg*& reply);

  bool GetQueryRespParam(unsigned int uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer);
  CWqError GetCLDedupTagData(SIDBQueryAndInsertSignaturesResponseParam* answer,
                             SIDBQueryAndInsertSignaturesResponseParam* tag);
  void SetAFileID(unsigned int archiveFileId);
  // The configured signatures per batch (0: not configured); a query
  // message with more is refused. Set before Initialize.
  void SetSignaturesPerBatch(uint32_t perBatch) { m_uSignaturesPerBatch = perBatch; }
  // Test seam: a lower limit of kept answers (0: kDefaultStoredAnswerLimit).
  // Set before Initialize.
  void SetStoredAnswerLimit(size_t limit) { m_uStoredAnswerLimit = limit; }
  // Test seam: called on the listener thread after each receive time-out
  // with the time-outs counted against the budget so far (the call that
  // reaches kTimeoutBudget comes just before the listener ends) and the
  // accepted connection's descriptor, on which nothing else reads
  // meanwhile. Set before Initialize; an empty one (the default) is none.
  using ReceiveTimeoutSeam = std::function<void(int timeouts, int descriptor)>;
  void SetReceiveTimeoutSeam(ReceiveTimeoutSeam seam) { m_receiveTimeoutSeam = std::move(seam); }
  void UpdatePerfCounters(_JobPerfCounterCollection* collection, unsigned int group);
  void Uninitialize();

  // For tests and the host's reports.
  uint32_t PendingCount();
  size_t StoredAnswerCount();
  bool ListenerRunning() const;
  bool HasModule() const { return m_pSignatureQuery.load() != nullptr; }
  // Bytes that the reused batch buffers hold between messages.
  size_t RetainedBatchBytes();

 private:
  // The manager's own copy of the accepted connection's descriptor, through
  // which Uninitialize ends the listener's receive; false when no copy can
  // be made. ForgetAccepted closes the copy.
  bool PublishAccepted(int descriptor);
  void ForgetAccepted();
  void SetHandling(bool handling);
  // Shuts the module down (unless `shutDown` says it already is) and frees it.
  void FreeModule(bool shutDown);

  EvDebug m_debug;
  std::unique_ptr<KxThread> m_pListener;
  std::unique_ptr<ClProxySrvConnection> m_pServer;
  _stSQueryInitParameters m_params;
  std::string m_sClientName;  // the parameters' client name points here
  std::atomic<ISignatureQuery*> m_pSignatureQuery;
  int64_t m_llJobId;
  std::atomic<bool> m_bStop;
  uint32_t m_uPending;
  std::atomic<uint32_t> m_uArchiveFileId;
  uint32_t m_uSignatureScheme;
  std::atomic<uint32_t> m_uSignaturesPerBatch;
  std::atomic<size_t> m_uStoredAnswerLimit;
  // Set when a batch is refused for the limit of kept answers; the listener
  // then ends the link.
  std::atomic<bool> m_bAnswerLimitPassed;
  DedupeAnswerStore m_answers;
  FXMutex m_lock;
  // Reused from batch to batch (under the lock), so that a large batch does
  // not map and unmap fresh memory each time.
  std::vector<SIDBQueryAndInsertSignaturesRequestParam> m_requests;
  std::vector<_SignatureRespParam> m_received;
  ReceiveTimeoutSeam m_receiveTimeoutSeam;

  // What Uninitialize needs to end every wait of the listener.
  std::mutex m_socketMutex;
  std::condition_variable m_handlingDone;
  int m_iListenDescriptor;
  int m_iAcceptedDescriptor;  // the manager's own copy, or -1
  bool m_bHandling;
};
