// The pre-pipeline records handed to the archive, the signature-query module
// and the job performance manager, and the 96-byte archive tag header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ClSignatureRecords.h"
#include "KXOpenBackupServices/ArchiveTagHeader.h"

namespace backuptest {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// The header as the archive must store it: every named field, all else 0.
Bytes Expected(uint32_t type, uint32_t size, uint32_t second, uint32_t fileId, uint32_t compression, uint32_t flags) {
  Bytes bytes(kArchiveTagHeaderSize, 0);
  std::memcpy(bytes.data(), "TAGHD01", 8);  // with its NUL
  Put32(bytes, 32, type);
  Put32(bytes, 36, size);
  Put32(bytes, 40, second);
  Put32(bytes, 44, fileId);
  Put32(bytes, 48, 1);
  Put32(bytes, 60, compression);
  Put32(bytes, 72, flags);
  Put32(bytes, 80, fileId);
  return bytes;
}

_PipelineDataHdr PipelineHeader(uint32_t flags, uint32_t size, uint32_t second, uint32_t compression,
                                uint32_t encryption = 0) {
  _PipelineDataHdr header;
  header.uFlags = flags;
  header.uDataSize = size;
  header.uSecondSize = second;
  header.uCompressionType = compression;
  header.uEncryptionType = encryption;
  return header;
}

struct TagCase {
  const char* name;
  uint32_t type, argumentSize;
  bool withHeader;
  _PipelineDataHdr header;
  Bytes expected;
};

TEST(ArchiveTagHeaderTest, GoldenBytes) {
  const TagCase cases[] = {
      {"data block, compression 7", kArchiveBufferData, 1000, true, PipelineHeader(5, 1000, 4096, 7),
       Expected(2, 1000, 4096, 9, 7, 5)},
      {"data block, no compression", kArchiveBufferData, 1000, true, PipelineHeader(5, 1000, 4096, 0),
       Expected(2, 1000, 4096, 9, 0, 5)},
      {"signature tag", kArchiveBufferSignatureTag, 240, false, _PipelineDataHdr(), Expected(322, 240, 0, 9, 7, 0)},
      // The header's data size wins over the arguments'; bits above 4 of its flags stay out.
      {"header size and flag bits", kArchiveBufferData, 1, true, PipelineHeader(0xFA, 77, 0, 7),
       Expected(2, 77, 0, 9, 7, 2)},
      {"signature type with a header sets bit 1", kArchiveBufferSignatureTag, 240, true, PipelineHeader(4, 240, 0, 0),
       Expected(322, 240, 0, 9, 0, 5)},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes header(kArchiveTagHeaderSize, 0xEE);
    std::string refusal;
    EXPECT_EQ(0, EncodeArchiveTagHeader(c.type, c.argumentSize, c.withHeader ? &c.header : nullptr, 9, header.data(),
                                        &refusal));
    EXPECT_EQ(c.expected, header);
    EXPECT_EQ("", refusal);
  }
}

TEST(ArchiveTagHeaderTest, UnsupportedTypesAreRefusedBeforeAByteIsWritten) {
  const struct {
    _PipelineDataHdr header;
    const char* line;
  } cases[] = {
      {PipelineHeader(0, 10, 0, 3), "BKPAPI:[error] Unsupported Compression type(3)"},
      {PipelineHeader(0, 10, 0, 7, 2), "BKPAPI:[error] Unsupported Encryption type(2)"},
      {PipelineHeader(0, 10, 0, 0x10007), "BKPAPI:[error] Unsupported Compression type(65543)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Bytes header(kArchiveTagHeaderSize, 0xEE);
    std::string refusal;
    EXPECT_EQ(0x10000001, EncodeArchiveTagHeader(kArchiveBufferData, 10, &c.header, 9, header.data(), &refusal));
    EXPECT_EQ(Bytes(kArchiveTagHeaderSize, 0xEE), header);
    EXPECT_EQ(c.line, refusal);
  }
}

TEST(SignatureRecordsTest, NewRecordsHoldTheirFixedValues) {
  _PrePipelineDedupe_Config config;
  Bytes configBytes(sizeof config);
  std::memcpy(configBytes.data(), &config, sizeof config);
  Bytes expected(80, 0);
  uint32_t carried = 0x400000;
  std::memcpy(expected.data() + 48, &carried, 4);  // host order: the record never leaves the process as is
  EXPECT_EQ(expected, configBytes);

  _JobPerfCounter counter;
  EXPECT_EQ(10000u, counter.uGroup);
  EXPECT_EQ(0u, counter.uKind);
  SIDBQueryAndInsertSignaturesRequestParam request;
  const Bytes zero(sizeof request, 0);
  Bytes requestBytes(sizeof request);
  std::memcpy(requestBytes.data(), &request, sizeof request);
  EXPECT_EQ(zero, requestBytes);
}

TEST(SignatureRecordsTest, ResultIsNewOnlyWhenTheStoreLacksTheSignature) {
  SIDBQueryAndInsertSignaturesResponseParam response;
  response.uUniqueId = 41;
  for (uint8_t found : {0, 1, 2}) {
    response.uFound = found;
    const _PrePipelineDedupe_Result_Resp result = ResultForResponse(response);
    EXPECT_EQ(found == 0 ? 1u : 0u, result.uIsNew) << static_cast<int>(found);
    EXPECT_EQ(41u, result.uUniqueId);
    EXPECT_EQ(41u, result.uUniqueId2);
    EXPECT_EQ(0u, result.uZero12);
    EXPECT_EQ(0u, result.ullZero16);
  }
}

TEST(SignatureRecordsTest, JobCounterNames) {
  const struct {
    std::string name;
    std::string kept;
    bool terminated;
  } cases[] = {
      {"blocks sent", "blocks sent", true},
      {std::string(63, 'a'), std::string(63, 'a'), true},
      {std::string(64, 'b'), std::string(64, 'b'), false},
      {std::string(80, 'c'), std::string(64, 'c'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size());
    _PrePipelineDedupeperfCounter client;
    std::memcpy(client.name, c.name.data(), std::min(c.name.size(), sizeof client.name));
    client.uValue68 = 6;
    client.ullValue72 = 0x123456789ull;
    client.uValue80 = 8;
    const _JobPerfCounter job = JobCounterFor(client, 1700000000u);
    EXPECT_EQ(c.kept, std::string(job.name, strnlen(job.name, sizeof job.name)));
    EXPECT_EQ(c.terminated, job.name[sizeof job.name - 1] == '\0' && c.kept.size() < sizeof job.name);
    EXPECT_EQ(10002u, job.uKind);
    EXPECT_EQ(542u, job.uGroup);
    EXPECT_EQ(1700000000u, job.uTimeStamp);
    EXPECT_EQ(6u, job.uValue);
    EXPECT_EQ(8u, job.uValue2);
    EXPECT_EQ(0x123456789ull, job.ullValue);
  }
}

}  // namespace
}  // namespace backuptest
