#include "ClClientFileRecordSerializer.h"

#include <cstring>

#include "FXLogWriter.h"

namespace {

constexpr int kOk = CLIENT_FILE_RECORD_OK;
constexpr int kShort = CLIENT_FILE_RECORD_NOT_ENOUGH_BYTES;

}  // namespace

ClClientFileRecordSerializer::ClClientFileRecordSerializer()
    : templateRecord(new ClClientFileRecord()), prevBuf(), prevBufSize(0), recordList() {}

ClClientFileRecordSerializer::ClClientFileRecordSerializer(const ClClientFileRecord& templ)
    : templateRecord(templ.newRecord()), prevBuf(), prevBufSize(0), recordList() {
  if (templateRecord) templateRecord->previousRecordInfo(nullptr);
}

ClClientFileRecordSerializer::~ClClientFileRecordSerializer() {
  templateRecord.reset();
  clearRecords();
  prevBuf.reset();
}

int ClClientFileRecordSerializer::serialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize) {
  FX_ASSUME(recordList.size() > 0);
  uint32_t lUsedBufSize = usedBufSize;
  int status = kOk;
  // An offset past the end is refused outright: the difference must not wrap.
  if (usedBufSize > bufSize || bufSize - usedBufSize < getBufSize()) {
    FX_LOG(-1, "%s", "( bufSize - usedBufSize ) >= getBufSize()");
    FX_LOG_CAT(3, FX_LOG_CATEGORY_FILE_RECORD, "Not enough buffer to serialize file data");
    status = kShort;
  } else {
    for (const std::unique_ptr<ClClientFileRecord>& record : recordList) {
      status = record->serialize(buf, bufSize, lUsedBufSize);
      if (status != kOk) {
        FX_LOG(-1, "Failed to serialize record,status=%d", status);
        break;
      }
    }
  }
  if (status != kOk) {
    FX_LOG(-1,
           "Failed to serialize file data,status=%d, numRecords=%ld, lUsedBufSize=%u, "
           "bufSize=%u, usedBufSize=%u",
           status, static_cast<long>(recordList.size()), lUsedBufSize, bufSize, usedBufSize);
    return status;
  }
  FX_LOG_CAT(5, FX_LOG_CATEGORY_FILE_RECORD,
             "Serialized file data, numRecords=%ld, bufSize=%u, usedBufSize=%u, lUsedBufSize=%u",
             static_cast<long>(recordList.size()), bufSize, usedBufSize, lUsedBufSize);
  FX_ASSUME(bufSize == lUsedBufSize);
  usedBufSize = lUsedBufSize;
  return kOk;
}

