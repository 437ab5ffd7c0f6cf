// Requests of the out-of-job services to the client daemon.
//
// Payloads (docs/wire-format.md):
//   ClCreateIndexFlagMsg  u32 command, u32 Vellicon id, u32 application id
//   ClCommitBackupJobMsg  i32, u64, i32, i32: the four values as given
//   ClClientBrowseReqMsg  string path
//   ClClientBrowseRepMsg  u32 count, count x (string name, u32 value,
//                         i64 size, u32 type)
//   ClDownloadLogFile     u32 log request, u64 second value
//   ClDownloadDirChangeFile  i32, i32, u64: the three values as given
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ClMallocBlock.h"
#include "ClProxyMsg.h"

// CREATE_INDEX_FLAG_MSG, both ways: a request on the create-index flag the
// client keeps per backup domain and application, and the client's answer
// to a query, which carries its state in the command.
class ClCreateIndexFlagMsg : public ClProxyMsg {
 public:
  enum CreateIndexFlagCmd : uint32_t {
    kClearFlag = 1,     // clear the flag
    kIndexCreated = 2,  // the index was created
    kQuery = 3,         // is an index required?
    kNoIndexNeeded = 4, // answer: the index was created
  };

  ClCreateIndexFlagMsg(CreateIndexFlagCmd command, unsigned int velliconId, unsigned int appId)
      : ClProxyMsg(CREATE_INDEX_FLAG_MSG), m_uCommand(command), m_uVelliconId(velliconId), m_uAppId(appId) {}
  ~ClCreateIndexFlagMsg() override {}

  // Any value a peer sent, listed or not.
  uint32_t getCommand() const { return m_uCommand; }
  uint32_t getVelliconId() const { return m_uVelliconId; }
  uint32_t getAppId() const { return m_uAppId; }

  static std::unique_ptr<ClCreateIndexFlagMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  ClCreateIndexFlagMsg(uint32_t command, uint32_t velliconId, uint32_t appId, bool)
      : ClProxyMsg(CREATE_INDEX_FLAG_MSG), m_uCommand(command), m_uVelliconId(velliconId), m_uAppId(appId) {}

  uint32_t m_uCommand;
  uint32_t m_uVelliconId;
  uint32_t m_uAppId;
};

// Commits a backup job on the client; the client sends no answer.
class ClCommitBackupJobMsg : public ClProxyMsg {
 public:
  ClCommitBackupJobMsg(int first, unsigned long second, int third, int fourth)
      : ClProxyMsg(COMMIT_BACKUP_JOB_MSG),
        m_iFirst(first),
        m_ullSecond(second),
        m_iThird(third),
        m_iFourth(fourth) {}

  int32_t getFirst() const { return m_iFirst; }
  uint64_t getSecond() const { return m_ullSecond; }
  int32_t getThird() const { return m_iThird; }
  int32_t getFourth() const { return m_iFourth; }

  static std::unique_ptr<ClCommitBackupJobMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iFirst;
  uint64_t m_ullSecond;
  int32_t m_iThird;
  int32_t m_iFourth;
};

// Asks the client to list one directory; answered by BROWSE_REPLY_MSG
// (ClClientBrowseRepMsg) or FAILED_FILE_MSG.
class ClClientBrowseReqMsg : public ClProxyMsg {
 public:
  explicit ClClientBrowseReqMsg(const std::string& path) : ClProxyMsg(CLIENT_BROWSE_REQ_MSG), m_sPath(path) {}
  const std::string& getPath() const { return m_sPath; }
  static std::unique_ptr<ClClientBrowseReqMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::string m_sPath;
};

// The client's listing of one directory, entries in the client's order.
//
// The message keeps its entries as their payload bytes: a received listing
// (up to what a frame carries, millions of entries) is checked once and then
// read in place, never copied into an object per entry. Entries are read
// through a Cursor.
class ClClientBrowseRepMsg : public ClProxyMsg {
 public:
  struct ClientBrowseEntry_t {
    std::string name;
    uint32_t value = 0;  // the client's; passed on unchanged
    int64_t size = 0;
    uint32_t type = 0;   // 1: a directory
  };
  // One entry as read: the name points into the message, which must outlive it.
  struct EntryView {
    const char* name = nullptr;
    uint32_t nameSize = 0;
    uint32_t value = 0;
    int64_t size = 0;
    uint32_t type = 0;
  };
  // Walks the entries in order.
  class Cursor {
   public:
    explicit Cursor(const ClClientBrowseRepMsg& msg);
    // The next entry; false after the last.
    bool next(EntryView& entry);

   private:
    const uint8_t* m_pData;
    uint32_t m_uLength;
    uint32_t m_uOffset;
    uint32_t m_uLeft;
  };

  // A listing to send; encoding it may fail (EMSGSIZE) when it is larger
  // than a payload can be, which encodePayload then reports.
  explicit ClClientBrowseRepMsg(const std::vector<ClientBrowseEntry_t>& entries = {});
  uint32_t entryCount() const { return m_uCount; }
  // The bytes of all names together.
  size_t nameBytes() const { return m_uNameBytes; }
  // Takes the payload when it is a well-formed listing; null otherwise.
  static std::unique_ptr<ClClientBrowseRepMsg> decode(ClMallocBlock payload, uint32_t length);

  CWqError encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const override;

 private:
  // A received listing, checked.
  ClClientBrowseRepMsg(ClMallocBlock payload, uint32_t length, uint32_t count, size_t nameBytes);

  std::vector<uint8_t> m_built;  // the payload of a listing made here
  ClMallocBlock m_received;      // the payload of a received one
  const uint8_t* m_pData = nullptr;
  uint32_t m_uLength = 0;
  uint32_t m_uCount = 0;
  size_t m_uNameBytes = 0;
  CWqError m_encoded;
};

// Asks the client for its log files; answered by a file-transfer sequence.
class ClDownloadLogFile : public ClProxyMsg {
 public:
  ClDownloadLogFile(unsigned int request, unsigned long second)
      : ClProxyMsg(DOWNLOAD_LOG_FILE_MSG), m_uRequest(request), m_ullSecond(second) {}
  uint32_t getRequest() const { return m_uRequest; }
  uint64_t getSecond() const { return m_ullSecond; }
  static std::unique_ptr<ClDownloadLogFile> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  uint32_t m_uRequest;
  uint64_t m_ullSecond;
};

// Asks the client for its temporary directory-change file.
class ClDownloadDirChangeFile : public ClProxyMsg {
 public:
  ClDownloadDirChangeFile(int& first, int& second, unsigned long& third)
      : ClProxyMsg(DOWNLOAD_DIR_CHANGE_FILE_MSG), m_iFirst(first), m_iSecond(second), m_ullThird(third) {}
  int32_t getFirst() const { return m_iFirst; }
  int32_t getSecond() const { return m_iSecond; }
  uint64_t getThird() const { return m_ullThird; }
  static std::unique_ptr<ClDownloadDirChangeFile> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iFirst;
  int32_t m_iSecond;
  uint64_t m_ullThird;
};
