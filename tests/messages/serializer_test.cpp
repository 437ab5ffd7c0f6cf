#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <string>
#include <vector>

#include "ClProxySerializer.h"
#include "msg_test_util.h"

namespace {

constexpr int kShort = ClProxySerializer::kNotEnoughBytes;

TEST(ClProxySerializerTest, WritesEveryItemKindBigEndian) {
  std::vector<uint8_t> buf(64, 0xEE);
  uint32_t size = static_cast<uint32_t>(buf.size());
  uint32_t offset = 0;
  const char bytes[] = {'\x01', '\x02'};
  EXPECT_EQ(0, ClProxySerializer::serialize(static_cast<uint16_t>(0x1234), buf.data(), size, offset));
  EXPECT_EQ(0, ClProxySerializer::serialize(static_cast<int32_t>(-2), buf.data(), size, offset));
  EXPECT_EQ(0, ClProxySerializer::serialize(static_cast<uint64_t>(0x0102030405060708ull), buf.data(),
                                            size, offset));
  EXPECT_EQ(0, ClProxySerializer::serialize(std::string("hi"), buf.data(), size, offset));
  EXPECT_EQ(0, ClProxySerializer::serialize(std::list<std::string>{"a", ""}, buf.data(), size,
                                            offset));
  EXPECT_EQ(0, ClProxySerializer::serialize(bytes, 2, buf.data(), size, offset));
  std::vector<uint8_t> expected = BYTES(
      "\x12\x34"
      "\xFF\xFF\xFF\xFE"
      "\x01\x02\x03\x04\x05\x06\x07\x08"
      "\x00\x00\x00\x02" "hi"
      "\x00\x00\x00\x02" "\x00\x00\x00\x01" "a" "\x00\x00\x00\x00"
      "\x00\x02\x01\x02");
  ASSERT_EQ(expected.size(), offset);
  EXPECT_EQ(expected, std::vector<uint8_t>(buf.begin(), buf.begin() + offset));

  // The sizes callers rely on.
  EXPECT_EQ(2u, ClProxySerializer::getBufSize(static_cast<uint16_t>(0)));
  EXPECT_EQ(4u, ClProxySerializer::getBufSize(static_cast<uint32_t>(0)));
  EXPECT_EQ(8u, ClProxySerializer::getBufSize(static_cast<uint64_t>(0)));
  EXPECT_EQ(2u + 5u, ClProxySerializer::getBufSize(bytes, 5));
  EXPECT_EQ(4u + 2u, ClProxySerializer::getBufSize(std::string("hi")));
  EXPECT_EQ(4u + 5u + 4u, ClProxySerializer::getBufSize(std::list<std::string>{"a", ""}));
}

TEST(ClProxySerializerTest, ReadsBackWhatItWrote) {
  std::vector<uint8_t> buf(128);
  uint32_t size = static_cast<uint32_t>(buf.size());
  uint32_t w = 0;
  const char bytes[] = {'x', '\0', 'y'};
  ClProxySerializer::serialize(static_cast<int16_t>(-3), buf.data(), size, w);
  ClProxySerializer::serialize(static_cast<uint32_t>(0xCAFEBABE), buf.data(), size, w);
  ClProxySerializer::serialize(static_cast<int64_t>(-5), buf.data(), size, w);
  ClProxySerializer::serialize(std::string("a\0b", 3), buf.data(), size, w);
  ClProxySerializer::serialize(std::list<std::string>{"one", "two"}, buf.data(), size, w);
  ClProxySerializer::serialize(bytes, 3, buf.data(), size, w);

  uint32_t r = 0;
  int16_t i16 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  std::string s;
  std::list<std::string> list{"stale"};
  char* data = nullptr;
  uint16_t length = 0;
  EXPECT_EQ(0, ClProxySerializer::deserialize(buf.data(), w, r, i16));
  EXPECT_EQ(0, ClProxySerializer::deserialize(buf.data(), w, r, u32));
  EXPECT_EQ(0, ClProxySerializer::deserialize(buf.data(), w, r, i64));
  EXPECT_EQ(0, ClProxySerializer::deserialize(buf.data(), w, r, s));
  EXPECT_EQ(0, ClProxySerializer::deserialize(buf.data(), w, r, list));
  EXPECT_EQ(0, ClProxySerializer::deserialize(buf.data(), w, r, data, length));
  EXPECT_EQ(w, r);
  EXPECT_EQ(-3, i16);
  EXPECT_EQ(0xCAFEBABEu, u32);
  EXPECT_EQ(-5, i64);
  EXPECT_EQ(std::string("a\0b", 3), s);
  EXPECT_EQ((std::list<std::string>{"one", "two"}), list);  // replaced, not extended
  ASSERT_EQ(3, length);
  EXPECT_EQ(0, std::memcmp(data, bytes, 3));
  std::free(data);
}

// Every writer refuses a buffer one byte short, and writes nothing.
TEST(ClProxySerializerTest, WriterOneByteShortReturns6AndWritesNothing) {
  const char bytes[] = {'a', 'b', 'c'};
  struct Case {
    const char* name;
    uint32_t need;
    int (*write)(void*, uint32_t, uint32_t&);
  } cases[] = {
      {"u16", 2, [](void* b, uint32_t n, uint32_t& o) { return ClProxySerializer::serialize(static_cast<uint16_t>(1), b, n, o); }},
      {"i32", 4, [](void* b, uint32_t n, uint32_t& o) { return ClProxySerializer::serialize(static_cast<int32_t>(1), b, n, o); }},
      {"u64", 8, [](void* b, uint32_t n, uint32_t& o) { return ClProxySerializer::serialize(static_cast<uint64_t>(1), b, n, o); }},
      {"string", 7, [](void* b, uint32_t n, uint32_t& o) { return ClProxySerializer::serialize(std::string("abc"), b, n, o); }},
      {"list", 14, [](void* b, uint32_t n, uint32_t& o) { return ClProxySerializer::serialize(std::list<std::string>{"ab", ""}, b, n, o); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(c.need + 3, 0xEE);
    uint32_t offset = 3;  // running offset: room is counted from there
    EXPECT_EQ(kShort, c.write(buf.data(), c.need + 3 - 1, offset)) << c.name;
    EXPECT_EQ(3u, offset) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(buf.size(), 0xEE), buf) << c.name;
    EXPECT_EQ(0, c.write(buf.data(), c.need + 3, offset)) << c.name;
    EXPECT_EQ(c.need + 3, offset) << c.name;
  }
  std::vector<uint8_t> buf(5, 0xEE);
  uint32_t offset = 1;
  EXPECT_EQ(kShort, ClProxySerializer::serialize(bytes, 3, buf.data(), 5, offset));
  EXPECT_EQ(1u, offset);
  // An offset already past the end leaves no room at all.
  offset = 9;
  EXPECT_EQ(kShort, ClProxySerializer::serialize(static_cast<uint16_t>(1), buf.data(), 5, offset));
  EXPECT_EQ(9u, offset);
}

// Every reader refuses input that ends inside its item, at every cut, and
// leaves offset and value alone.
TEST(ClProxySerializerTest, ReaderOnTruncatedInputReturns6) {
  std::vector<uint8_t> buf(64);
  uint32_t size = static_cast<uint32_t>(buf.size());
  uint32_t full = 0;
  ClProxySerializer::serialize(std::list<std::string>{"ab", "cde"}, buf.data(), size, full);
  for (uint32_t cut = 0; cut < full; ++cut) {
    uint32_t offset = 0;
    std::list<std::string> list{"keep"};
    EXPECT_EQ(kShort, ClProxySerializer::deserialize(buf.data(), cut, offset, list)) << cut;
    EXPECT_EQ(0u, offset);
    EXPECT_EQ(std::list<std::string>{"keep"}, list);
    std::string s = "keep";
    uint32_t stringEnd = 4 + 4 + 2;  // count, then the first string
    if (cut < stringEnd) {
      offset = 4;
      EXPECT_EQ(kShort, ClProxySerializer::deserialize(buf.data(), cut, offset, s)) << cut;
      EXPECT_EQ("keep", s);
    }
  }
  for (uint32_t cut = 0; cut < 8; ++cut) {
    uint32_t offset = 0;
    uint64_t u64 = 7;
    uint32_t u32 = 7;
    uint16_t u16 = 7;
    EXPECT_EQ(kShort, ClProxySerializer::deserialize(buf.data(), cut, offset, u64));
    if (cut < 4) {
      EXPECT_EQ(kShort, ClProxySerializer::deserialize(buf.data(), cut, offset, u32));
    }
    if (cut < 2) {
      EXPECT_EQ(kShort, ClProxySerializer::deserialize(buf.data(), cut, offset, u16));
    }
    EXPECT_EQ(0u, offset);
    EXPECT_EQ(7u, u64);
    EXPECT_EQ(7u, u32);
    EXPECT_EQ(7u, u16);
  }
}

// Lengths and counts that claim more than the input holds are refused
// before anything is allocated for them.
TEST(ClProxySerializerTest, InflatedLengthsAndCountsReturn6) {
  std::vector<uint8_t> hugeString = BYTES("\xFF\xFF\xFF\xF0" "abc");
  std::vector<uint8_t> hugeList = BYTES("\xFF\xFF\xFF\xFF" "\x00\x00\x00\x00");
  std::vector<uint8_t> longBytes = BYTES("\x00\x05" "abcd");
  uint32_t offset = 0;
  std::string s;
  EXPECT_EQ(kShort, ClProxySerializer::deserialize(hugeString.data(), 7, offset, s));
  std::list<std::string> list;
  EXPECT_EQ(kShort, ClProxySerializer::deserialize(hugeList.data(), 8, offset, list));
  char* data = reinterpret_cast<char*>(0x1);
  uint16_t length = 9;
  EXPECT_EQ(kShort, ClProxySerializer::deserialize(longBytes.data(), 6, offset, data, length));
  EXPECT_EQ(reinterpret_cast<char*>(0x1), data);
  EXPECT_EQ(9, length);
  EXPECT_EQ(0u, offset);
}

TEST(ClProxySerializerTest, EmptyByteStringGivesNullData) {
  std::vector<uint8_t> empty = BYTES("\x00\x00");
  uint32_t offset = 0;
  char* data = reinterpret_cast<char*>(0x1);
  uint16_t length = 9;
  EXPECT_EQ(0, ClProxySerializer::deserialize(empty.data(), 2, offset, data, length));
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, length);
  EXPECT_EQ(2u, offset);
}

}  // namespace
