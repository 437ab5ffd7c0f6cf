// ClJobStartMsg: the job start sent to a client program.
//
// Carries the job's identity (Vellicon id, application id, backup level, the
// host's 64-bit job start value, job id) and an ordered list of entries:
// named typed options, and source/destination paths of a restore.
//
// Option names are case-sensitive. Setting an option whose name is already
// present REPLACES its value (and type) in place: the option keeps the
// position of its first setting, and the client sees one value per name, the
// last one set. Paths are never merged: the same pair added twice travels
// twice. Entries travel in the order they were added.
//
// Payload: int32 Vellicon id, int32 application id, int32 backup level,
// int64 job start value, uint64 job id, uint32 entry count, then each entry
// as uint16 kind followed by (kind 1-5) string name and the value, or (kind
// 6) string source and string destination. Values: kind 1 bool (uint16 0 or
// 1), 2 int32, 3 uint32, 4 uint64, 5 string.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyMsg.h"

class ClJobStartMsg : public ClProxyMsg {
 public:
  enum EntryKind : uint16_t {
    kBool = 1,
    kInt32 = 2,
    kUInt32 = 3,
    kUInt64 = 4,
    kString = 5,
    kPath = 6,
  };

  // One option (kinds 1-5: `name` and the value field of its kind) or one
  // path (kind 6: `name` is the source, `text` the destination).
  struct Entry {
    EntryKind kind = kBool;
    std::string name;
    bool bValue = false;
    int32_t iValue = 0;
    uint32_t uValue = 0;
    uint64_t ullValue = 0;
    std::string text;

    bool operator==(const Entry& other) const;
  };

  ClJobStartMsg(int32_t velliconId, int32_t appId, int32_t backupLevel, int64_t jobStartValue,
                uint64_t jobId)
      : ClProxyMsg(JOB_START_MSG),
        m_iVelliconId(velliconId),
        m_iAppId(appId),
        m_iBackupLevel(backupLevel),
        m_llJobStartValue(jobStartValue),
        m_ullJobId(jobId) {}

  void setOptionValue(const std::string& name, bool value);
  void setOptionValue(const std::string& name, int32_t value);
  void setOptionValue(const std::string& name, uint32_t value);
  void setOptionValue(const std::string& name, uint64_t value);
  void setOptionValue(const std::string& name, const std::string& value);
  // Keeps a text literal a string option (it would otherwise become a bool).
  void setOptionValue(const std::string& name, const char* value) {
    setOptionValue(name, std::string(value ? value : ""));
  }
  void addPath(const std::string& source, const std::string& destination);

  int32_t getVelliconId() const { return m_iVelliconId; }
  int32_t getAppId() const { return m_iAppId; }
  int32_t getBackupLevel() const { return m_iBackupLevel; }
  int64_t getJobStartValue() const { return m_llJobStartValue; }
  uint64_t getJobId() const { return m_ullJobId; }
  const std::vector<Entry>& getEntries() const { return m_entries; }
  // Every setOptionValue call in order, a repeated name each time (the
  // entries keep one per name): what a builder set, and how often.
  const std::vector<Entry>& getSetCalls() const { return m_setCalls; }

  // The option of that name, or null (paths are not options).
  const Entry* findOption(const std::string& name) const;
  // The paths as (source, destination), in order.
  std::vector<std::pair<std::string, std::string>> getPaths() const;

  static std::unique_ptr<ClJobStartMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  // The entry to fill for option `name`: the existing one or a new one.
  Entry& optionSlot(const std::string& name, EntryKind kind);

  int32_t m_iVelliconId;
  int32_t m_iAppId;
  int32_t m_iBackupLevel;
  int64_t m_llJobStartValue;
  uint64_t m_ullJobId;
  std::vector<Entry> m_entries;
  std::vector<Entry> m_setCalls;  // not sent
};
