// The 96-byte tag header that goes in front of every buffer the
// pre-pipeline manager hands to the archive (a data block, buffer type 2, or
// a signature tag, buffer type 322). It is a storage format: every byte is
// fixed, numbers are big-endian, and bytes not named below are 0.
//
//   0 "TAGHD01\0"  32 buffer type  36 data size  40 second size
//   44 archive file id  48 1  60 compression word  72 flags  80 file id again
//
// With a pipeline data header the sizes, the compression type and the flags
// come from it; without one the data size is the caller's, the second size
// 0, the compression type 7 and the flags 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ClPrePipelineRecords.h"

const size_t kArchiveTagHeaderSize = 96;
const uint32_t kArchiveBufferData = 2;
const uint32_t kArchiveBufferSignatureTag = 322;  // PL_FS_CLDEDUP
// The manager's failure result for a buffer the archive must not take.
const int kArchiveTagRefused = 0x10000001;

// Fills `header` for a buffer of `bufferType` and `dataSize` (the write
// arguments' two words) in the archive file `archiveFileId`. Returns 0, or
// kArchiveTagRefused without writing a byte when `pipelineHeader` names a
// compression type other than 0 and 7 or an encryption type other than 0;
// `refusal` (when given) then holds the log text naming the type.
int EncodeArchiveTagHeader(uint32_t bufferType, uint32_t dataSize, const _PipelineDataHdr* pipelineHeader,
                           uint32_t archiveFileId, uint8_t header[kArchiveTagHeaderSize], std::string* refusal);
