// The fixed-layout records of the signature exchange and the performance
// counters, as the pre-pipeline code hands them to the signature-query
// module and the job performance manager and takes them back. Numbers are
// in the host's byte order (only KXJobPerfManager turns a counter into
// network order); every size and offset is fixed and checked below. A
// constructed record is zero except where a comment says otherwise.
// "carried" fields mean nothing to this system and pass unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ClPrePipelineRecords.h"

// Initialisation parameters of the signature-query module (72 bytes).
struct _stSQueryInitParameters {
  uint64_t ullCarried0 = 0;            // 0: always 0 here
  const char* pClientName = nullptr;   // 8: as the archive's parameters give it
  bool bUseCacheDB = false;            // 16
  bool bUseSIDB = false;               // 17
  uint8_t pad18[2] = {};               // 18
  uint32_t uCacheDBSizeMB = 0;         // 20
  uint32_t uCopyId = 0;                // 24
  uint8_t pad28[4] = {};               // 28
  uint64_t ullJobId = 0;               // 32
  int32_t iCarried40 = 0;              // 40
  uint32_t uAppId = 0;                 // 44
  uint32_t uCarried48 = 0;             // 48
  uint32_t uCarried52 = 0;             // 52
  uint32_t uSIDBStoreId = 0;           // 56
  uint8_t pad60[4] = {};               // 60
  uint64_t ullCarried64 = 0;           // 64
};
typedef _stSQueryInitParameters stSQueryInitParameters;

// The primary record of a signature (152 bytes).
struct CPrimaryRecord {
  uint32_t uCarried0 = 0;              // 0
  uint32_t uFlags = 0;                 // 4: signature scheme | 0x40 in a request
  uint32_t uCarried8 = 0;              // 8
  uint32_t uTime = 0;                  // 12: low 32 bits of the request's time in seconds
  uint8_t signature[64] = {};          // 16
  uint32_t uCarried80 = 0;             // 80
  uint32_t uArchiveFileId = 0;         // 84
  uint32_t uCarried88 = 0;             // 88
  uint32_t uCarried92 = 0;             // 92
  uint32_t uFromQuery68 = 0;           // 96
  uint32_t uFromQuery80 = 0;           // 100: low 32 bits of the query's offset 80
  uint64_t ullCarried104 = 0;          // 104
  uint64_t ullFromQuery72 = 0;         // 112
  uint64_t ullCarried120 = 0;          // 120
  uint64_t ullCarried128 = 0;          // 128
  uint64_t ullCarried136 = 0;          // 136
  uint64_t ullCarried144 = 0;          // 144
};

// The secondary record of a signature (48 bytes), all carried.
struct CSecondaryRecord {
  uint32_t uCarried[4] = {};           // 0, 4, 8, 12
  uint64_t ullCarried[4] = {};         // 16, 24, 32, 40
};

// One query as handed to the signature-query module (192 bytes).
struct SIDBQueryAndInsertSignaturesRequestParam {
  uint32_t uUniqueId = 0;              // 0: the query's offset 88
  uint8_t pad4[4] = {};                // 4
  CPrimaryRecord primary;              // 8
  uint32_t uZero160 = 0;               // 160
  uint32_t uZero164 = 0;               // 164
  uint32_t uZero168 = 0;               // 168
  bool bUseCacheDB = false;            // 172
  uint8_t zero173[19] = {};            // 173
};

// One answer of the signature-query module (240 bytes).
struct SIDBQueryAndInsertSignaturesResponseParam {
  uint32_t uUniqueId = 0;              // 0: the key results and signature records find it by
  uint8_t uFound = 0;                  // 4: 0 means the block is new
  uint8_t uCarried5 = 0;               // 5
  uint8_t pad6[2] = {};                // 6
  CPrimaryRecord primary;              // 8
  CSecondaryRecord secondary;          // 160
  uint64_t ullCarried208 = 0;          // 208
  uint32_t uCarried216 = 0;            // 216
  uint32_t uCarried220 = 0;            // 220
  uint8_t carried224[16] = {};         // 224
};

// The module's element form of an answer (248 bytes): the answer, then 8
// carried bytes. Stored answers are kept in this form and handed out as
// their first 240 bytes.
struct _SignatureRespParam {
  SIDBQueryAndInsertSignaturesResponseParam response;  // 0
  uint64_t ullCarried240 = 0;                          // 240
};

// One performance counter of the client program (112 bytes).
struct _PrePipelineDedupeperfCounter {
  char name[64] = {};                  // 0: NUL-terminated when shorter
  uint32_t uCarried64 = 0;             // 64
  uint32_t uValue68 = 0;               // 68
  uint64_t ullValue72 = 0;             // 72
  uint32_t uValue80 = 0;               // 80
  uint8_t carried84[28] = {};          // 84
};

// One counter as handed to KXJobPerfManager (112 bytes). A new record is
// zero except offset 4, which is 10000.
struct _JobPerfCounter {
  uint32_t uKind = 0;                  // 0: 10002 for a client counter
  uint32_t uGroup = 10000;             // 4: 542 for a client counter
  uint32_t uTimeStamp = 0;             // 8
  uint32_t uValue = 0;                 // 12: the client counter's offset 68
  uint32_t uZero16 = 0;                // 16
  uint32_t uValue2 = 0;                // 20: the client counter's offset 80
  uint32_t uZero24 = 0;                // 24
  uint32_t uZero28 = 0;                // 28
  char name[64] = {};                  // 32: at most 64 bytes, no NUL when full
  uint64_t ullValue = 0;               // 96: the client counter's offset 72
  uint64_t ullZero104 = 0;             // 104
};

