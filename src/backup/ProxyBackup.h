// ProxyBackup: the backup phase of a job. Its client program "BKP.EXE" (or
// one the host names) backs up the client's content and streams it back:
// for each collect file the proxy announces, headers, data, failures, tape
// events and the statistics that close it.
//
// A host creates it with new, sets the host members (m_bVTLBackup,
// m_nVTLStreams, m_bSyncLibDisabled, m_bUsingIndexV2), then calls in order:
// init, launchClientProcess, acceptClientProcessConnection,
// sendJobStart(bool), and for each collect file one of sendCollectFile /
// sendSCCollectFile / sendSyntheticFullCollectFile followed by the stream
// loop; finally sendJobComplete, then deletes it. One host thread drives it;
// it takes no lock. Calls that need the client program's link before init
// made it fail with ENOTCONN.
//
// The stream loop per collect file: recvNextFile until RECV_STATUS_COLLECT_DONE
// (ProxyBackupStatus.h); after success convert the header (getCxHeader,
// fillStatBuffer), read the references (recvReferenceList), then recvData
// until RECV_STATUS_GOOD_EOF, RECV_STATUS_BAD_EOF or RECV_STATUS_FAILED_FILE.
//
// Ownership: recvData hands out malloc'd buffers, which belong to the host
// (a later recvData given the same variable still set frees it first). The
// optional header stays the phase's until the next recvNextFile.
//
// TIMEOUT_FILE_DATA and TIMEOUT_FILE_DATA_RETRIES are read once per file by
// recvNextFile (the first recvData reads them when no header came before); a
// changed setting applies from the next file.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "CXFileHeader.h"
#include "ClBasicMsgs.h"
#include "ClPrePipelineRecords.h"
#include "ClProxyFileHeader.h"
#include "Proxy.h"
#include "ProxyBackupStatus.h"

class ProxyBackup : public Proxy {
 public:
  // What one job holds from the client at most: references after one
  // header (in all its lists) and mount paths in a volume list.
  static constexpr size_t kMaxReferences = size_t{1} << 20;
  static constexpr size_t kMaxMounts = size_t{1} << 16;

  // Mount-path order of m_mountGUIDs: longer paths first, then descending.
  static bool compareMount(const std::string& a, const std::string& b);
  typedef std::map<std::string, std::string, bool (*)(const std::string&, const std::string&)> MountMap;

  // What a FILE_HEADER_MSG payload holds; see DecodeHeaderPayload.
  struct HeaderPayload {
    ClProxyFileHeaderSerializer header;
    int32_t barcode = 0;
    int32_t streamCount = 1;
    int32_t streamNumber = 1;
    std::string archiveObjectName;  // with its stream suffix
    uint32_t optHeaderOffset = 0;   // the optional header: the bytes from here on
  };

  ProxyBackup();
  ~ProxyBackup() override;

