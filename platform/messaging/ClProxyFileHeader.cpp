#include "ClProxyFileHeader.h"

#include "ClProxySerializer.h"

namespace {

constexpr int kOk = ClProxySerializer::kSuccess;
constexpr int kShort = ClProxySerializer::kNotEnoughBytes;

}  // namespace

uint32_t ClProxyFileHeaderSerializer::getBufSize() const {
  return 4 + 4 + ClProxySerializer::getBufSize(name) + 9 * 8;
}

int ClProxyFileHeaderSerializer::serialize(void* buf, uint32_t bufSize, uint32_t& used) const {
  if (ClProxySerializer::getBufSize(name) == 0xFFFFFFFFu ||
      getBufSize() > ClProxySerializer::remaining(bufSize, used))
    return kShort;
  uint32_t cursor = used;
  ClProxySerializer::serialize(word1, buf, bufSize, cursor);
  ClProxySerializer::serialize(word2, buf, bufSize, cursor);
  ClProxySerializer::serialize(name, buf, bufSize, cursor);
  for (uint64_t value : {mode, uid, gid, size, ctime, mtime, atime, flags, offset})
    ClProxySerializer::serialize(value, buf, bufSize, cursor);
  used = cursor;
  return kOk;
}

int ClProxyFileHeaderSerializer::deserialize(const void* buf, uint32_t bufSize, uint32_t& used) {
  // The whole header must be there before the held one is touched: a
  // failure leaves it as it was, and a success decodes in place, reusing
  // the name's storage from header to header.
  const uint32_t left = ClProxySerializer::remaining(bufSize, used);
  if (left < 12) return kShort;
  uint32_t nameLength = 0, peek = used + 8;
  ClProxySerializer::deserialize(buf, bufSize, peek, nameLength);
  if (12ull + nameLength + 9 * 8 > left) return kShort;
  uint32_t cursor = used;
  ClProxySerializer::deserialize(buf, bufSize, cursor, word1);
  ClProxySerializer::deserialize(buf, bufSize, cursor, word2);
  ClProxySerializer::deserialize(buf, bufSize, cursor, name);
  for (uint64_t* number : {&mode, &uid, &gid, &size, &ctime, &mtime, &atime, &flags, &offset})
    ClProxySerializer::deserialize(buf, bufSize, cursor, *number);
  used = cursor;
  return kOk;
}
