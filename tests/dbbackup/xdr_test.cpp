// The XDR items and records: hand-written golden bytes on every build (the
// big-endian one included), and on x86 the same records made by libtirpc.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KxXdr.h"
#include "KxsDBFBRecords.h"

#ifdef PROXY_HAVE_TIRPC
#include <rpc/xdr.h>
#endif

namespace {

std::vector<uint8_t> Encode(uint64_t type, const void* record, uint32_t length) {
  std::vector<uint8_t> out;
  std::string why;
  EXPECT_TRUE(KxsEncodeRecord(type, record, length, out, why)) << why;
  return out;
}

DBFB_FileRecord SampleFile() {
  DBFB_FileRecord file{};
  file.jobId = 0x0102030405060708ull;
  file.threadId = 0x1122;
  file.fileName = "/db/a.dat";
  file.bytes = 2048;
  file.files = 1;
  file.phase = -1;
  file.header = "DB01";
  file.seqNum = 0xfffffffffffffffeull;
  return file;
}

TEST(DBFBXdr, GoldenBytes) {
  DBFB_ShortRecord start{};
  start.jobId = 0x0102030405060708ull;
  start.status = -2;
  EXPECT_EQ(std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 0xff, 0xff, 0xff, 0xfe}),
            Encode(DBFB_JOB_START_MSG, &start, kDBFBShortLength));

  DBFB_RequestRecord request{};
  request.jobId = 7;
  request.threadId = 0x80000000u;
  request.phase = 1;
  request.status = 2;
  request.channel = 3;
  EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0,
                                  0, 3}),
            Encode(DBFB_NEXT_FILE_REQ_MSG, &request, kDBFBRequestLength));

  const DBFB_FileRecord file = SampleFile();
  EXPECT_EQ(std::vector<uint8_t>({1,   2,   3,   4,   5,   6,   7,   8,    0,    0,    0,    0,    0,    0,
                                  0x11, 0x22, 0, 0,   0,   9,   '/', 'd',  'b',  '/',  'a',  '.',  'd',  'a',
                                  't', 0,   0,   0,   0,   0,   0,   0,    0,    0,    8,    0,    0,    0,
                                  0,   0,   0,   0,   0,   1,   0xff, 0xff, 0xff, 0xff, 0,    0,    0,    4,
                                  'D', 'B', '0', '1', 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe}),
            Encode(DBFB_FILE_MSG, &file, kDBFBFileLength));
  EXPECT_TRUE(Encode(DBFB_IGNORED_MSG, nullptr, 0).empty());
}

TEST(DBFBXdr, RoundTripAndRefusals) {
  const DBFB_FileRecord file = SampleFile();
  const std::vector<uint8_t> bytes = Encode(DBFB_FILE_MSG, &file, kDBFBFileLength);
  DBFB_FileRecord back{};
  KxsDecodedTexts texts;
  std::string why;
  ASSERT_TRUE(KxsDecodeRecord(DBFB_FILE_MSG, bytes.data(), bytes.size(), &back, kDBFBFileLength, texts, why)) << why;
  EXPECT_EQ(file.jobId, back.jobId);
  EXPECT_STREQ("/db/a.dat", back.fileName);
  EXPECT_STREQ("DB01", back.header);
  EXPECT_EQ(file.seqNum, back.seqNum);
  EXPECT_EQ(-1, back.phase);

  struct Refusal {
    const char* name;
    std::vector<uint8_t> body;
    uint32_t length;
  };
  std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 1);
  std::vector<uint8_t> extra = bytes;
  extra.push_back(0);
  std::vector<uint8_t> huge = bytes;
  huge[16] = 0x7f;  // the name's length: far above the bytes there are
  std::vector<uint8_t> nul = bytes;
  nul[21] = 0;  // a NUL inside the name
  const std::vector<Refusal> refusals = {{"cut", cut, kDBFBFileLength},
                                         {"bytes left over", extra, kDBFBFileLength},
                                         {"length above everything", huge, kDBFBFileLength},
                                         {"NUL inside", nul, kDBFBFileLength},
                                         {"declared length too small", bytes, kDBFBRequestLength}};
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    DBFB_FileRecord untouched{};
    untouched.jobId = 99;
    EXPECT_FALSE(KxsDecodeRecord(DBFB_FILE_MSG, r.body.data(), r.body.size(), &untouched, r.length, texts, why));
    EXPECT_EQ(99u, untouched.jobId);
  }

  // A text of 4096 bytes passes, one more does not, either way.
  std::string name(kDBFBTextBound, 'n');
  DBFB_FileRecord big = SampleFile();
  big.fileName = name.c_str();
  std::vector<uint8_t> out;
  EXPECT_TRUE(KxsEncodeRecord(DBFB_FILE_MSG, &big, kDBFBFileLength, out, why));
  EXPECT_TRUE(KxsDecodeRecord(DBFB_FILE_MSG, out.data(), out.size(), &back, kDBFBFileLength, texts, why));
  name += 'n';
  big.fileName = name.c_str();
  out.clear();
  EXPECT_FALSE(KxsEncodeRecord(DBFB_FILE_MSG, &big, kDBFBFileLength, out, why));
  EXPECT_TRUE(out.empty());
  std::vector<uint8_t> over;
  KxXdrWriter writer(over);
  writer.PutUint64(1);
  writer.PutUint64(2);
  writer.PutString(name.data(), name.size(), 1u << 20);
  EXPECT_FALSE(KxsDecodeRecord(DBFB_FILE_MSG, over.data(), over.size(), &back, kDBFBFileLength, texts, why));
}