int ClClientFileRecordSerializer::deserialize(char* buf, uint32_t bufSize,
                                              uint32_t& usedBufSize) {
  // Records left unfetched are expected only while a tail is cached.
  if (!(recordList.empty() || (prevBuf && prevBufSize > 0)))
    FX_LOG(-1, "%s",
           "( recordList.size() == 0 ) || ( ( prevBuf != __null ) && ( prevBufSize > 0 ) )");

  // Arguments that would make the unread count wrap, or the cache outgrow
  // 32 bits, are refused before anything is read, cached or deleted.
  if (usedBufSize > bufSize || (buf == nullptr && bufSize != usedBufSize) ||
      static_cast<uint64_t>(prevBufSize) + (bufSize - usedBufSize) > 0xFFFFFFFFull) {
    FX_LOG(-1,
           "Failed to deserialize file data, status=%d, numRecords=%ld, prevBuf=%p, "
           "prevBufSize=%u, bufSize=%u, usedBufSize=%u, lUsedBufSize=%u",
           kShort, static_cast<long>(recordList.size()), static_cast<void*>(prevBuf.get()),
           prevBufSize, bufSize, usedBufSize, usedBufSize);
    return kShort;
  }

  char* lBuf = buf;
  uint32_t lBufSize = bufSize;
  uint32_t lUsedBufSize = usedBufSize;
  const bool hadCache = prevBuf != nullptr;
  if (hadCache) {
    FX_ASSUME(prevBufSize != 0);
    uint32_t added = bufSize - usedBufSize;
    if (added != 0) {
      char* grown = static_cast<char*>(std::realloc(prevBuf.get(), prevBufSize + added));
      if (grown == nullptr)
        return deserializeFailed(CLIENT_FILE_RECORD_NO_MEMORY, bufSize, usedBufSize,
                                 lUsedBufSize);
      prevBuf.release();
      prevBuf.reset(grown);
      std::memcpy(grown + prevBufSize, buf + usedBufSize, added);
      prevBufSize += added;
    }
    lBuf = prevBuf.get();
    lBufSize = prevBufSize;
    lUsedBufSize = 0;
  }

  // No unread bytes and nothing cached: no record.
  if (lUsedBufSize == lBufSize) {
    FX_LOG_CAT(4, FX_LOG_CATEGORY_FILE_RECORD,
               "Deserialized file data, numRecords=%ld, bufSize=%u, usedBufSize=%u, "
               "lUsedBufSize=%u",
               static_cast<long>(recordList.size()), bufSize, usedBufSize, lUsedBufSize);
    return kOk;
  }

  for (;;) {
    std::unique_ptr<ClClientFileRecord> record(templateRecord ? templateRecord->newRecord()
                                                              : nullptr);
    if (!record) {
      FX_LOG(-1, "Failed to allocate new record,status=%d", CLIENT_FILE_RECORD_NO_NEW_RECORD);
      return deserializeFailed(CLIENT_FILE_RECORD_NO_NEW_RECORD, bufSize, usedBufSize,
                               lUsedBufSize);
    }
    record->index = static_cast<uint32_t>(recordList.size());
    int status = record->deserialize(lBuf, lBufSize, lUsedBufSize);

    if (status == kOk) {
      templateRecord->previousRecordInfo(record.get());
      ClClientFileRecord* handOver = record.release();
      status = insertRecord(handOver);
      record.reset(handOver);  // still ours only when the list did not take it
      if (status != kOk) return deserializeFailed(status, bufSize, usedBufSize, lUsedBufSize);
      if (lUsedBufSize == lBufSize) {
        prevBuf.reset();
        prevBufSize = 0;
        FX_LOG_CAT(4, FX_LOG_CATEGORY_FILE_RECORD,
                   "Deserialized file data, numRecords=%ld, bufSize=%u, usedBufSize=%u, "
                   "lUsedBufSize=%u",
                   static_cast<long>(recordList.size()), bufSize, usedBufSize, lUsedBufSize);
        usedBufSize = lUsedBufSize;
        return kOk;
      }
      continue;
    }

    FX_ASSUME(lUsedBufSize < lBufSize);
    record.reset();
    if (status != kShort) {
      FX_LOG(-1, "Failed to deserialize record,status=%d", status);
      return deserializeFailed(status, bufSize, usedBufSize, lUsedBufSize);
    }

    // The input ends inside this record: keep its bytes for the next call
    // (a cache that holds nothing but this record stays as it is).
    if (hadCache && lBuf != prevBuf.get()) FX_LOG(-1, "%s", "lBuf == prevBuf");
    if (!(hadCache && lUsedBufSize == 0) &&
        !cacheTail(lBuf + lUsedBufSize, lBufSize - lUsedBufSize))
      return deserializeFailed(CLIENT_FILE_RECORD_NO_MEMORY, bufSize, usedBufSize,
                               lUsedBufSize);
    FX_LOG_CAT(4, FX_LOG_CATEGORY_FILE_RECORD,
               "Partial record existed in buffer, caching it, prevBufSize=%d, bufSize=%d, "
               "usedBufSize=%d, lUsedBufSize=%d",
               static_cast<int>(prevBufSize), static_cast<int>(bufSize),
               static_cast<int>(usedBufSize), static_cast<int>(lUsedBufSize));
    FX_LOG_CAT(4, FX_LOG_CATEGORY_FILE_RECORD,
               "Deserialized file data, numRecords=%ld, bufSize=%u, usedBufSize=%u, "
               "lUsedBufSize=%u",
               static_cast<long>(recordList.size()), bufSize, usedBufSize, lUsedBufSize);
    // Working on the old cache, every byte of buf is now in the new one.
    usedBufSize = hadCache ? bufSize : lUsedBufSize;
    return kOk;
  }
}

bool ClClientFileRecordSerializer::cacheTail(const char* tail, uint32_t tailSize) {
  // Copied before the old cache goes: the tail may lie inside it.
  ClMallocBlock block(static_cast<char*>(std::malloc(tailSize)));
  if (!block) return false;
  std::memcpy(block.get(), tail, tailSize);
  prevBuf = std::move(block);
  prevBufSize = tailSize;
  return true;
}

int ClClientFileRecordSerializer::deserializeFailed(int status, uint32_t bufSize,
                                                    uint32_t usedBufSize,
                                                    uint32_t lUsedBufSize) {
  FX_LOG(-1,
         "Failed to deserialize file data, status=%d, numRecords=%ld, prevBuf=%p, "
         "prevBufSize=%u, bufSize=%u, usedBufSize=%u, lUsedBufSize=%u",
         status, static_cast<long>(recordList.size()), static_cast<void*>(prevBuf.get()),
         prevBufSize, bufSize, usedBufSize, lUsedBufSize);
  // Records of earlier calls go too: the stream cannot be trusted past here.
  clearRecords();
  return status;
}

uint32_t ClClientFileRecordSerializer::getBufSize() {
  uint64_t total = 0;
  for (const std::unique_ptr<ClClientFileRecord>& record : recordList) {
    total += record->getBufSize();
    if (total >= 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(total);
}

int ClClientFileRecordSerializer::insertRecord(ClClientFileRecord*& record) {
  FX_ASSUME(record != __null);
  if (record == nullptr) return CLIENT_FILE_RECORD_BAD_ARGUMENT;
  recordList.emplace_back(record);
  record = nullptr;
  return kOk;
}

int ClClientFileRecordSerializer::fetchRecord(ClClientFileRecord*& record) {
  FX_ASSUME(record == __null);
  if (recordList.empty()) return CLIENT_FILE_RECORD_LIST_EMPTY;
  record = recordList.front().release();
  recordList.pop_front();
  return kOk;
}

int ClClientFileRecordSerializer::clearRecords() {
  recordList.clear();
  return kOk;
}
