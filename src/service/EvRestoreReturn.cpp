#include "EvRestoreReturn.h"

#include <cstring>
#include <vector>

#include "ClProxyWire.h"

EvRestoreReturn::EvRestoreReturn(long long sequence, int type, bool flag, const CWqSocket* socket, CKxNetwork* network)
    : EvJobReturnData(kStreamCode, sequence, socket, flag, network), m_iItemCount(0), m_llReserved(0), m_iType(type) {
  m_szSourcePath[0] = '\0';
}

void EvRestoreReturn::setSourcePath(const char* path) {
  std::strncpy(m_szSourcePath, path ? path : "", kSourcePathBytes - 1);
  m_szSourcePath[kSourcePathBytes - 1] = '\0';
}

void EvRestoreReturn::returnItem(unsigned long directory, const char* name, unsigned long value, long long size,
                                 unsigned long a, unsigned long b, unsigned long c, unsigned int d) {
  // u32 directory flag, u32 name length, name, u32 value, i64 size, u32 x4; big-endian.
  const uint32_t nameLength = name ? static_cast<uint32_t>(std::strlen(name)) : 0;
  std::vector<uint8_t> item(8 + nameLength + 4 + 8 + 16);
  uint8_t* p = item.data();
  ClProxyWire::PutU32(p, static_cast<uint32_t>(directory));
  ClProxyWire::PutU32(p + 4, nameLength);
  if (nameLength) std::memcpy(p + 8, name, nameLength);
  p += 8 + nameLength;
  ClProxyWire::PutU32(p, static_cast<uint32_t>(value));
  ClProxyWire::PutU64(p + 4, static_cast<uint64_t>(size));
  ClProxyWire::PutU32(p + 12, static_cast<uint32_t>(a));
  ClProxyWire::PutU32(p + 16, static_cast<uint32_t>(b));
  ClProxyWire::PutU32(p + 20, static_cast<uint32_t>(c));
  ClProxyWire::PutU32(p + 24, d);
  addItem(item);
  ++m_iItemCount;
}

void EvRestoreReturn::end(long long code) {
  if (m_iItemCount != 0) {
    dumpBuffer(9);
    const uint32_t count = static_cast<uint32_t>(m_iItemCount);
    send(kCountTag, &count, 4);
  }
  EvReturnData::end(code);
}

bool EvRestoreReturn::DecodeItem(const std::vector<uint8_t>& payload, Item& item) {
  if (payload.size() < 8) return false;
  const uint32_t nameLength = ClProxyWire::GetU32(payload.data() + 4);
  if (payload.size() != 8 + static_cast<size_t>(nameLength) + 28) return false;
  const uint8_t* p = payload.data();
  item.directory = ClProxyWire::GetU32(p);
  item.name.assign(reinterpret_cast<const char*>(p + 8), nameLength);
  p += 8 + nameLength;
  item.value = ClProxyWire::GetU32(p);
  item.size = static_cast<int64_t>(ClProxyWire::GetU64(p + 4));
  return true;
}
