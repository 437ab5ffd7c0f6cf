#include <gtest/gtest.h>

#include <vector>

#include "ClProxyFileHeader.h"
#include "msg_test_util.h"

namespace {

ClProxyFileHeader SampleHeader() {
  ClProxyFileHeader h;
  h.word1 = 1;
  h.word2 = 2;
  h.name = "ab";
  h.mode = 0x81A4;
  h.uid = 3;
  h.gid = 4;
  h.size = 0x100000000ull;
  h.ctime = 5;
  h.mtime = 6;
  h.atime = 7;
  h.flags = 0x10000000041ull;
  h.offset = 8;
  return h;
}

bool SameHeader(const ClProxyFileHeader& a, const ClProxyFileHeader& b) {
  return a.word1 == b.word1 && a.word2 == b.word2 && a.name == b.name && a.mode == b.mode &&
         a.uid == b.uid && a.gid == b.gid && a.size == b.size && a.ctime == b.ctime &&
         a.mtime == b.mtime && a.atime == b.atime && a.flags == b.flags && a.offset == b.offset;
}

const std::vector<uint8_t> kGolden = BYTES(
    "\x00\x00\x00\x01"                   // word1
    "\x00\x00\x00\x02"                   // word2
    "\x00\x00\x00\x02" "ab"              // name
    "\x00\x00\x00\x00\x00\x00\x81\xA4"   // mode
    "\x00\x00\x00\x00\x00\x00\x00\x03"   // uid
    "\x00\x00\x00\x00\x00\x00\x00\x04"   // gid
    "\x00\x00\x00\x01\x00\x00\x00\x00"   // size
    "\x00\x00\x00\x00\x00\x00\x00\x05"   // ctime
    "\x00\x00\x00\x00\x00\x00\x00\x06"   // mtime
    "\x00\x00\x00\x00\x00\x00\x00\x07"   // atime
    "\x00\x00\x01\x00\x00\x00\x00\x41"   // flags
    "\x00\x00\x00\x00\x00\x00\x00\x08"); // offset

TEST(ClProxyFileHeaderTest, NewHeaderIsZeroWithEmptyName) {
  ClProxyFileHeaderSerializer s;
  ClProxyFileHeader h;
  s.getHeader(h);
  EXPECT_TRUE(SameHeader(ClProxyFileHeader(), h));
  EXPECT_EQ(0u, h.word1);
  EXPECT_TRUE(h.name.empty());
  EXPECT_EQ(84u, s.getBufSize());
}

TEST(ClProxyFileHeaderTest, SerializesToGoldenBytesOfExactlyBufSize) {
  ClProxyFileHeaderSerializer s;
  s.setHeader(SampleHeader());
  ASSERT_EQ(kGolden.size(), s.getBufSize());
  std::vector<uint8_t> buf(s.getBufSize() + 4, 0xEE);
  uint32_t used = 0;
  ASSERT_EQ(0, s.serialize(buf.data(), static_cast<uint32_t>(buf.size()), used));
  EXPECT_EQ(s.getBufSize(), used);
  EXPECT_EQ(kGolden, std::vector<uint8_t>(buf.begin(), buf.begin() + used));
  EXPECT_EQ(0xEE, buf[used]);  // nothing beyond

  ClProxyFileHeaderSerializer back;
  uint32_t read = 0;
  ASSERT_EQ(0, back.deserialize(kGolden.data(), static_cast<uint32_t>(kGolden.size()), read));
  EXPECT_EQ(kGolden.size(), read);
  ClProxyFileHeader h;
  back.getHeader(h);
  EXPECT_TRUE(SameHeader(SampleHeader(), h));
}

// The offset runs on: what follows the header is read from where it ended.
TEST(ClProxyFileHeaderTest, UsedIsARunningOffset) {
  ClProxyFileHeaderSerializer s;
  s.setHeader(SampleHeader());
  std::vector<uint8_t> buf(3 + s.getBufSize());
  uint32_t used = 3;
  ASSERT_EQ(0, s.serialize(buf.data(), static_cast<uint32_t>(buf.size()), used));
  EXPECT_EQ(buf.size(), used);
  ClProxyFileHeaderSerializer back;
  uint32_t read = 3;
  ASSERT_EQ(0, back.deserialize(buf.data(), static_cast<uint32_t>(buf.size()), read));
  EXPECT_EQ(buf.size(), read);
}

TEST(ClProxyFileHeaderTest, SerializeIntoShortBufferReturns6AndWritesNothing) {
  ClProxyFileHeaderSerializer s;
  s.setHeader(SampleHeader());
  std::vector<uint8_t> buf(s.getBufSize(), 0xEE);
  uint32_t used = 0;
  EXPECT_EQ(6, s.serialize(buf.data(), s.getBufSize() - 1, used));
  EXPECT_EQ(0u, used);
  EXPECT_EQ(std::vector<uint8_t>(buf.size(), 0xEE), buf);
}

// Cut anywhere before its end, the header does not decode, and the held
// header and the offset stay as they were. Each cut is a fresh heap block of
// exactly that size, so a read past it would be caught by the sanitizer.
TEST(ClProxyFileHeaderTest, TruncatedInputNeverDecodes) {
  ClProxyFileHeader previous;
  previous.name = "previous";
  for (size_t cut = 0; cut < kGolden.size(); ++cut) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[cut ? cut : 1]);
    std::memcpy(block.get(), kGolden.data(), cut);
    ClProxyFileHeaderSerializer s;
    s.setHeader(previous);
    uint32_t used = 0;
    EXPECT_NE(0, s.deserialize(block.get(), static_cast<uint32_t>(cut), used)) << cut;
    EXPECT_EQ(0u, used);
    ClProxyFileHeader h;
    s.getHeader(h);
    EXPECT_EQ("previous", h.name);
  }
}

TEST(ClProxyFileHeaderTest, NameLongerThanTheBufferIsRefused) {
  std::vector<uint8_t> forged = kGolden;
  forged[8] = 0x7F;  // name length 0x7F000002
  ClProxyFileHeaderSerializer s;
  uint32_t used = 0;
  EXPECT_NE(0, s.deserialize(forged.data(), static_cast<uint32_t>(forged.size()), used));
  forged = kGolden;
  forged[11] = 0x03;  // one more name byte than there is: the numbers run short
  EXPECT_NE(0, s.deserialize(forged.data(), static_cast<uint32_t>(forged.size()), used));
  EXPECT_EQ(0u, used);
}

TEST(ClProxyFileHeaderTest, ClearHeaderForgetsEverything) {
  ClProxyFileHeaderSerializer s;
  s.setHeader(SampleHeader());
  s.clearHeader();
  ClProxyFileHeader h;
  s.getHeader(h);
  EXPECT_TRUE(SameHeader(ClProxyFileHeader(), h));
}

}  // namespace
