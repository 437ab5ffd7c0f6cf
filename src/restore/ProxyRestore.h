// ProxyRestore: the restore phase of a job. Its client program "RST.EXE"
// restores what the proxy streams to it and reports each item back.
//
// A host creates it, sets the public option fields, then calls in order:
// init, addSourceDestination (per pair), launchClientProcess,
// acceptClientProcessConnection, sendJobStart (the restore options are
// fixed then), the content of the restore (pre-headers, unmodified
// pre-headers and archive entries; tape items, tape closes and a
// VTLDataHandler for next-volume requests), getFileRestoreStatusInfo
// whenever it wants the next per-item result, and sendJobComplete last.
// Every send made before init or before the program connected fails with
// Win32 2250 (ERROR_NOT_CONNECTED) and sends nothing.
//
// Threads: the host's thread calls every public operation. A receiver
// thread, started by the first file header, tape-restore message or tape
// close sent, reads the client's reports until the client ends the restore
// (GOOD_EOF_MSG), a receive fails or the host stops it; it is never started
// twice. It keeps item results in a status list (guarded by statusLock),
// notes a full disk or its own failure (both turn every later
// getMyFileStatus into that failure), raises client events and serves
// next-volume requests through the host's handler, answering on the same
// link; every send goes through the link's locked send, so frames of the
// two threads never interleave. sendJobComplete stops the thread, sends
// JOB_COMPLETE_MSG and reads the remaining reports itself, probing with
// SERVICE_CHECK_MSG after each TIMEOUT_RESTORE_COMPLETE of real time
// (whatever clock a test installs) without an overall limit, until the
// client ends or stopReceiverThread is called from another thread
// (ECANCELED); it returns ENOSPC when the client ever reported a full disk,
// the receiver's error when it failed, and otherwise the outcome of the
// exchange. The destructor stops the thread before anything else goes.
//
// A header whose name equals an earlier file's that ended well waits until
// the client's answer on that file (an item status or a failed file) has
// arrived, so that a late report on it is never taken for the new file's.
//
// Subclasses: the thread enters through the virtual handleIncomingMessage,
// and a subclass's part is gone (its members destroyed, the object's
// dynamic type changed back) before ~ProxyRestore runs. A subclass whose
// object may be destroyed while the thread runs must call
// stopReceiverThread() first thing in its own destructor. A plain
// ProxyRestore needs nothing: sendJobComplete or its destructor stops it.
//
// Ownership: the object owns its lists, the tape cache and the thread; the
// VTLDataHandler stays the host's (unRegisterVTLDataHandler returns only
// after a request in progress was answered, so the host may then drop it).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "CProxyFileSystemSendEvents.h"
#include "CXFileHeader.h"
#include "ClProxyConnection.h"
#include "ClProxyFileHeader.h"
#include "ClTapeMsgs.h"
#include "ClTapeRestoreDataMsg.h"
#include "EvTask.h"
#include "FXEvent.h"
#include "FXMutex.h"
#include "KXThread.h"
#include "Proxy.h"
#include "RestoreStatusList.h"
#include "VTLDataHandler.h"

class ProxyRestore : public Proxy {
 public:
  ProxyRestore();
  ~ProxyRestore() override;

  using Proxy::init;
  // Proxy::init with level 0, job-start value 0 and "RST.EXE".
  CWqError init(int32_t velliconId, int32_t appId, int32_t clientId, uint64_t jobId, const std::string& host,
                uint16_t port);
  // Appends the pair; always success.
  CWqError addSourceDestination(const std::string& source, const std::string& destination);
  // The restore options (the base's first). ENOENT, with nothing sent, when
  // the task's XML options cannot be read or parsed or hold no restore
  // options. A null message adds nothing.
  CWqError setJobOptions(ClJobStartMsg* msg) override;
  // The receiver loop, run on the receiver thread.
  virtual CWqError handleIncomingMessage();

