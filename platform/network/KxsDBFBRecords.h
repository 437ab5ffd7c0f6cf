// The records of the database file-backup server's messages and their XDR
// form (KxXdr.h), as the platform's network layer encodes them according to
// the message type.
//
//   short record    DBFB_JOB_START_MSG, DBFB_JOB_STOP_MSG (declared 16)
//                   unsigned hyper job id, int status
//   request record  DBFB_NEXT_FILE_REQ_MSG, DBFB_JOB_COMPLETE_MSG (32)
//                   unsigned hyper job id, unsigned hyper thread id,
//                   int phase, int status, int channel
//   file record     DBFB_FILE_MSG (96)
//                   unsigned hyper job id, unsigned hyper thread id,
//                   string file name<4096>, unsigned hyper bytes,
//                   unsigned hyper files, int phase, string header<4096>,
//                   unsigned hyper sequence number
//   no record       DBFB_IGNORED_MSG (an empty body)
//
// An absent text (null) travels as the empty string. Decoding refuses a
// text above 4096 bytes or holding a NUL, a body that ends early and a body
// with bytes left over; it refuses a declared length smaller than the
// record. Decoded texts are kept by the caller's KxsDecodedTexts, which the
// record's pointers then name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : uint32_t {
  DBFB_JOB_START_MSG = 0x1200000b,
  DBFB_JOB_STOP_MSG = 0x1200000c,
  DBFB_NEXT_FILE_REQ_MSG = 0x1200000d,
  DBFB_JOB_COMPLETE_MSG = 0x1200000f,
  DBFB_IGNORED_MSG = 0x12000028,
  DBFB_FILE_MSG = 0x1200002e,
};

struct DBFB_ShortRecord {
  uint64_t jobId;
  int32_t status;
};

struct DBFB_RequestRecord {
  uint64_t jobId;
  uint64_t threadId;
  int32_t phase;
  int32_t status;
  int32_t channel;
};

struct DBFB_FileRecord {
  uint64_t jobId;
  uint64_t threadId;
  const char* fileName;
  uint64_t bytes;
  uint64_t files;
  int32_t phase;
  const char* header;
  uint64_t seqNum;
};

constexpr uint32_t kDBFBShortLength = 16;
constexpr uint32_t kDBFBRequestLength = 32;
constexpr uint32_t kDBFBFileLength = 96;
constexpr uint32_t kDBFBTextBound = 4096;
static_assert(sizeof(DBFB_ShortRecord) <= kDBFBShortLength, "short record outgrew its declared length");
static_assert(sizeof(DBFB_RequestRecord) <= kDBFBRequestLength, "request record outgrew its declared length");
static_assert(sizeof(DBFB_FileRecord) <= kDBFBFileLength, "file record outgrew its declared length");

enum KxsRecordKind { KXS_RECORD_UNKNOWN, KXS_RECORD_EMPTY, KXS_RECORD_SHORT, KXS_RECORD_REQUEST, KXS_RECORD_FILE };

// The record a message type carries; KXS_RECORD_UNKNOWN for a type of no
// record.
KxsRecordKind KxsRecordKindOf(uint64_t type);
// The display name of a message type ("DBFB_FILE_MSG"; "UNKNOWN_MSG" else).
const char* KXS_OraBackupRestore_PM_STRING(uint64_t type);

// Storage of a decoded file record's texts.
struct KxsDecodedTexts {
  std::string fileName;
  std::string header;
};

// Appends the XDR body of the record at `record` (declared length
// `length`) for `type`. False with `why` set for an unknown type, a declared
// length too small for the record or a text above the bound.
bool KxsEncodeRecord(uint64_t type, const void* record, uint32_t length, std::vector<uint8_t>& out,
                     std::string& why);
// Decodes `body` into the record at `record`; false with `why` set, the
// record then untouched.
bool KxsDecodeRecord(uint64_t type, const uint8_t* body, size_t size, void* record, uint32_t length,
                     KxsDecodedTexts& texts, std::string& why);
