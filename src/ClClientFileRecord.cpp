#include "ClClientFileRecord.h"

#include <cstring>

#include "ClProxySerializer.h"
#include "FXLogWriter.h"

namespace {

constexpr int kOk = CLIENT_FILE_RECORD_OK;
constexpr int kShort = CLIENT_FILE_RECORD_NOT_ENOUGH_BYTES;

// The magic and the byte string's length field.
constexpr uint32_t kHeadSize = 4 + 2;

// Bytes after `usedBufSize`; 0 when the offset is at or past the end, so an
// offset beyond the buffer never wraps into a huge count.
uint32_t BytesLeft(uint32_t bufSize, uint32_t usedBufSize) {
  return ClProxySerializer::remaining(bufSize, usedBufSize);
}

}  // namespace

ClClientFileRecord::ClClientFileRecord()
    : index(0), initialized(false), magic(kMagic), data(), size(0) {}

ClClientFileRecord::~ClClientFileRecord() {}

ClClientFileRecord* ClClientFileRecord::newRecord() const { return new ClClientFileRecord(); }

int ClClientFileRecord::serialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize) {
  FX_ASSUME(initialized == true);
  FX_ASSUME(buf != __null);
  uint32_t lUsedBufSize = usedBufSize;
  uint32_t needBufSize = getBufSize();
  int status = kOk;
  // A null buffer has no room, whatever size it claims.
  if (buf == nullptr || usedBufSize > bufSize ||
      BytesLeft(bufSize, usedBufSize) < needBufSize) {
    FX_LOG_CAT(3, FX_LOG_CATEGORY_FILE_RECORD, "Not enough buffer to serialize record");
    status = kShort;
  } else {
    status = ClProxySerializer::serialize(magic, buf, bufSize, lUsedBufSize);
    if (status == kOk) status = ClProxySerializer::serialize(data.get(), size, buf, bufSize,
                                                             lUsedBufSize);
    if (status != kOk) FX_LOG(-1, "Failed to serialize data, status=%d", status);
  }
  if (status != kOk) {
    FX_LOG(-1,
           "Failed to serialize record, status=%d, dataSize=%d, bufSize=%d, usedBufSize=%d, "
           "lUsedBufSize=%d, needBufSize=%d",
           status, static_cast<int>(size), static_cast<int>(bufSize),
           static_cast<int>(usedBufSize), static_cast<int>(lUsedBufSize),
           static_cast<int>(needBufSize));
    return status;
  }
  FX_LOG_CAT(5, FX_LOG_CATEGORY_FILE_RECORD,
             "Serialized record, dataSize=%d, bufSize=%d, usedBufSize=%d, lUsedBufSize=%d",
             static_cast<int>(size), static_cast<int>(bufSize), static_cast<int>(usedBufSize),
             static_cast<int>(lUsedBufSize));
  usedBufSize = lUsedBufSize;
  return kOk;
}

int ClClientFileRecord::deserialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize) {
  FX_ASSUME(initialized == false);
  uint32_t lUsedBufSize = usedBufSize;
  char* read = nullptr;
  uint16_t readSize = 0;
  int status = kOk;
  if (buf == nullptr || BytesLeft(bufSize, usedBufSize) < kHeadSize) {
    status = kShort;
  } else {
    status = ClProxySerializer::deserialize(buf, bufSize, lUsedBufSize, magic);
    if (status == kOk && magic != kMagic) {
      FX_LOG(-1, "Invalid record magic=0x%x", magic);
      status = CLIENT_FILE_RECORD_BAD_MAGIC;
    } else if (status == kOk) {
      status = ClProxySerializer::deserialize(buf, bufSize, lUsedBufSize, read, readSize);
      if (status != kOk && status != kShort)
        FX_LOG(-1, "Failed to deserialize data, status=%d", status);
    }
  }

  if (status == kOk) {
    // Replaces whatever the record held, so nothing leaks.
    data.reset(read);
    size = readSize;
    initialized = true;
    FX_LOG_CAT(5, FX_LOG_CATEGORY_FILE_RECORD,
               "Deserialized record, dataSize=%d, bufSize=%d, usedBufSize=%d, lUsedBufSize=%d",
               static_cast<int>(size), static_cast<int>(bufSize), static_cast<int>(usedBufSize),
               static_cast<int>(lUsedBufSize));
    usedBufSize = lUsedBufSize;
    return kOk;
  }

  if (status == kShort) {
    FX_LOG_CAT(3, FX_LOG_CATEGORY_FILE_RECORD, "Not enough buffer to deserialize record");
  } else {
    FX_LOG(-1,
           "Failed to deserialize record, status=%d, dataSize=%d, bufSize=%d, usedBufSize=%d, "
           "lUsedBufSize=%d, needBufSize=%d",
           status, static_cast<int>(size), static_cast<int>(bufSize),
           static_cast<int>(usedBufSize), static_cast<int>(lUsedBufSize),
           static_cast<int>(kHeadSize + size));
  }
  data.reset();
  size = 0;
  initialized = false;
  return status;
}

uint32_t ClClientFileRecord::getBufSize() {
  FX_ASSUME(initialized == true);
  return kHeadSize + size;
}

int ClClientFileRecord::setData(char* d, uint16_t dSize) {
  FX_ASSUME(initialized == false);
  FX_ASSUME(d != __null);
  if (d == nullptr && dSize != 0) return CLIENT_FILE_RECORD_BAD_ARGUMENT;
  ClMallocBlock block;
  if (dSize != 0) {
    block.reset(static_cast<char*>(std::malloc(dSize)));
    if (!block) return CLIENT_FILE_RECORD_NO_MEMORY;
    // Copied before the old block goes, so d may point into it.
    std::memcpy(block.get(), d, dSize);
  }
  data = std::move(block);
  size = dSize;
  initialized = true;
  return kOk;
}

int ClClientFileRecord::getData(char*& d, uint16_t& dSize) {
  FX_ASSUME(initialized == true);
  FX_ASSUME(d == __null);
  FX_ASSUME(dSize == 0);
  d = data.get();
  dSize = size;
  return kOk;
}

int ClClientFileRecord::clearData() {
  initialized = false;
  data.reset();
  size = 0;
  return kOk;
}

void ClClientFileRecord::previousRecordInfo(ClClientFileRecord*) {}
