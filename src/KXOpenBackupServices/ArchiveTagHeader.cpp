#include "ArchiveTagHeader.h"

#include <cstdio>
#include <cstring>

#include "ClProxyWire.h"

namespace {

const char kMagic[8] = {'T', 'A', 'G', 'H', 'D', '0', '1', '\0'};
const uint32_t kCompressionNone = 0;
const uint32_t kCompressionDefault = 7;

std::string Refused(const char* what, uint32_t type) {
  char text[96];
  std::snprintf(text, sizeof text, "BKPAPI:[error] Unsupported %s type(%u)", what, type);
  return text;
}

}  // namespace

int EncodeArchiveTagHeader(uint32_t bufferType, uint32_t dataSize, const _PipelineDataHdr* pipelineHeader,
                           uint32_t archiveFileId, uint8_t header[kArchiveTagHeaderSize], std::string* refusal) {
  // Checked before the first byte, so a refused buffer leaves the header as it was.
  if (pipelineHeader) {
    const uint32_t compression = pipelineHeader->uCompressionType;
    if (compression != kCompressionNone && compression != kCompressionDefault) {
      if (refusal) *refusal = Refused("Compression", compression);
      return kArchiveTagRefused;
    }
    if (pipelineHeader->uEncryptionType != 0) {
      if (refusal) *refusal = Refused("Encryption", pipelineHeader->uEncryptionType);
      return kArchiveTagRefused;
    }
  }

  std::memset(header, 0, kArchiveTagHeaderSize);
  std::memcpy(header, kMagic, sizeof kMagic);
  ClProxyWire::PutU32(header + 32, bufferType);
  ClProxyWire::PutU32(header + 44, archiveFileId);
  ClProxyWire::PutU32(header + 48, 1);
  ClProxyWire::PutU32(header + 80, archiveFileId);
  if (!pipelineHeader) {
    ClProxyWire::PutU32(header + 36, dataSize);
    ClProxyWire::PutU32(header + 60, kCompressionDefault);
    return 0;
  }
  uint32_t flags = 0;
  if (bufferType == kArchiveBufferSignatureTag || (pipelineHeader->uFlags & 1)) flags |= 1;
  flags |= pipelineHeader->uFlags & 6;
  ClProxyWire::PutU32(header + 72, flags);
  ClProxyWire::PutU32(header + 36, pipelineHeader->uDataSize);
  ClProxyWire::PutU32(header + 40, pipelineHeader->uSecondSize);
  ClProxyWire::PutU32(header + 60, pipelineHeader->uCompressionType & 0xFFFF);
  return 0;
}
