// Requests of the out-of-job services to the client daemon.
//
// Payloads (docs/wire-format.md):
//   ClCreateIndexFlagMsg  u32 command, u32 Vellicon id, u32 application id
//   ClCommitBackupJobMsg  i32, u64, i32, i32: the four values as given
#pragma once

#include <cstdint>
#include <memory>

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