// The result returned to the client program for an answer: is-new is 1 when
// the store did not hold the signature.
inline _PrePipelineDedupe_Result_Resp ResultForResponse(const SIDBQueryAndInsertSignaturesResponseParam& response) {
  _PrePipelineDedupe_Result_Resp result;
  result.uUniqueId = response.uUniqueId;
  result.uIsNew = response.uFound == 0 ? 1 : 0;
  result.uUniqueId2 = response.uUniqueId;
  return result;
}

// A client counter as the job performance manager takes it, before its
// conversion to network order; `timeStamp` as the manager gives it.
inline _JobPerfCounter JobCounterFor(const _PrePipelineDedupeperfCounter& counter, uint32_t timeStamp) {
  _JobPerfCounter job;
  job.uKind = 10002;
  job.uGroup = 542;
  job.uTimeStamp = timeStamp;
  job.uValue = counter.uValue68;
  job.uValue2 = counter.uValue80;
  std::memcpy(job.name, counter.name, sizeof job.name);  // a 64-byte name keeps no NUL
  job.ullValue = counter.ullValue72;
  return job;
}

static_assert(sizeof(void*) == 8, "the module records hold 64-bit addresses");
static_assert(sizeof(_stSQueryInitParameters) == 72, "query parameters are 72 bytes");
static_assert(offsetof(_stSQueryInitParameters, pClientName) == 8, "parameters offset 8");
static_assert(offsetof(_stSQueryInitParameters, bUseSIDB) == 17, "parameters offset 17");
static_assert(offsetof(_stSQueryInitParameters, uCacheDBSizeMB) == 20, "parameters offset 20");
static_assert(offsetof(_stSQueryInitParameters, ullJobId) == 32, "parameters offset 32");
static_assert(offsetof(_stSQueryInitParameters, uAppId) == 44, "parameters offset 44");
static_assert(offsetof(_stSQueryInitParameters, uSIDBStoreId) == 56, "parameters offset 56");
static_assert(offsetof(_stSQueryInitParameters, ullCarried64) == 64, "parameters offset 64");
static_assert(sizeof(CPrimaryRecord) == 152, "primary record is 152 bytes");
static_assert(offsetof(CPrimaryRecord, signature) == 16, "primary offset 16");
static_assert(offsetof(CPrimaryRecord, uArchiveFileId) == 84, "primary offset 84");
static_assert(offsetof(CPrimaryRecord, uFromQuery68) == 96, "primary offset 96");
static_assert(offsetof(CPrimaryRecord, uFromQuery80) == 100, "primary offset 100");
static_assert(offsetof(CPrimaryRecord, ullFromQuery72) == 112, "primary offset 112");
static_assert(offsetof(CPrimaryRecord, ullCarried144) == 144, "primary offset 144");
static_assert(sizeof(CSecondaryRecord) == 48, "secondary record is 48 bytes");
static_assert(offsetof(CSecondaryRecord, ullCarried) == 16, "secondary offset 16");
static_assert(sizeof(SIDBQueryAndInsertSignaturesRequestParam) == 192, "request is 192 bytes");
static_assert(offsetof(SIDBQueryAndInsertSignaturesRequestParam, primary) == 8, "request offset 8");
static_assert(offsetof(SIDBQueryAndInsertSignaturesRequestParam, uZero160) == 160, "request offset 160");
static_assert(offsetof(SIDBQueryAndInsertSignaturesRequestParam, bUseCacheDB) == 172, "request offset 172");
static_assert(sizeof(SIDBQueryAndInsertSignaturesResponseParam) == 240, "response is 240 bytes");
static_assert(offsetof(SIDBQueryAndInsertSignaturesResponseParam, uFound) == 4, "response offset 4");
static_assert(offsetof(SIDBQueryAndInsertSignaturesResponseParam, primary) == 8, "response offset 8");
static_assert(offsetof(SIDBQueryAndInsertSignaturesResponseParam, secondary) == 160, "response offset 160");
static_assert(offsetof(SIDBQueryAndInsertSignaturesResponseParam, ullCarried208) == 208, "response offset 208");
static_assert(offsetof(SIDBQueryAndInsertSignaturesResponseParam, carried224) == 224, "response offset 224");
static_assert(sizeof(_SignatureRespParam) == 248, "response element is 248 bytes");
static_assert(sizeof(_PrePipelineDedupeperfCounter) == 112, "client counter is 112 bytes");
static_assert(offsetof(_PrePipelineDedupeperfCounter, uValue68) == 68, "client counter offset 68");
static_assert(offsetof(_PrePipelineDedupeperfCounter, ullValue72) == 72, "client counter offset 72");
static_assert(offsetof(_PrePipelineDedupeperfCounter, uValue80) == 80, "client counter offset 80");
static_assert(sizeof(_JobPerfCounter) == 112, "job counter is 112 bytes");
static_assert(offsetof(_JobPerfCounter, name) == 32, "job counter offset 32");
static_assert(offsetof(_JobPerfCounter, ullValue) == 96, "job counter offset 96");
static_assert(offsetof(_JobPerfCounter, ullZero104) == 104, "job counter offset 104");
