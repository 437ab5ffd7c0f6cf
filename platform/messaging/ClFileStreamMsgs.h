// Messages of the file streams: the failed end of a transfer, a failed file,
// the statistics that close a collect file, and the collect-file
// announcements.
//
// Payloads (docs/wire-format.md):
//   ClBadEofMsg                    string text
//   ClFailedFileMsg                string name, int32 code, string text
//   ClBackupStatsMsg               uint32 files, uint32 failed files, uint64 total size
//   ClCollectFileMsg               int32 number, uint64 restart offset
//   ClSyntheticFullCollectFileMsg  int32 number
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ClProxyMsg.h"

// BAD_EOF_MSG: a file transfer ended in failure; carries the error text.
class ClBadEofMsg : public ClProxyMsg {
 public:
  // A null text is an empty text.
  explicit ClBadEofMsg(const char* text) : ClProxyMsg(BAD_EOF_MSG), m_sText(text ? text : "") {}
  explicit ClBadEofMsg(const std::string& text) : ClProxyMsg(BAD_EOF_MSG), m_sText(text) {}
  ~ClBadEofMsg() override {}

  void get(std::string& text) const { text = m_sText; }

  static std::unique_ptr<ClBadEofMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::string m_sText;
};

// FAILED_FILE_MSG: a file or a request failed on the client. What the code
// means (an error number, an event id) is the exchange's.
class ClFailedFileMsg : public ClProxyMsg {
 public:
  ClFailedFileMsg(const std::string& name, int32_t code, const std::string& text)
      : ClProxyMsg(FAILED_FILE_MSG), m_sName(name), m_iCode(code), m_sText(text) {}

  void get(std::string& name, int& code, std::string& text) const {
    name = m_sName;
    code = m_iCode;
    text = m_sText;
  }

  static std::unique_ptr<ClFailedFileMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::string m_sName;
  int32_t m_iCode;
  std::string m_sText;
};

// BACKUP_STATS_MSG: the end of a collect file with its statistics.
class ClBackupStatsMsg : public ClProxyMsg {
 public:
  ClBackupStatsMsg(uint32_t numFiles, uint32_t numFailedFiles, uint64_t totSize)
      : ClProxyMsg(BACKUP_STATS_MSG),
        m_uNumFiles(numFiles),
        m_uNumFailedFiles(numFailedFiles),
        m_ullTotSize(totSize) {}

  void get(uint32_t& numFiles, uint32_t& numFailedFiles, uint64_t& totSize) const {
    numFiles = m_uNumFiles;
    numFailedFiles = m_uNumFailedFiles;
    totSize = m_ullTotSize;
  }

  static std::unique_ptr<ClBackupStatsMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  uint32_t m_uNumFiles;
  uint32_t m_uNumFailedFiles;
  uint64_t m_ullTotSize;
};

// Announces a numbered collect file (or, for a sync-library or VTL job, the
// client's control port in place of the number) and where to restart in it.
class ClCollectFileMsg : public ClProxyMsg {
 public:
  ClCollectFileMsg(int32_t number, uint64_t restartOffset)
      : ClProxyMsg(COLLECT_FILE_MSG), m_iNumber(number), m_ullRestartOffset(restartOffset) {}

  int32_t getNumber() const { return m_iNumber; }
  uint64_t getRestartOffset() const { return m_ullRestartOffset; }

  static std::unique_ptr<ClCollectFileMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iNumber;
  uint64_t m_ullRestartOffset;
};

// Announces a synthetic-full collect file, whose content the proxy streams
// right after this message.
class ClSyntheticFullCollectFileMsg : public ClProxyMsg {
 public:
  explicit ClSyntheticFullCollectFileMsg(int32_t number)
      : ClProxyMsg(SYNTHETIC_FULL_COLLECT_FILE_MSG), m_iNumber(number) {}

  int32_t getNumber() const { return m_iNumber; }

  static std::unique_ptr<ClSyntheticFullCollectFileMsg> decode(const uint8_t* payload,
                                                               uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iNumber;
};
