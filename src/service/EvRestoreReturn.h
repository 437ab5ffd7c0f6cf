// The result stream of a machine browse in stream mode: items go back to
// the requester over its socket, then, when there were any, a count record
// (tag 2323, the count as a u32 in the host's byte order, as the requesters
// read it), then the end record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EvReturnData.h"

class EvJobReturnData : public EvReturnData {
 public:
  EvJobReturnData(unsigned long code, long long sequence, const CWqSocket* socket, bool flag, CKxNetwork* network)
      : EvReturnData(code, sequence, socket, flag, network), m_llReserved(0) {}
  ~EvJobReturnData() override {}

 private:
  [[maybe_unused]] int64_t m_llReserved;  // set, not read
};

class EvRestoreReturn : public EvJobReturnData {
 public:
  // One browse item as returnItem writes it (u32 directory flag, u32 name
  // length, the name, u32 value, i64 size, four u32; big-endian).
  struct Item {
    uint32_t directory = 0;
    std::string name;
    uint32_t value = 0;
    int64_t size = 0;
  };
  static bool DecodeItem(const std::vector<uint8_t>& payload, Item& item);

  static const unsigned long kStreamCode = 1004;
  static const uint32_t kCountTag = 2323;
  static const size_t kSourcePathBytes = 1024;

  EvRestoreReturn(long long sequence, int type, bool flag, const CWqSocket* socket, CKxNetwork* network);
  ~EvRestoreReturn() override {}

  // Keeps at most 1023 characters of `path`.
  void setSourcePath(const char* path);
  const char* sourcePath() const { return m_szSourcePath; }
  // Adds one item to the stream and counts it.
  void returnItem(unsigned long directory, const char* name, unsigned long value, long long size, unsigned long a,
                  unsigned long b, unsigned long c, unsigned int d);
  // With items: the buffer, then the count record; always the end record.
  void end(long long code);
  int32_t itemCount() const { return m_iItemCount; }
  int32_t type() const { return m_iType; }

 private:
  int32_t m_iItemCount;
  [[maybe_unused]] int64_t m_llReserved;  // set, not read
  int32_t m_iType;
  char m_szSourcePath[kSourcePathBytes];
};
