// RestoreStatusList: the per-item results a restore client reported, in
// arrival order, with what the file stream needs to find its verdicts.
//
// Every record gets a serial (its arrival number, from 1) and keeps its
// origin: an entry of an item-status report, a failed-file report or a
// data-not-needed report. The oldest record is at the front.
//
// Verdicts: a record that concerns the file in progress. Every failed-file
// and data-not-needed record is one; an item-status record is one unless its
// status is kStatusRestored. Only verdicts are indexed by name, so
// FirstVerdictFor costs a hash and a logarithmic search, however many
// restored items (of this name or of others) are pending.
//
// Answers: an item-status or failed-file record ends what the client has
// to say about a file (data-not-needed does not: the client still answers
// the file's end). StartFile/EndFile tell the list which file is in
// progress and whether its end waits for an answer; AwaitsAnswer tells
// whether an earlier file of a name still waits for one, which a later file
// of the same name must not take as its own.
//
// The list takes no lock: its owner guards it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One per-item result.
struct RestoreStatus {
  enum Origin { kItemStatus, kFailedFile, kDataNotNeeded };

  std::string itemName;
  uint32_t itemStatus = 0;
  std::string itemMessage;
  uint64_t itemValue = 0;
  Origin origin = kItemStatus;

  // Whether the client no longer needs the file's data.
  bool DataNotNeeded() const;
  // Whether it is a verdict on the file it names (see above).
  bool IsVerdict() const;
  // Whether it ends what the client has to say about the file.
  bool IsAnswer() const { return origin != kDataNotNeeded && !DataNotNeeded(); }
};

const uint32_t kStatusRestored = 5;
const uint32_t kStatusDataNotNeeded = 600;

class RestoreStatusList {
 public:
  // The serial the next record will get.
  uint64_t NextSerial() const { return m_uNextSerial; }
  void Append(const RestoreStatus& status);

  bool Empty() const { return m_records.empty(); }
  size_t Size() const { return m_records.size(); }
  // Verdicts in the list; the one reading that needs no lock (a check after
  // every block reads it).
  size_t VerdictCount() const { return m_verdictCount.load(std::memory_order_acquire); }

  // The oldest record; null when the list is empty.
  const RestoreStatus* Front(uint64_t& serial) const;
  // The oldest verdict of `name` with a serial of at least `fromSerial`;
  // null when there is none. Valid until the list changes.
  const RestoreStatus* FirstVerdictFor(const std::string& name, uint64_t fromSerial, uint64_t& serial) const;
  void Remove(uint64_t serial);

  // The file whose records arrive from now on; returns its first serial.
  uint64_t StartFile(const std::string& name);
  // The file in progress ended; `answerExpected` when the client answers
  // its end. Nothing is awaited when an answer came already.
  void EndFile(bool answerExpected);
  // Whether an earlier file of `name` still waits for its answer.
  bool AwaitsAnswer(const std::string& name) const { return m_awaiting.count(name) != 0; }

 private:
  std::map<uint64_t, RestoreStatus> m_records;                      // by serial: arrival order
  std::unordered_map<std::string, std::set<uint64_t>> m_verdicts;  // serials of each name's verdicts
  std::atomic<size_t> m_verdictCount{0};
  std::unordered_set<std::string> m_awaiting;                       // names of ended files without an answer
  std::string m_currentName;
  bool m_bCurrentOpen = false;
  bool m_bCurrentAnswered = false;
  uint64_t m_uNextSerial = 1;
};

// An ITEM_STATUS_MSG payload: entries of (string name, string message, u32
// status, u64 value), in the channel's item encoding, back to back with no
// count. Appends every whole entry to `out`, in order; false when the
// payload ends in a partial entry (nothing is read past `size`).
bool ParseItemStatusPayload(const uint8_t* data, uint32_t size, std::vector<RestoreStatus>& out);
