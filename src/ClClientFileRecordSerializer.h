// ClClientFileRecordSerializer: an ordered list of client file records that
// packs them back to back into a buffer or unpacks them from a stream of
// buffers.
//
// deserialize may be fed a stream cut at any point: a record that the end of
// one buffer cuts is cached and completed by the next buffer. Every decoded
// record is made by the template record's newRecord, so the template's class
// decides theirs. Records stay in the list until fetchRecord hands them out
// or clearRecords deletes them. Statuses are those of ClClientFileRecord.h;
// an offset beyond the buffer is refused with status 6 before anything is
// read or written. Not thread-safe.
#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "ClClientFileRecord.h"

class ClClientFileRecordSerializer {
 public:
  // The template is a plain ClClientFileRecord.
  ClClientFileRecordSerializer();
  // The template is templateRecord.newRecord().
  explicit ClClientFileRecordSerializer(const ClClientFileRecord& templateRecord);
  virtual ~ClClientFileRecordSerializer();
  ClClientFileRecordSerializer(const ClClientFileRecordSerializer&) = delete;
  ClClientFileRecordSerializer& operator=(const ClClientFileRecordSerializer&) = delete;

  // Writes every record, in list order, from offset `usedBufSize`; on
  // success the offset moves past the last one. The records stay listed.
  virtual int serialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize);
  // Decodes buf from `usedBufSize` to `bufSize`, after any cached tail, and
  // appends the whole records. On success `usedBufSize` becomes: bufSize
  // (nothing cached before, input ends on a record boundary); the start of
  // the cut record (nothing cached before, input ends inside it); the length
  // of cached plus new bytes (a tail was cached, they end on a boundary);
  // bufSize (a tail was cached, they end inside a record). A decoding
  // failure deletes every listed record.
  virtual int deserialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize);
  // Sum of the records' sizes (0xFFFFFFFF when that does not fit 32 bits).
  virtual uint32_t getBufSize();
  // Appends the record and takes it over: the caller's pointer becomes null.
  virtual int insertRecord(ClClientFileRecord*& record);
  // Moves the front record to the caller, who owns it then; 9 when empty.
  virtual int fetchRecord(ClClientFileRecord*& record);
  // Deletes every listed record; the cache stays.
  virtual int clearRecords();

 private:
  // Makes `prevBuf` the `tailSize` bytes at `tail`; false when no memory.
  bool cacheTail(const char* tail, uint32_t tailSize);
  // Logs a decoding failure and deletes every listed record.
  int deserializeFailed(int status, uint32_t bufSize, uint32_t usedBufSize,
                        uint32_t lUsedBufSize);

  std::unique_ptr<ClClientFileRecord> templateRecord;
  ClMallocBlock prevBuf;  // bytes of a cut record; null when none
  uint32_t prevBufSize;
  std::list<std::unique_ptr<ClClientFileRecord>> recordList;
};
