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
  ClProxyFileHeader decoded;
  uint32_t cursor = used;
  int result = kOk;
  uint64_t* numbers[] = {&decoded.mode,  &decoded.uid,   &decoded.gid,
                         &decoded.size,  &decoded.ctime, &decoded.mtime,
                         &decoded.atime, &decoded.flags, &decoded.offset};
  if ((result = ClProxySerializer::deserialize(buf, bufSize, cursor, decoded.word1)) != kOk ||
      (result = ClProxySerializer::deserialize(buf, bufSize, cursor, decoded.word2)) != kOk ||
      (result = ClProxySerializer::deserialize(buf, bufSize, cursor, decoded.name)) != kOk)
    return result;
  for (uint64_t* number : numbers)
    if ((result = ClProxySerializer::deserialize(buf, bufSize, cursor, *number)) != kOk) return result;
  setHeader(decoded);
  used = cursor;
  return kOk;
}