  // --- Receiver thread and item status.
  // Starts the thread unless one was started before. Win32 14 (no thread
  // object), the pipe's errno, or Win32 1627 with the thread's text (nothing
  // kept: a later call tries again).
  CWqError startReceiverThread();
  static void* staticReceiverThread(void* restore);
  // Stops the thread (when there is one, running or not) and releases it
  // with its pipe; always success. May be called from another thread while
  // sendJobComplete waits: that wait then ends with ECANCELED.
  CWqError stopReceiverThread();
  // Parses one ITEM_STATUS_MSG into the status list. EPROTO when it ends in
  // a partial entry (the entries before it are kept).
  CWqError processItemsStatusMessages(ClProxyMsg* msg);
  // The verdict on the file in progress (see the .cpp); success means go on.
  CWqError getMyFileStatus();
  // The oldest deliverable result; ENOENT when there is none. For an item
  // status `status` is 0 for status 5, 0x1700003E for 3, 0x17000040 for 4,
  // else the raw status; a failed file gives its code (EIO for a code of 0),
  // never one of those.
  CWqError getFileRestoreStatusInfo(std::string& name, uint32_t& status, std::string& message, uint64_t& value);
  CWqError sendJobComplete();

  // --- Pre-headers, unmodified pre-headers, archive entries.
  // Each refuses an empty name with EINVAL and registers nothing.
  CWqError registerPreHeader(bool isFirst, std::string& name);
  CWqError registerUnmodifiedPreHeader(const std::string& name);
  CWqError registerArchiveContentEntry(const std::string& entry);
  // Sends the pending group under its head. Nothing pending: success, the
  // head name stays. Items without a head: errno 9 and the items dropped.
  CWqError pushPreHeadersToClient();
  // The archive entries of an archive header, then their END.
  CWqError sendArchvieEntries();

  // --- File stream, per file: setCxHeader, setOptHeader (optional),
  // sendHeader, sendData any number of times, sendGoodEOF or sendBadEOF.
  // The status check after each send fails the operation with the
  // client's verdict on the file: status + 230 as errno, ENOSPC after a
  // full disk, or the receiver's error; status 600 makes later sendData
  // discard (counted in discardedBytes) until the next sendHeader.
  //
  // Takes the next file's header; drives the pre-header group. EINVAL,
  // nothing changed, when the name has no NUL within its capacity.
  CWqError setCxHeader(CXFileHeader& header);
  // Keeps a copy; it is appended to every later header until replaced, so a
  // host may give it once for a run of files. Always success.
  CWqError setOptHeader(char* data, uint32_t size);
  // FILE_HEADER_MSG (header then optional header), then the unmodified
  // pre-header list for a scanless backup's file. EMSGSIZE, nothing sent,
  // when the two exceed the link's frame maximum.
  CWqError sendHeader();
  // One block, sent from the caller's buffer (never copied, never freed).
  CWqError sendData(char* data, uint32_t size);
  CWqError sendGoodEOF();
  CWqError sendBadEOF();
  // Ends a file left open with a bad end of file (best effort) and sends the
  // pending pre-header group.
  CWqError onCloseArchive();
  uint64_t getDiscardedBytes() const { return discardedBytes; }

  // --- Source filters.
  // Appends the task's filter paths (a second call appends them again).
  CWqError prepareWithRestoreTask(boost::shared_ptr<EvRstTask> task);
  // The filters whose prefix (the part before the wildcard components)
  // begins with `path`, character by character; `result` may be null.
  CWqError getFiltersFor(const std::string& path, std::list<std::string>* result);
  // SOURCE_FILTERS_MSG chunks joined by ";", then GOOD_EOF_MSG. EINVAL,
  // nothing sent, for a filter that is empty, above 65535 bytes or holding
  // ";".
  CWqError sendSourceFilters();

  // --- Restore from tape.
  CWqError tapeRestore(const std::vector<std::string>& names1, const std::vector<std::string>& names2,
                       const std::vector<long>& offsets, unsigned long long value, IBMiSAVCommandType commandType,
                       const std::string& text, const std::list<std::string>& items);
  CWqError sendTapeRestoreCacheData();
  CWqError tapeClose();
  void registerVTLDataHandler(VTLDataHandler* handler);
  void unRegisterVTLDataHandler();
  // One next-volume request (receiver thread). No handler: BAD_EOF_MSG
  // "Handler is not set" and EINVAL. A failing handler: BAD_EOF_MSG with
  // its error and that error.
  CWqError handleNextTapeMessage(ClTapeInfoMsg* request);

