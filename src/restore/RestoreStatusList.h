// RestoreStatusList: the per-item results a restore client reported, in
// arrival order, with an index by item name.
//
// Every record gets a serial (its arrival number, from 1). The oldest record
// is at the front; FirstFor finds the oldest record of a name that arrived
// at or after a given serial in logarithmic time, so a check after each send
// stays cheap with many records pending for other names. The list takes no
// lock: its owner guards it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// One per-item result.
struct RestoreStatus {
  std::string itemName;
  uint32_t itemStatus = 0;
  std::string itemMessage;
  uint64_t itemValue = 0;
};

class RestoreStatusList {
 public:
  // The serial the next record will get.
  uint64_t NextSerial() const { return m_uNextSerial; }
  void Append(const RestoreStatus& status);

  bool Empty() const { return m_records.empty(); }
  size_t Size() const { return m_records.size(); }

  // The oldest record; false when the list is empty.
  bool Front(uint64_t& serial, RestoreStatus& status) const;
  // The oldest record of `name` with a serial of at least `fromSerial`.
  bool FirstFor(const std::string& name, uint64_t fromSerial, uint64_t& serial, RestoreStatus& status) const;
  void Remove(uint64_t serial);

 private:
  std::map<uint64_t, RestoreStatus> m_records;                    // by serial: arrival order
  std::unordered_map<std::string, std::set<uint64_t>> m_byName;  // serials of each name
  uint64_t m_uNextSerial = 1;
};

// An ITEM_STATUS_MSG payload: entries of (string name, string message, u32
// status, u64 value), in the channel's item encoding, back to back with no
// count. Appends every whole entry to `out`, in order; false when the
// payload ends in a partial entry (nothing is read past `size`).
bool ParseItemStatusPayload(const uint8_t* data, uint32_t size, std::vector<RestoreStatus>& out);
