#include "ClProxySerializer.h"

#include <cstdlib>
#include <cstring>

#include "ClProxyWire.h"

using ClProxyWire::GetU16;
using ClProxyWire::GetU32;
using ClProxyWire::GetU64;
using ClProxyWire::PutU16;
using ClProxyWire::PutU32;
using ClProxyWire::PutU64;

namespace {

constexpr int kOk = ClProxySerializer::kSuccess;
constexpr int kShort = ClProxySerializer::kNotEnoughBytes;

uint8_t* At(void* buf, uint32_t offset) { return static_cast<uint8_t*>(buf) + offset; }
const uint8_t* At(const void* buf, uint32_t offset) {
  return static_cast<const uint8_t*>(buf) + offset;
}

bool Fits(uint32_t size, uint32_t offset, uint64_t need) {
  return need <= ClProxySerializer::remaining(size, offset);
}

// Reads a string item without touching the caller's offset; `consumed`
// receives its size. The one place that decodes the string kind.
int PeekString(const void* buf, uint32_t size, uint32_t offset, std::string& value,
               uint32_t& consumed) {
  if (!Fits(size, offset, 4)) return kShort;
  uint32_t length = GetU32(At(buf, offset));
  if (!Fits(size, offset + 4, length)) return kShort;
  value.assign(reinterpret_cast<const char*>(At(buf, offset + 4)), length);
  consumed = 4 + length;
  return kOk;
}

}  // namespace

int ClProxySerializer::serialize(int16_t value, void* buf, uint32_t size, uint32_t& offset) {
  return serialize(static_cast<uint16_t>(value), buf, size, offset);
}

int ClProxySerializer::serialize(uint16_t value, void* buf, uint32_t size, uint32_t& offset) {
  if (!Fits(size, offset, 2)) return kShort;
  PutU16(At(buf, offset), value);
  offset += 2;
  return kOk;
}

int ClProxySerializer::serialize(int32_t value, void* buf, uint32_t size, uint32_t& offset) {
  return serialize(static_cast<uint32_t>(value), buf, size, offset);
}

int ClProxySerializer::serialize(uint32_t value, void* buf, uint32_t size, uint32_t& offset) {
  if (!Fits(size, offset, 4)) return kShort;
  PutU32(At(buf, offset), value);
  offset += 4;
  return kOk;
}

int ClProxySerializer::serialize(int64_t value, void* buf, uint32_t size, uint32_t& offset) {
  return serialize(static_cast<uint64_t>(value), buf, size, offset);
}

int ClProxySerializer::serialize(uint64_t value, void* buf, uint32_t size, uint32_t& offset) {
  if (!Fits(size, offset, 8)) return kShort;
  PutU64(At(buf, offset), value);
  offset += 8;
  return kOk;
}

int ClProxySerializer::serialize(const std::string& value, void* buf, uint32_t size,
                                 uint32_t& offset) {
  if (!Fits(size, offset, 4ull + value.size())) return kShort;
  PutU32(At(buf, offset), static_cast<uint32_t>(value.size()));
  if (!value.empty()) std::memcpy(At(buf, offset + 4), value.data(), value.size());
  offset += 4 + static_cast<uint32_t>(value.size());
  return kOk;
}

int ClProxySerializer::serialize(const std::list<std::string>& value, void* buf, uint32_t size,
                                 uint32_t& offset) {
  uint32_t need = getBufSize(value);
  if (need == 0xFFFFFFFFu || !Fits(size, offset, need)) return kShort;
  uint32_t cursor = offset;
  serialize(static_cast<uint32_t>(value.size()), buf, size, cursor);
  for (const std::string& item : value) serialize(item, buf, size, cursor);
  offset = cursor;
  return kOk;
}

int ClProxySerializer::serialize(const void* data, uint16_t length, void* buf, uint32_t size,
                                 uint32_t& offset) {
  if (!Fits(size, offset, 2ull + length)) return kShort;
  PutU16(At(buf, offset), length);
  if (length) std::memcpy(At(buf, offset + 2), data, length);
  offset += 2u + length;
  return kOk;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   int16_t& value) {
  uint16_t raw = 0;
  int result = deserialize(buf, size, offset, raw);
  if (result == kOk) value = static_cast<int16_t>(raw);
  return result;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   uint16_t& value) {
  if (!Fits(size, offset, 2)) return kShort;
  value = GetU16(At(buf, offset));
  offset += 2;
  return kOk;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   int32_t& value) {
  uint32_t raw = 0;
  int result = deserialize(buf, size, offset, raw);
  if (result == kOk) value = static_cast<int32_t>(raw);
  return result;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   uint32_t& value) {
  if (!Fits(size, offset, 4)) return kShort;
  value = GetU32(At(buf, offset));
  offset += 4;
  return kOk;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   int64_t& value) {
  uint64_t raw = 0;
  int result = deserialize(buf, size, offset, raw);
  if (result == kOk) value = static_cast<int64_t>(raw);
  return result;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   uint64_t& value) {
  if (!Fits(size, offset, 8)) return kShort;
  value = GetU64(At(buf, offset));
  offset += 8;
  return kOk;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   std::string& value) {
  std::string decoded;
  uint32_t consumed = 0;
  int result = PeekString(buf, size, offset, decoded, consumed);
  if (result != kOk) return result;
  value.swap(decoded);
  offset += consumed;
  return kOk;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset,
                                   std::list<std::string>& value) {
  uint32_t cursor = offset;
  uint32_t count = 0;
  if (deserialize(buf, size, cursor, count) != kOk) return kShort;
  // Each string takes at least its 4-byte length: a count the bytes left
  // cannot hold is refused before anything is built.
  if (count > remaining(size, cursor) / 4) return kShort;
  std::list<std::string> decoded;
  for (uint32_t i = 0; i < count; ++i) {
    std::string item;
    if (deserialize(buf, size, cursor, item) != kOk) return kShort;
    decoded.push_back(std::move(item));
  }
  value.swap(decoded);
  offset = cursor;
  return kOk;
}

int ClProxySerializer::deserialize(const void* buf, uint32_t size, uint32_t& offset, char*& data,
                                   uint16_t& length) {
  if (!Fits(size, offset, 2)) return kShort;
  uint16_t n = GetU16(At(buf, offset));
  if (!Fits(size, offset + 2, n)) return kShort;
  char* block = nullptr;
  if (n) {
    block = static_cast<char*>(std::malloc(n));
    if (!block) return kShort;
    std::memcpy(block, At(buf, offset + 2), n);
  }
  data = block;
  length = n;
  offset += 2u + n;
  return kOk;
}

uint32_t ClProxySerializer::getBufSize(const std::string& value) {
  if (value.size() > 0xFFFFFFFFull - 4) return 0xFFFFFFFFu;
  return 4 + static_cast<uint32_t>(value.size());
}

uint32_t ClProxySerializer::getBufSize(const std::list<std::string>& value) {
  uint64_t total = 4;
  for (const std::string& item : value) {
    total += 4ull + item.size();
    if (total >= 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(total);
}