  // Host options, read by setJobOptions.
  bool unconditionalOverwrite;
  bool doNotOverwrite;
  bool restoreWhenExists;
  bool restoreByJobRunning;
  std::string targetAsp;
  std::string allowObjectDifference;
  std::string memberFlag;
  uint64_t restoreFlags;

  // Test seam of the receiver loop: called on the receiver thread before
  // each wait and after each handled message. Set before the thread starts.
  enum ReceiverPoint { kBeforeWait, kAfterMessage };
  void setReceiverTestSeam(std::function<void(ReceiverPoint)> seam) { m_receiverSeam = std::move(seam); }

 protected:
  // Where a received message is handled.
  enum MessageSite { kReceiverSite, kCompletionSite };
  // Handles one message as the receiver loop or the completion wait does;
  // `finished` is set when the client ended the restore. An error ends the
  // receiver (kept as its error) or the completion wait.
  CWqError handleRestoreMessage(ClProxyMsg& msg, MessageSite site, bool& finished);
  // A whole frame the link could not make into a message (unknown type,
  // payload that does not decode), at either site.
  CWqError handleDroppedFrame(const ClProxyMsgHeader& header, MessageSite site);
  // Records from now on may concern the current file; earlier ones do not.
  void stampCurrentFile();
  // The current file's end went out; `answerExpected` when the client
  // answers it (a good end).
  void endCurrentFile(bool answerExpected);
  // Before a header: when an earlier file of the same name still waits for
  // the client's answer, waits for it (TIMEOUT_FILE_DATA seconds, at least
  // one). ETIME when it does not come, the receiver's verdict (ENOSPC, its
  // error) when it ends the wait; success at once once the receiver ended.
  CWqError waitForEarlierAnswer();
  // The unmodified pre-header list and its END.
  CWqError sendUnmodifiedPreHeaders();
  // Sends on the client-program link; Win32 2250 when it is not connected.
  CWqError sendToProgram(ClProxyMsg& msg);
  // While the receiver runs the link is taken as connected: the receiver
  // may close it after a bad frame, and the link's locked send then fails.
  bool programConnected() const;
  void appendStatus(const RestoreStatus& status);
  void failReceiver(const CWqError& error);

  std::string currentFileName;
  int32_t fileState;
  ClProxyFileHeaderSerializer headerSerializer;
  std::unique_ptr<char[]> optHeader;
  uint32_t optHeaderSize;
  uint64_t headerFlags;
  bool skipFileData;
  uint64_t discardedBytes;
  std::list<std::string> preHeaders;
  std::list<std::string> unmodifiedPreHeaders;
  std::list<std::string> archiveEntries;
  std::string preHeaderHeadName;
  FXMutex statusLock;
  RestoreStatusList statusList;  // under statusLock
  uint64_t currentFileSerial;    // under statusLock
  boost::shared_ptr<KXThread> receiverThread;
  int stopPipe[2];
  std::atomic<bool> diskFull;
  std::atomic<bool> receiverFailed;
  CWqError receiverError;  // written before receiverFailed is set
  ClTapeRestoreDataMsg tapeRestoreCache;
  std::list<std::string> filters;
  std::list<std::pair<std::string, std::string>> sourceDestinations;
  std::atomic<VTLDataHandler*> vtlDataHandler;

 private:
  // Stops and releases the receiver thread and its pipe; m_stopMutex held.
  void stopReceiverLocked();
  // The completion wait's stop pipe, made before the receiver is stopped so
  // that no stop is lost, and closed after the wait.
  CWqError openCompletionWake();
  void closeCompletionWake();
  // sendJobComplete after the receiver stopped.
  CWqError completeJob();

  // Guards receiverThread, stopPipe and m_completionWake: stopReceiverThread
  // may come from another thread while the host's thread completes the job.
  std::mutex m_stopMutex;
  int m_completionWake[2];
  // Set before the receiver thread starts, cleared by it as it ends.
  std::atomic<bool> m_receiverRunning;
  // Set when a record arrives, the receiver fails or sees a full disk, or
  // the receiver ends.
  FXEvent m_statusChanged;
  // Held while a next-volume request is served, and by (un)registering.
  std::recursive_mutex m_handlerMutex;
  // Raises client events while no process-wide sender is installed.
  std::unique_ptr<CProxyFileSystemSendEvents> m_pOwnEventSender;
  std::function<void(ReceiverPoint)> m_receiverSeam;
};