  // Proxy::init with `clientProgram`; its result unchanged.
  CWqError init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level, int64_t jobStartValue,
                const std::string& clientProgram, const std::string& host, uint16_t port) override;
  using Proxy::sendJobStart;
  // The backup job options. Fails with EV_SUBCLIENT_NOT_FOUND (no
  // subclient), ENOENT 2 (task options unreadable) or
  // EV_SUBCLIENT_PROPERTIES_UNREADABLE (custom-selection flag unreadable);
  // then no job start is sent. A null message adds nothing.
  CWqError setJobOptions(ClJobStartMsg* msg) override;
  // Proxy::init with "BKP.EXE".
  virtual CWqError init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                        int64_t jobStartValue, const std::string& host, uint16_t port);
  // The job start; for a sync-library or VTL job with `waitForControlPort`
  // also the client's control port (events before it are raised). A port
  // message shorter than 4 bytes is EPROTO and leaves m_nControlPort as it
  // was.
  virtual CWqError sendJobStart(bool waitForControlPort);
  // Pre-pipeline configuration exchange, in the order the client program
  // expects: its capability (success when bit 0 of its first word is set,
  // else 774 "Client doesn't support Prepipeline"), its request, then the
  // configuration that CProxyPrepipelineMgr gave. Both waits take
  // TIMEOUT_CLIENT_CONNECT seconds; a failure changes no member.
  virtual CWqError recvCOBConfigMsg();
  virtual CWqError recvPrepipelineDedupeConfigRequest();
  virtual CWqError sendPrepipelineDedupeConfigResponse(_PrePipelineDedupe_Config& config);
  // Waits for the client's last request and answers JOB_COMPLETE_MSG.
  virtual CWqError sendJobComplete();
  // Each waits for the client's request, then announces a collect file. A
  // sync-library or VTL job sends m_nControlPort in place of `collectNum`.
  virtual CWqError sendCollectFile(unsigned int collectNum, unsigned long restartOffset);
  virtual CWqError sendSCCollectFile();
  // Streams the local file `path` after the announcement, in blocks of
  // 262144 bytes (only the last one shorter, a FIFO's too), then
  // GOOD_EOF_MSG. A file that cannot be opened fails with its error number
  // (EIO when none) before any block; a read failure sends what was read,
  // then BAD_EOF_MSG with the read error's text, and fails with it.
  virtual CWqError sendSyntheticFullCollectFile(const std::string& path, unsigned short number);
  // The next header or stream event; success or a RECV_STATUS_ code.
  virtual CWqError recvNextFile();
  // The next data item of the current file into `buf` / `size` (see above).
  // `msgType` and `hdr` must both be given when pre-pipeline data can come.
  virtual CWqError recvData(char*& buf, unsigned int& size, unsigned int* msgType, _PipelineDataHdr* hdr);
  // Converts the current header. ENAMETOOLONG (nothing written past the
  // name field) when the name does not fit CXFileHeader, EINVAL when it
  // holds a NUL; either way the item has failed: getFailedFile gives its
  // name (PrintableClientName), the errno and the text, and the host still
  // reads the item's references and data to its end before the next one.
  virtual CWqError getCxHeader(CXFileHeader& cx);
  virtual CWqError getOptHeader(char*& buf, unsigned int& size);
  virtual CWqError getStats(unsigned int& numFiles, unsigned int& numFailedFiles, unsigned long& totSize);
  virtual CWqError getFailedFile(std::string& name, int& error, std::string& text);
  // True for a path in the client's base directory (any case) or in the
  // hard-link store "/__KXHardLink@-@-Files__/".
  virtual bool isProxyFile(const std::string& path) const;
  // After a header: the reference state, and for archive data its lists.
  // More than kMaxReferences in all is EPROTO naming the item; then
  // m_references is left empty, nothing half-merged.
  virtual CWqError recvReferenceList();

  std::string getFileName() const;
  // st_mode, st_uid, st_gid, st_size and the three times' seconds; nothing
  // else of `st` is written.
  void fillStatBuffer(struct stat* st);

  // Tape information (RECV_STATUS_TAPE_INFO) and the host's answer.
  CWqError getTapeInfo(std::string& barcode, std::string& driveSerial);
  CWqError sendTapeInfo(const std::string& barcode, const std::string& driveSerial, bool initTape);

  // Client volumes and the component GUID of a client file. A list of more
  // than kMaxMounts mount paths is EPROTO and keeps the previous map. The
  // lookup walks the file's own path prefixes, never the whole list.
  CWqError getClientVolumeList();
  std::string getComponentGUID(const std::string& sourceFile);

  // Decodes a FILE_HEADER_MSG payload: the file header, for a VTL job the
  // barcode and (when bytes remain) stream count, stream number and archive
  // object name; what remains is the optional header. Fails with
  // EV_FILE_HEADER_DECODE_FAILED.
  static CWqError DecodeHeaderPayload(const uint8_t* payload, uint32_t length, bool vtl, HeaderPayload& out);
  // The control port from a BACKUP_CONTROL_PORT_MSG blob; EPROTO when it
  // holds fewer than 4 bytes.
  static CWqError DecodeControlPort(const ClBlobMsg& msg, uint32_t& port);

  // The phase's state; the host reads it and writes only the members marked
  // "host", before sendJobStart.
  std::string m_sCurrentFile;
  int32_t m_nBarcode;
  int32_t m_nStreamCount;
  int32_t m_nStreamNumber;
  int32_t m_nFailedErrno;
  std::string m_sArchiveObjectName;
  std::string m_sErrorText;
  std::string m_sFailedFile;
  ClProxyFileHeaderSerializer m_headerSerializer;
  char* m_pOptHeader;  // malloc'd, the phase's
  uint32_t m_nOptHeaderSize;
  char* m_pDataBuf;  // never filled by the phase; freed by the destructor when set
  uint32_t m_nDataSize;
  uint32_t m_numFiles;
  uint32_t m_numFailedFiles;
  uint64_t m_totSize;
  uint32_t m_nVTLStreams;  // host
  std::list<std::string> m_references;
  bool m_bSyncBackup;
  bool m_bSyncLibDisabled;  // host
  uint32_t m_nControlPort;
  bool m_bVTLBackup;  // host
  std::string m_sTapeBarCode;
  std::string m_sDriveSerial;
  std::string m_sMessageKey;
  std::string m_sMSGQName;
  std::string m_sRefArchiveName;
  bool m_bReferenceBackup;
  bool m_bRefArchiveKnown;
  MountMap m_mountGUIDs;  // filled by getClientVolumeList only
  bool m_bUsingIndexV2;  // host
  std::string m_sCachedGUID;

 private:
  // Waits for the client's COLLECT_FILE_REQUEST_MSG.
  CWqError recvCollectFileRequest();
  // Streams the synthetic-full collect file after its announcement.
  CWqError sendCollectFileData(const std::string& path);
  CWqError handleHeader(const ClBlobMsg& msg);
  void takeFailedFile(const ClProxyMsg& msg, bool nameOnlyHeader);
  void readFileDataTimeouts();
  CWqError recvDataMessage(ClProxyMsg*& msg);

  // m_mountGUIDs by mount path without its trailing "/": the first mount
  // path in m_mountGUIDs's order with that form, and its GUID.
  std::map<std::string, std::pair<std::string, std::string>> m_mountIndex;
  int m_iFileDataSeconds;   // TIMEOUT_FILE_DATA of the current file
  int m_iFileDataAttempts;  // TIMEOUT_FILE_DATA_RETRIES, at least 1
  bool m_bFileDataTimeoutsRead;
};
