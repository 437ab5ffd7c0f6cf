// DBClientBackup: the per-job bookkeeping of the database file-backup
// phase, standing where a client program stands in the ordinary backup:
// asks the server (through its DBProxyBackup) for the next file, keeps the
// current file's name, header text, sequence number and header bytes, owns
// the reader of the current file, and counts files, failed files and bytes.
//
// getFile: 0 a file is named; 12 no more files (the server said
// "no_more_files" or stopped the job); 1 no phase object; kServerFailed the
// conversation broke (a request that could not be sent, a receive that
// failed, an answer that is not a file record, or no file named within
// TIMEOUT_NEXT_FILE seconds of "try_again" rounds and waits): the phase's
// getServerError() says why. The previous file is reported to the server
// first (phase 0) unless it was already reported as failed.
// getFileHeader: 0, or the reader's failure status (the file counted as
// failed). getFileData: 0 a block, 10 the end, 11 a read error (counted).
// A file counts as failed once, however many steps of it fail.
// One host thread; the phase object is not owned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DBClientFileBackup.h"
#include "KXJobTypes.h"

class DBProxyBackup;

class DBClientBackup {
 public:
  static constexpr int kServerFailed = -100;
  static constexpr uint32_t kBlockSize = 2048;

  DBClientBackup(DBProxyBackup* phase, const std::string& host, uint16_t port, int32_t velliconId, int32_t appId,
                 uint64_t jobId, KXBkpLevel level, int64_t jobStartValue);
  virtual ~DBClientBackup();
  DBClientBackup(const DBClientBackup&) = delete;
  DBClientBackup& operator=(const DBClientBackup&) = delete;

  int getFile();
  int getFileHeader();
  // Reads the next block of the current file straight into `buffer`, which
  // holds `size` bytes (at most kBlockSize are read); `size` becomes the
  // bytes read.
  int getFileData(char* buffer, uint32_t& size);

  // Stand-ins of the client program's side; each returns 0.
  int recvCollectFile();
  int connectProxy();
  int sendFailedFile();
  int sendFileHeader();
  int sendFileData();
  int sendGoodEOF();
  int sendBadEOF();
  int sendStats();
  int sendBadCollect();

  const std::string& getFileName() const { return m_sFileName; }
  int32_t getFileErrno() const { return m_iFileErrno; }
  const std::string& getFileErrorText() const { return m_sFileErrorText; }
  const char* getHeaderBuffer() const { return m_pHeaderBuf.get(); }
  uint32_t getHeaderSize() const { return m_uHeaderSize; }
  const std::string& getHeaderFromApp() const { return m_sHeaderFromApp; }
  uint64_t getSeqNumFromApp() const { return m_ullSeqNumFromApp; }
  uint32_t getLastBlockSize() const { return m_uDataSize; }
  uint32_t getNumFiles() const { return m_uNumFiles; }
  uint32_t getNumFailedFiles() const { return m_uNumFailedFiles; }
  uint64_t getTotalBytes() const { return m_ullTotalBytes; }
  // The current file failed on the host's side (its header did not
  // convert): counted as failed once, with `errNo` and `text`.
  void failCurrentFile(int32_t errNo, const std::string& text);
  // A file is reported as failed to the server once: the phase marks it.
  bool isFailureReported() const { return m_bFailureReported; }
  void setFailureReported() { m_bFailureReported = true; }

 private:
  struct FreeDeleter {
    void operator()(char* p) const;
  };

  void dropCurrentFile();
  void countFailure();

  int32_t m_iVelliconId;
  int32_t m_iAppId;
  uint64_t m_ullJobId;
  KXBkpLevel m_eLevel;
  int64_t m_llJobStartValue;
  std::unique_ptr<DBClientFileBackup> m_pReader;
  uint64_t m_ullStartOffset;
  uint32_t m_uNumFiles;
  uint32_t m_uNumFailedFiles;
  uint64_t m_ullTotalBytes;
  std::string m_sFileName;
  int32_t m_iFileErrno;
  std::string m_sFileErrorText;
  std::unique_ptr<char, FreeDeleter> m_pHeaderBuf;
  uint32_t m_uHeaderSize;
  uint32_t m_uDataSize;  // the last block delivered
  std::string m_sHeaderFromApp;
  uint64_t m_ullSeqNumFromApp;
  bool m_bFailureReported;
  bool m_bFailureCounted;  // the current file is among m_uNumFailedFiles
  DBProxyBackup* m_pPhase;
};
