#include "VMSClientFileRecord.h"

#include <cstring>

#include "FXLogWriter.h"

namespace {

constexpr uint32_t kMaxDataSize = 0xFFFF;

// Bytes that already end an OpenVMS record: line feed, vertical tab, form feed.
const unsigned char recordEnds[] = {0x0A, 0x0B, 0x0C};

bool IsRecordEnd(unsigned char byte) {
  for (unsigned char end : recordEnds)
    if (byte == end) return true;
  return false;
}

}  // namespace

VMSClientFileRecord::VMSClientFileRecord(unsigned long attributes)
    : ClClientFileRecord(),
      recordAttributes(attributes),
      needAddDivider(false),
      previousRecordHaveFVL(false),
      dividerAdded(false) {}

VMSClientFileRecord::~VMSClientFileRecord() {}

ClClientFileRecord* VMSClientFileRecord::newRecord() const {
  FX_LOG(5, "new record with (needAddDivider:%d previousRecordHaveFVL:%d",
         static_cast<int>(needAddDivider), static_cast<int>(previousRecordHaveFVL));
  VMSClientFileRecord* record = new VMSClientFileRecord(recordAttributes);
  record->needAddDivider = needAddDivider;
  record->previousRecordHaveFVL = previousRecordHaveFVL;
  return record;
}

int VMSClientFileRecord::getData(char*& d, uint16_t& dSize) {
  FX_LOG(12, "getData with (needAddDivider:%d previousRecordHaveFVL:%d dividerAdded:%d",
         static_cast<int>(needAddDivider), static_cast<int>(previousRecordHaveFVL),
         static_cast<int>(dividerAdded));
  if (!dividerAdded) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.get());
    if (size > 2) FX_LOG(5, "  0x%02X 0x%02X 0x%02X", bytes[0], bytes[1], bytes[2]);
    // Sizes are worked out in 32 bits: the data may not outgrow its 16-bit size.
    const uint32_t oldSize = size;
    switch (recordAttributes & 0xF) {
      case 1:
        // An empty record has no record end of its own, so it gets one too.
        if (oldSize > 0 && IsRecordEnd(bytes[oldSize - 1])) break;
        if (oldSize + 2 > kMaxDataSize) return CLIENT_FILE_RECORD_TOO_LARGE;
        appendDataWith("\r\n", 2);
        dividerAdded = true;
        break;
      case 2:
        if (oldSize + 1 > kMaxDataSize) return CLIENT_FILE_RECORD_TOO_LARGE;
        prependDataWith("\r", 1);
        dividerAdded = true;
        break;
      case 4:
      case 5:
        if (oldSize + 1 > kMaxDataSize) return CLIENT_FILE_RECORD_TOO_LARGE;
        prependDataWith("\n", 1);
        dividerAdded = true;
        break;
      case 6: {
        const bool odd = (oldSize & 1) != 0;
        if (oldSize + 2 + (odd ? 1 : 0) > kMaxDataSize) return CLIENT_FILE_RECORD_TOO_LARGE;
        // Low byte first, whatever the host's byte order.
        const char prefix[2] = {static_cast<char>(oldSize & 0xFF),
                                static_cast<char>((oldSize >> 8) & 0xFF)};
        prependDataWith(prefix, 2);
        if (odd) appendDataWith("\0", 1);
        dividerAdded = true;
        break;
      }
      default:
        break;
    }
  }
  d = data.get();
  dSize = size;
  return CLIENT_FILE_RECORD_OK;
}

void VMSClientFileRecord::previousRecordInfo(ClClientFileRecord*) {}

void VMSClientFileRecord::prependDataWith(const char* bytes, uint16_t count) {
  FX_LOG(12, "adding prependSize:%u", static_cast<unsigned>(count));
  FX_ASSUME(size + count <= 0xFFFF);
  if (count == 0 || size + count > 0xFFFF) return;
  ClMallocBlock block(static_cast<char*>(std::malloc(size + count)));
  if (!block) return;
  std::memcpy(block.get(), bytes, count);
  if (size != 0) std::memcpy(block.get() + count, data.get(), size);
  data = std::move(block);
  size = static_cast<uint16_t>(size + count);
}

void VMSClientFileRecord::appendDataWith(const char* bytes, uint16_t count) {
  FX_LOG(12, "adding appendSize:%u", static_cast<unsigned>(count));
  FX_ASSUME(size + count <= 0xFFFF);
  if (count == 0 || size + count > 0xFFFF) return;
  char* grown = static_cast<char*>(std::realloc(data.get(), size + count));
  if (grown == nullptr) {
    FX_LOG(1, "reallloc failed");
    return;
  }
  data.release();
  data.reset(grown);
  std::memcpy(grown + size, bytes, count);
  size = static_cast<uint16_t>(size + count);
}
