// The fixed-layout records that the pre-pipeline messages carry between the
// proxy and a client program.
//
// In memory each record has the exact size and field offsets that the
// archive, the signature-query module and the backup phase expect, with
// numbers in the host's byte order. On the wire each numeric field is
// written big-endian at its width, in offset order, and each byte field
// (signatures, carried areas of unknown structure) as its bytes; the wire
// form of a record therefore has the same length as the record.
#pragma once

#include <cstddef>
#include <cstdint>

class ClProxyPayloadWriter;
class ClProxyPayloadReader;

// The pre-pipeline configuration of a backup (80 bytes). A new record is all
// zero except uCarried48, which is 0x400000.
struct _PrePipelineDedupe_Config {
  uint32_t uCompressionScheme = 0;     // 0
  uint32_t uCompressionLocation = 0;   // 4
  uint32_t uCarried8 = 0;              // 8
  uint32_t uCarried12 = 0;             // 12
  uint32_t uSignatureScheme = 0;       // 16
  uint32_t uSignatureLocation = 0;     // 20
  uint32_t uDedupeBlockSizeKB = 0;     // 24
  uint32_t uCarried28 = 0;             // 28
  uint64_t ullFlags = 0;               // 32; bit 0: the archive has query parameters
  uint32_t uSignaturesPerBatch = 0;    // 40
  uint32_t uQueryPort = 0;             // 44
  uint32_t uCarried48 = 0x400000;      // 48
  uint32_t uCarried52 = 0;             // 52
  uint32_t uCarried56 = 0;             // 56
  uint32_t uCarried60 = 0;             // 60
  uint64_t ullCarried64 = 0;           // 64
  uint64_t ullCarried72 = 0;           // 72
};
typedef _PrePipelineDedupe_Config PrePipelineDedupe_Config;

// One signature query of the client program (104 bytes).
struct _PrePipelineDedupe_Query {
  uint8_t signature[64] = {};          // 0
  uint8_t carried64[4] = {};           // 64
  uint32_t uValue68 = 0;               // 68
  uint64_t ullValue72 = 0;             // 72
  uint64_t ullValue80 = 0;             // 80
  uint32_t uUniqueId = 0;              // 88: the key of the query's answer
  uint8_t carried92[12] = {};          // 92
};

// One query result returned to the client program (24 bytes).
struct _PrePipelineDedupe_Result_Resp {
  uint32_t uUniqueId = 0;              // 0
  uint32_t uIsNew = 0;                 // 4: 1 when the store did not hold the signature
  uint32_t uUniqueId2 = 0;             // 8: the unique id again
  uint32_t uZero12 = 0;                // 12
  uint64_t ullZero16 = 0;              // 16
};

// The signature record that follows a new block (136 bytes).
struct _PrePipelineDedupe_Signature {
  uint8_t carried0[68] = {};           // 0
  uint32_t uUniqueId = 0;              // 68: the key of the stored answer
  uint8_t carried72[64] = {};          // 72
};
typedef _PrePipelineDedupe_Signature PrePipelineDedupe_Signature;

// The header of a pre-pipeline data block (56 bytes).
struct _PipelineDataHdr {
  uint32_t uFlags = 0;                 // 0
  uint32_t uDataSize = 0;              // 4
  uint32_t uSecondSize = 0;            // 8
  uint32_t uCompressionType = 0;       // 12: 0 none or 7
  uint32_t uEncryptionType = 0;        // 16: 0
  uint8_t carried20[36] = {};          // 20
};
typedef _PipelineDataHdr PipelineDataHdr;

// The client program's pre-pipeline capability. Only its first word is
// given a meaning: bit 0 set says the client can send pre-pipeline data.
struct COBClientConfig {
  uint32_t uCapabilities = 0;
};

static_assert(sizeof(_PrePipelineDedupe_Config) == 80, "config record is 80 bytes");
static_assert(offsetof(_PrePipelineDedupe_Config, uCarried48) == 48, "config offset 48");
static_assert(offsetof(_PrePipelineDedupe_Config, ullCarried72) == 72, "config offset 72");
static_assert(sizeof(_PrePipelineDedupe_Query) == 104, "query record is 104 bytes");
static_assert(offsetof(_PrePipelineDedupe_Query, uUniqueId) == 88, "query offset 88");
static_assert(sizeof(_PrePipelineDedupe_Result_Resp) == 24, "result record is 24 bytes");
static_assert(sizeof(_PrePipelineDedupe_Signature) == 136, "signature record is 136 bytes");
static_assert(offsetof(_PrePipelineDedupe_Signature, uUniqueId) == 68, "signature offset 68");
static_assert(sizeof(_PipelineDataHdr) == 56, "data header is 56 bytes");

// Wire codecs of the records. A decode failure marks the reader failed.
namespace ClPrePipelineWire {

constexpr uint32_t kConfigSize = 80;
constexpr uint32_t kQuerySize = 104;
constexpr uint32_t kResultSize = 24;
constexpr uint32_t kSignatureSize = 136;
constexpr uint32_t kDataHdrSize = 56;
constexpr uint32_t kCOBConfigSize = 4;

// Queries and results travel by the thousand: a whole list is written and
// read record by record at fixed offsets (kQuerySize, kResultSize bytes
// each) of one span, rather than field by field.
void Write(uint8_t* at, const _PrePipelineDedupe_Query& record);
void Read(const uint8_t* at, _PrePipelineDedupe_Query& record);
void Write(uint8_t* at, const _PrePipelineDedupe_Result_Resp& record);
void Read(const uint8_t* at, _PrePipelineDedupe_Result_Resp& record);

void Put(ClProxyPayloadWriter& out, const _PrePipelineDedupe_Config& record);
void Put(ClProxyPayloadWriter& out, const _PrePipelineDedupe_Signature& record);
void Put(ClProxyPayloadWriter& out, const _PipelineDataHdr& record);
void Put(ClProxyPayloadWriter& out, const COBClientConfig& record);

void Get(ClProxyPayloadReader& in, _PrePipelineDedupe_Config& record);
void Get(ClProxyPayloadReader& in, _PrePipelineDedupe_Signature& record);
void Get(ClProxyPayloadReader& in, _PipelineDataHdr& record);
void Get(ClProxyPayloadReader& in, COBClientConfig& record);

}  // namespace ClPrePipelineWire
