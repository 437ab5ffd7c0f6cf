// SimServiceDaemon: the simulated client daemon as the proxy's services meet
// it. Each connection is one service link: the daemon takes the launch
// request "SERVICE" without answering it, then serves and records every
// request on that link until the proxy closes it or the daemon stops:
//
//   SERVICE_CHECK_MSG      a probe: counted, never answered (an answer would
//                          be read as the next request's acknowledgement)
//   CREATE_FOLDER_MSG      makes the folder under the client folder:
//                          GOOD_EOF_MSG, or FAILED_FILE_MSG with errno and text
//   commit request         its four values recorded, unanswered
//   PREPARE_VTL_TAPE_MSG   drive and tape recorded; the configured number of
//                          SERVICE_CHECK_MSG heartbeats, then GOOD_EOF_MSG
//   CREATE_INDEX_FLAG_MSG  one flag per (Vellicon id, app id): clear and
//                          complete acknowledged with SERVICE_CHECK_MSG; a
//                          query answered with command 4 once complete, else 0
//   browse request         a generated listing when set; otherwise the
//                          directory under the client folder, "." and
//                          ".." first, then its entries in name order (type 1
//                          for a folder, value 0644, the size); FAILED_FILE_MSG
//                          with errno and text when it cannot be listed
//   log download           the request's values recorded; each regular file of the log folder in name order
//                          (header with its name, 64 KiB blocks), then
//                          JOB_COMPLETE_MSG
//   directory-change download  the directory-change file (header, blocks,
//                          JOB_COMPLETE_MSG), or BAD_EOF_MSG when it is missing
//   VERSION_REQUEST_MSG    CLIENT_VERSION_MSG with the version text set
//                          (SetVersionReply); unanswered while none is set
//   CLIENT_UPDATE_MSG      the IBM i update: keeps the FILE_DATA_MSG bytes
//                          up to the proxy's GOOD_EOF_MSG or BAD_EOF_MSG,
//                          acknowledges as chosen (SetUpdateAck), then closes
//                          the link after the chosen number of probes (the
//                          services going down), or keeps it open (-1: the
//                          services never stop). The daemon coming back is a
//                          new daemon on the same port (SetBindAddress).
//   EXECUTE_COMMAND_MSG    keeps the command's bytes; answers as set
//                          (SetExecuteAnswer): EXECUTE_SUCCESS_MSG,
//                          EXECUTE_FAILURE_MSG, CLIENT_ERROR_MSG, nothing,
//                          or a closed link
//
// ScriptNext replaces the usual answer to the next request of a type with a
// script (any replies, silence, a late reply, close, reset). Every answer
// can be delayed; a test can send on an idle link (a DISCONNECT_MSG, a
// flood). Before each answer the daemon counts a request that arrived while
// the previous one was still unanswered (two requests in flight on a link).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CWqError.h"
#include "ClProxyMsg.h"
#include "SimDaemon.h"
#include "SimScript.h"

class SimPeer;
class ClProxyConnection;

class SimServiceDaemon {
 public:
  SimServiceDaemon();
  ~SimServiceDaemon();
  SimServiceDaemon(const SimServiceDaemon&) = delete;
  SimServiceDaemon& operator=(const SimServiceDaemon&) = delete;

  // Another loopback address (and port) to listen on; before Reserve/Start.
  void SetBindAddress(const std::string& address, uint16_t port = 0) { m_daemon.SetBindAddress(address, port); }
  // A port that refuses connections until Start.
  CWqError Reserve() { return m_daemon.Reserve(); }
  CWqError Start() { return m_daemon.Start(); }
  uint16_t GetPort() const { return m_daemon.GetPort(); }

  void SetClientFolder(const std::string& folder);
  void SetTapeHeartbeats(int count);
  void SetLogFolder(const std::string& folder);
  // Browse answers list `entries` generated names (16 to 24 bytes) instead
  // of a folder; 0 goes back to folders. The reply is made here, once, so
  // that answering costs the daemon no memory. Returns the reply's payload
  // bytes.
  size_t SetGeneratedListing(size_t entries);
  void SetDirChangeFile(const std::string& path);
  void SetAnswerDelayMs(int64_t milliseconds);
  void ScriptNext(ClProxyMsgType requestType, SimScript answer);