#ifdef PROXY_HAVE_TIRPC

// The three records as libtirpc's xdr_* routines make them.
std::vector<uint8_t> TirpcFile(const DBFB_FileRecord& file) {
  std::vector<uint8_t> buffer(16384);
  XDR xdr;
  xdrmem_create(&xdr, reinterpret_cast<char*>(buffer.data()), buffer.size(), XDR_ENCODE);
  u_quad_t jobId = file.jobId, threadId = file.threadId, bytes = file.bytes, files = file.files, seq = file.seqNum;
  int phase = file.phase;
  char* name = const_cast<char*>(file.fileName);
  char* header = const_cast<char*>(file.header);
  EXPECT_TRUE(xdr_u_quad_t(&xdr, &jobId) && xdr_u_quad_t(&xdr, &threadId) && xdr_string(&xdr, &name, 4096) &&
              xdr_u_quad_t(&xdr, &bytes) && xdr_u_quad_t(&xdr, &files) && xdr_int(&xdr, &phase) &&
              xdr_string(&xdr, &header, 4096) && xdr_u_quad_t(&xdr, &seq));
  buffer.resize(xdr_getpos(&xdr));
  xdr_destroy(&xdr);
  return buffer;
}

TEST(DBFBXdr, SameBytesAsLibtirpc) {
  DBFB_FileRecord file = SampleFile();
  for (const char* name : {"", "a", "ab", "abc", "abcd", "/db/a.dat"}) {
    SCOPED_TRACE(name);
    file.fileName = name;
    EXPECT_EQ(TirpcFile(file), Encode(DBFB_FILE_MSG, &file, kDBFBFileLength));
  }

  std::vector<uint8_t> buffer(64);
  XDR xdr;
  xdrmem_create(&xdr, reinterpret_cast<char*>(buffer.data()), buffer.size(), XDR_ENCODE);
  u_quad_t jobId = 0x8000000000000001ull, threadId = 42;
  int phase = 0, status = -7, channel = 2;
  ASSERT_TRUE(xdr_u_quad_t(&xdr, &jobId) && xdr_u_quad_t(&xdr, &threadId) && xdr_int(&xdr, &phase) &&
              xdr_int(&xdr, &status) && xdr_int(&xdr, &channel));
  buffer.resize(xdr_getpos(&xdr));
  xdr_destroy(&xdr);
  DBFB_RequestRecord request{jobId, threadId, phase, status, channel};
  EXPECT_EQ(buffer, Encode(DBFB_JOB_COMPLETE_MSG, &request, kDBFBRequestLength));

  buffer.assign(64, 0);
  xdrmem_create(&xdr, reinterpret_cast<char*>(buffer.data()), buffer.size(), XDR_ENCODE);
  ASSERT_TRUE(xdr_u_quad_t(&xdr, &jobId) && xdr_int(&xdr, &status));
  buffer.resize(xdr_getpos(&xdr));
  xdr_destroy(&xdr);
  DBFB_ShortRecord shortRecord{jobId, status};
  EXPECT_EQ(buffer, Encode(DBFB_JOB_STOP_MSG, &shortRecord, kDBFBShortLength));
}

#endif

}  // namespace
