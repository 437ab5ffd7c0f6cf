// IBMiDRClientConnectionInterface: the DR driver's link to the IBM i client.
// Owns the job's DR configuration and the "SERVICE" connection on the client
// daemon, and carries the start of the DR save job, the closing of the link
// before the client goes down and the status query once it is back. Every
// failure is also raised as the job's pending cause on the job client.
//
// Used on the host's thread only. Before configure, operations needing the
// configuration fail with EINVAL; those continuing an exchange without a
// connection fail with Win32 2250. After an exchange that ended without its
// answer the connection is dropped, so no late reply answers the next one.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "CWqError.h"
#include "CXFileHeader.h"
#include "ClProxyFileHeader.h"
#include "ClProxyMsgType.h"
#include "IBMiDRConfiguration.h"
#include "IBMiDRStateInterface.h"
#include "ProxyEventIds.h"

class ClProxyClientConnection;
class ClProxyMsg;
class KXBkpJobClient;
class KXJobCtrlClient;

const uint32_t EV_DR_CLIENT_ERROR = 0x17000082;
const uint32_t EV_DR_NO_REPLY = 0x17000086;
const uint32_t EV_DR_IPLTYPE_WARNING = 0x4800006a;
const uint32_t EV_DR_CLIENT_NOT_BACK = 0x17000083;
const uint32_t EV_DR_CLEANUP_UNREACHABLE = 0x17000080;
const uint32_t EV_DR_CLEANUP_FAILED = 0x17000081;
const uint32_t EV_DR_SERVICES_NOT_STOPPED = 0x17000084;

class IBMiDRClientConnectionInterface {
 public:
  IBMiDRClientConnectionInterface(KXBkpJobClient* jobClient, KXJobCtrlClient* jobCtrlClient, int velliconId,
                                  int appId, long long jobId, bool ipl,
                                  boost::shared_ptr<IBMiDRStateInterface> state);
  ~IBMiDRClientConnectionInterface();

  CWqError configure(bool vtl);
  CWqError ValidateConfig();
  CWqError CheckAndCleanupDRFolder(bool noManage);
  CWqError connectToClientService();
  CWqError sendDRStartMessage();
  CWqError receiveDRStartStatus(std::string& jobNumber);
  CWqError stopServicesOnClient();
  // Whether a status request can carry `jobNumber`: not empty and not cut.
  static bool StatusRequestCarries(const std::string& jobNumber);
  // A start answer without such a number leaves nothing to ask about later:
  // raises the pending cause EV_DR_CLIENT_ERROR, schedules the staging
  // cleanup and returns EPROTO.
  CWqError RefuseJobNumber(const std::string& jobNumber);
  // `state` gets DR_STATE_SUCCESS or DR_STATE_FAILED; statusAnswered() then
  // says whether the verdict is settled (a job that got none asks again). A
  // job number no request can carry settles it as failed (EINVAL, with the
  // pending cause of RefuseJobNumber).
  CWqError getDRStatus(const std::string& jobNumber, DRBackupState& state);
  bool statusAnswered() const { return m_bStatusAnswered; }
  // Success once the daemon refuses a probe; EAGAIN when it still answers
  // (delay + 10) minutes on.
  CWqError waitForServiceGoDown();
  // Success once a service connection is open again (it stays open); plain
  // integer 100 when the job is asked to stop; EAGAIN when the client is not
  // back (duration + 15) minutes on. At least one attempt is made.
  CWqError waitForServiceComeUp();
  // Asks the client to remove the DR media directory; every failure defers
  // the removal to the deployment manager. No directory: nothing to remove.
  CWqError cleanUp();

  // The VTL exchanges. The size wait and the tape initialisation end with
  // plain integer 100 when the job is asked to stop, and with ETIME when no
  // answer came (maximum duration + 15) minutes on.
  CWqError getSystemBackupSize();
  // Through the client's cached proxy service, not the DR connection.
  CWqError clearCreateIndexFlag();
  // On success the configuration holds the drive and volumes the client
  // chose, and the saved state their volumes. Refused (EINVAL, nothing sent
  // or saved) once the state is past DR_STATE_INITIATED.
  CWqError InitializeTapeAndDrive(const std::string& drive, const std::list<std::string>& tapes);

  // The index update of a VTL DR job: the outfile-processing request (no
  // answer awaited), then one item of the client's stream per call: status
  // 0 a file with its barcode (and any symlink target), 8 a failed file, 7
  // the end, 1 the client's failure (success) or a lost link (error). A
  // name the host header cannot hold is a failed file (ENAMETOOLONG, or
  // EINVAL for a NUL inside, the name then given as PrintableClientName
  // shows it: "\0" for the NUL, a backslash doubled), and so
  // is a file whose symlink target is longer than PATH_MAX (ENAMETOOLONG).
  // The quit flag is looked at on every pass. TIMEOUT_NEXT_FILE is read
  // once per stream, by startOutfileProcessing.
  // Without a connection: 2250, status 1. Between receive time-outs the
  // quit flag (plain integer 100) and (maximum duration + 15) minutes of
  // silence end the wait.
  CWqError startOutfileProcessing();
  CWqError recvNextFileFromDR(int& status, std::string& name, CXFileHeader& header);
  // Has the client clean up the VTL drive of the job on a fresh service
  // connection; success without a drive (nothing sent).
  CWqError cleanUpClientVTLBackup();