  // The version reply's text, as the daemon sends it ("5:20:OSVERSION=V7R4M0").
  void SetVersionReply(const std::string& text);
  // How the daemon acknowledges a received package.
  enum UpdateAck { kAckAsSent, kAckGoodEof, kAckBadEof, kAckVersion, kAckSilent };
  void SetUpdateAck(UpdateAck ack);
  // How the daemon answers a command to run (success until set).
  enum ExecuteAnswer { kExecuteSuccess, kExecuteFailure, kExecuteClientError, kExecuteSilent, kExecuteClose };
  void SetExecuteAnswer(ExecuteAnswer answer);
  // The bytes of each command received, in order.
  std::vector<std::string> GetExecutedCommands() const;
  // Probes taken after the acknowledgement before the link closes; -1 keeps
  // the link open.
  void SetProbesBeforeClose(int probes);
  // The package bytes received, and the type that ended them (0 before).
  std::vector<uint8_t> GetPackage() const;
  ClProxyMsgType GetPackageEnd() const;
  size_t GetPackageBlocks() const;

  // Sends on link `index` (in the order links were opened); EBADF when that
  // link is closed or does not exist.
  CWqError SendOnLink(size_t index, const ClProxyMsg& message);
  // Writes bytes as they are on link `index` (a frame cut short, say).
  CWqError SendRawOnLink(size_t index, const std::vector<uint8_t>& bytes);

  size_t GetConnectionCount() const { return m_daemon.GetConnectionCount(); }
  bool WaitForAccepted(size_t count, int seconds) { return m_daemon.WaitForAccepted(count, seconds); }
  // Waits until link `index` (accept order) has been closed.
  bool WaitForClosed(size_t index, int seconds) { return m_daemon.WaitForConnection(index, seconds); }
  SimConnectionRecord GetRecord(size_t index) const { return m_daemon.GetRecord(index); }
  size_t GetLaunchCount() const { return m_launches.load(); }
  size_t GetProbeCount() const { return m_probes.load(); }
  size_t GetInterleavedRequests() const { return m_interleaved.load(); }
  // Links open now.
  size_t GetOpenLinks() const;
  // Waits up to `seconds` until exactly `count` links are open: a link the
  // proxy has connected is counted once the daemon's thread has taken it.
  bool WaitForOpenLinks(size_t count, int seconds) const;
  // Types of the requests received on every link, in order of arrival.
  std::vector<ClProxyMsgType> GetRequests() const;
  // The tape preparations received, decoded in their order in the request:
  // "<drive>|<tape>", or "undecodable" for a request that is not two texts
  // and nothing more.
  std::vector<std::string> GetTapePreparations() const;
  // The commit requests received, their four values in order:
  // "<first>,<second>,<third>,<fourth>", or "undecodable".
  std::vector<std::string> GetCommits() const;
  // The log download requests received: "<request>,<second value>".
  std::vector<std::string> GetLogRequests() const;

  void Stop() { m_daemon.Stop(); }

 private:
  CWqError Serve(SimPeer& peer);
  CWqError Answer(SimPeer& peer, const ClProxyMsg& request);
  // `generated`: the generated listing's whole frame, or null.
  CWqError AnswerBrowse(SimPeer& peer, const std::string& folder, const std::vector<uint8_t>* generated,
                        const ClProxyMsg& request);
  // A header naming `name`, then `path` in 64 KiB blocks.
  CWqError SendFile(SimPeer& peer, const std::string& name, const std::string& path);
  CWqError Send(SimPeer& peer, const ClProxyMsg& answer);
  CWqError ReceiveUpdate(SimPeer& peer);
  // The index of the peer's link; called with m_mutex held.
  size_t LinkIndex(SimPeer& peer) const;
  // Before each answer: the delay, and the check for a second request.
  bool BeforeAnswer(SimPeer& peer);

  SimDaemon m_daemon;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_linksChanged;
  std::string m_sClientFolder;
  int m_iTapeHeartbeats = 0;
  std::string m_sLogFolder;
  std::shared_ptr<const std::vector<uint8_t>> m_generatedFrame;
  std::string m_sDirChangeFile;
  int64_t m_iDelayMs = 0;
  std::map<uint16_t, std::deque<SimScript>> m_scripts;
  std::string m_sVersionReply;
  bool m_bHaveVersion = false;
  UpdateAck m_updateAck = kAckAsSent;
  int m_iProbesBeforeClose = 0;
  std::vector<uint8_t> m_package;
  ClProxyMsgType m_packageEnd = static_cast<ClProxyMsgType>(0);
  size_t m_uPackageBlocks = 0;
  ExecuteAnswer m_executeAnswer = kExecuteSuccess;
  std::vector<std::string> m_executed;
  std::map<size_t, int> m_probesToClose;  // link index -> probes still taken
  std::map<std::pair<uint32_t, uint32_t>, bool> m_indexCreated;
  std::vector<ClProxyConnection*> m_links;  // null once closed
  std::vector<ClProxyMsgType> m_requests;
  std::vector<std::string> m_tapePreparations;
  std::vector<std::string> m_commits;
  std::vector<std::string> m_logRequests;
  std::atomic<size_t> m_launches{0};
  std::atomic<size_t> m_probes{0};
  std::atomic<size_t> m_interleaved{0};
};
