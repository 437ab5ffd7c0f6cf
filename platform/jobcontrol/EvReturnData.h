// EvReturnData: the result stream of an out-of-job request, written back to
// the requester over the requester's own socket.
//
// The stream is a sequence of records, each: u32 tag, u32 length, then
// `length` payload bytes (tag and length big-endian). Items are buffered and
// go out when the buffer fills, is dumped or the stream ends; send() writes one
// record of the caller's bytes as they are; end() writes the end record
// (tag 0, an i64 code, big-endian) and ends the stream.
//
// Each write of the buffer to the requester must be done within
// TIMEOUT_REQUESTER_WRITE seconds (read at construction; 0: only what the
// socket takes at once), else it fails with ETIME. Write failures are kept:
// the first one is what failure() reports, and nothing more is written after
// it. EBADF without a requester socket.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CWqError.h"

class CWqSocket;
class CKxNetwork;

// One record of a result stream, as the requester reads it.
struct EvReturnRecord {
  uint32_t tag = 0;
  std::vector<uint8_t> payload;
};
// Splits a result stream's bytes into its records; false when the bytes end
// inside a record (the records before it are kept).
bool ParseReturnRecords(const std::vector<uint8_t>& bytes, std::vector<EvReturnRecord>& records);

class EvReturnData {
 public:
  static const uint32_t kEndTag = 0;
  static const uint32_t kItemTag = 1;
  // Buffered items go out once they hold this many bytes.
  static const size_t kFlushBytes = 64 * 1024;

  EvReturnData(unsigned long code, long long sequence, const CWqSocket* socket, bool flag, CKxNetwork* network);
  virtual ~EvReturnData();
  EvReturnData(const EvReturnData&) = delete;
  EvReturnData& operator=(const EvReturnData&) = delete;

  // Writes the buffered items; `reason` is the caller's and only logged.
  void dumpBuffer(int reason);
  // One record of `size` bytes under `tag`.
  void send(uint32_t tag, const void* data, uint32_t size);
  // Writes what is buffered, then the end record; later calls do nothing.
  void end(long long code);

  unsigned long code() const { return m_ulCode; }
  long long sequence() const { return m_llSequence; }
  bool ended() const { return m_bEnded; }
  const CWqError& failure() const { return m_failure; }

 protected:
  // Buffers one item record's payload.
  void addItem(const std::vector<uint8_t>& payload);

 private:
  void write(uint32_t tag, const uint8_t* data, uint32_t size);
  // All of `data` to the requester within the write limit.
  CWqError writeAll(const uint8_t* data, size_t size) const;

  unsigned long m_ulCode;
  long long m_llSequence;
  int m_iDescriptor;
  [[maybe_unused]] bool m_bFlag;               // the requester's; kept, not read here
  [[maybe_unused]] CKxNetwork* m_pNetwork;     // passed through
  const int m_iWriteSeconds;
  std::vector<uint8_t> m_buffer;
  bool m_bEnded = false;
  CWqError m_failure;
};