  unsigned int systemBackupSizeFromClient() const { return m_uiSystemBackupSize; }
  bool shouldSuspendJob() const { return m_ptrConfiguration && m_ptrConfiguration->shouldSuspendJob(); }
  long long getJobID() const { return m_llJobId; }
  std::string getFileTapeBarCode() const { return m_sFileTapeBarCode; }
  std::string getSymlink() const { return m_sSymlink; }
  void getFileError(int& error, std::string& name, std::string& text) const {
    error = m_iFileError;
    name = m_sFileName;
    text = m_sFileErrorText;
  }
  std::string getTapeList() const { return m_ptrConfiguration ? m_ptrConfiguration->getTapeList() : std::string(); }
  boost::shared_ptr<IBMiDRConfigurationInterface> configuration() const { return m_ptrConfiguration; }
  bool isConnected() const;

  // A FILE_HEADER_MSG blob of the DR file stream: the file header, then its
  // tape barcode; bytes after the barcode are ignored. 0, or the
  // serializer's non-zero result (`header` or `barcode` then partly read).
  static int DecodeFileItem(const uint8_t* blob, uint32_t size, ClProxyFileHeaderSerializer& header,
                            std::string& barcode);

  // The DR family rule: a client code of module 0x17 is its own event id,
  // any other becomes EV_DR_CLIENT_ERROR.
  static uint32_t DREventId(int32_t code);

 private:
  void RaisePendingCause(uint32_t eventId);
  void AddText(const std::string& text);
  void ScheduleCleanup();
  void DropConnection();
  // One reply of the start or status exchange; a failed receive drops the link.
  CWqError ReceiveReply(ClProxyMsg*& reply);
  // Between the receives of a long wait: plain integer 100 when the job is
  // asked to stop, ETIME past `deadline`; the link is dropped either way.
  CWqError CheckWaitGoesOn(int64_t deadline, const char* what);
  // The quit flag's part of CheckWaitGoesOn alone.
  CWqError CheckQuit(const char* what);
  // One message of `types` on the service connection, received in slices of
  // at most kWaitSliceSeconds whatever the setting, with CheckWaitGoesOn
  // between slices; its failure ends the wait with `ended` set. `seconds` > 0
  // ends it with ETIME after that many seconds of silence; 0 waits for the
  // quit flag or `deadline` only. A `deadline` of 0 is set to
  // AnswerDeadline() when the first slice passes in silence.
  CWqError ReceiveBounded(ClProxyMsg*& received, const std::vector<ClProxyMsgType>& types, int seconds,
                          int64_t& deadline, const char* what, bool& ended);
  static const int kWaitSliceSeconds = 2;
  int64_t AnswerDeadline() const;
  // Fills `header` and `name` from a decoded client header (status 0) or a
  // failed file's name (status 8); a name too long for `header` turns the
  // item into a failed file.
  void FillHostHeader(const ClProxyFileHeader& decoded, int& status, std::string& name, CXFileHeader& header);
  // Makes the item a failed file (status 8): the error fields, a header
  // carrying only the name when it fits; a name with a NUL inside is given
  // with its control bytes shown as "\xHH".
  void FailItem(const std::string& fileName, int error, const std::string& text, int& status, std::string& name,
                CXFileHeader& header);
  // The item's "Backup file|folder ..." line, its control bytes shown as "\xHH".
  void LogItem(const ClProxyFileHeader& decoded, const std::string& name, const CXFileHeader& header) const;

  uint32_t m_uiSystemBackupSize;
  uint64_t m_ulClientId;
  long long m_llJobId;
  int32_t m_iAppId;
  int32_t m_iVelliconId;
  boost::shared_ptr<ClProxyClientConnection> m_ptrClientConnection;
  boost::shared_ptr<IBMiDRStateInterface> m_ptrState;
  boost::shared_ptr<IBMiDRConfigurationInterface> m_ptrConfiguration;
  bool m_bIPL;
  KXBkpJobClient* m_pJobClient;
  KXJobCtrlClient* m_pJobCtrlClient;
  std::string m_sFileTapeBarCode;
  int32_t m_iFileError;
  std::string m_sFileName;
  std::string m_sFileErrorText;
  std::string m_sSymlink;
  // The size of a symlink target refused as longer than PATH_MAX; the file
  // it belongs to (the next header) fails. 0: none.
  uint32_t m_uiSymlinkTooLong;
  bool m_bStatusAnswered;
  // The DR file stream's decoded header, kept so that its name's storage
  // is reused from item to item.
  ClProxyFileHeaderSerializer m_fileItem;
};
