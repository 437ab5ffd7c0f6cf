// Client file records and the list that packs them: wire bytes, split
// records across buffers, statuses, offsets written back and log lines.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClClientFileRecord.h"
#include "ClClientFileRecordSerializer.h"
#include "records_test_util.h"

namespace {

constexpr int kBadMagic = CLIENT_FILE_RECORD_BAD_MAGIC;
constexpr int kShort = CLIENT_FILE_RECORD_NOT_ENOUGH_BYTES;
constexpr int kEmpty = CLIENT_FILE_RECORD_LIST_EMPTY;

const Bytes kAbc = BYTES("ABC");
const Bytes kHello = BYTES("HELLO");
const Bytes kRecAbc = BYTES("\xBE\xEF\xBE\xAD\x00\x03" "ABC");
const Bytes kRecHello = BYTES("\xBE\xEF\xBE\xAD\x00\x05" "HELLO");
const Bytes kRecEmpty = BYTES("\xBE\xEF\xBE\xAD\x00\x00");
// ABC (0..8), HELLO (9..19), empty (20..25).
const Bytes kStream = Concat({kRecAbc, kRecHello, kRecEmpty});

Bytes Filled(size_t n, uint8_t value) { return Bytes(n, value); }

std::unique_ptr<ClClientFileRecord> RecordWith(const Bytes& data) {
  std::unique_ptr<ClClientFileRecord> record(new ClClientFileRecord);
  Bytes copy = data;
  EXPECT_EQ(0, record->setData(copy.empty() ? nullptr : Chars(copy),
                               static_cast<uint16_t>(copy.size())));
  return record;
}

void Insert(ClClientFileRecordSerializer& list, const Bytes& data) {
  ClClientFileRecord* record = RecordWith(data).release();
  ASSERT_EQ(0, list.insertRecord(record));
  EXPECT_EQ(nullptr, record);
}

class RecordTest : public LogCaptureTest {};

// ---------------------------------------------------------------- records

struct GoldenRecord {
  const char* name;
  Bytes data;
  Bytes wire;
};

Bytes Golden300() {
  Bytes data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(i * 7));
  return Concat({BYTES("\xBE\xEF\xBE\xAD\x01\x2C"), data});
}

TEST_F(RecordTest, WireBytesOfARecordBothWays) {
  const Bytes wire300 = Golden300();
  const std::vector<GoldenRecord> cases = {
      {"three letters", kAbc, kRecAbc},
      {"empty", Bytes(), kRecEmpty},
      {"high bytes", BYTES("\xFF\x00\x80"), BYTES("\xBE\xEF\xBE\xAD\x00\x03\xFF\x00\x80")},
      {"300 bytes", Slice(wire300, 6, wire300.size()), wire300},
  };
  for (const GoldenRecord& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ClClientFileRecord> record = RecordWith(c.data);
    EXPECT_EQ(c.wire.size(), record->getBufSize());
    Bytes buf(c.wire.size());
    uint32_t used = 0;
    ASSERT_EQ(0, record->serialize(Chars(buf), Size(buf), used));
    EXPECT_EQ(c.wire.size(), used);
    EXPECT_EQ(c.wire, buf);

    ClClientFileRecord decoded;
    Bytes in = c.wire;
    used = 0;
    ASSERT_EQ(0, decoded.deserialize(Chars(in), Size(in), used));
    EXPECT_EQ(c.wire.size(), used);
    EXPECT_TRUE(decoded.isInitialized());
    EXPECT_EQ(c.data, DataOf(decoded));
  }
}

TEST_F(RecordTest, RecordWritesAtTheOffsetAndRefusesAShortBuffer) {
  std::unique_ptr<ClClientFileRecord> record = RecordWith(kAbc);
  Bytes buf = Filled(12, 0xEE);
  uint32_t used = 3;
  ASSERT_EQ(0, record->serialize(Chars(buf), Size(buf), used));
  EXPECT_EQ(12u, used);
  EXPECT_EQ(Concat({Filled(3, 0xEE), kRecAbc}), buf);

  // One byte short: nothing written, offset kept.
  Bytes shortBuf = Filled(8, 0xEE);
  used = 0;
  EXPECT_EQ(kShort, record->serialize(Chars(shortBuf), Size(shortBuf), used));
  EXPECT_EQ(0u, used);
  EXPECT_EQ(Filled(8, 0xEE), shortBuf);
  EXPECT_TRUE(Logged("Not enough buffer to serialize record"));
  EXPECT_TRUE(Logged("Failed to serialize record, status=6, dataSize=3, bufSize=8, "
                     "usedBufSize=0, lUsedBufSize=0, needBufSize=9"));
}

TEST_F(RecordTest, FailedRecordDecodeLeavesRecordEmptyAndOffsetKept) {
  struct Case {
    const char* name;
    Bytes input;
    int status;
  };
  const std::vector<Case> cases = {
      {"inside the head", Slice(kRecAbc, 0, 5), kShort},
      {"inside the data", Slice(kRecAbc, 0, 8), kShort},
      {"bad magic", BYTES("\xDE\xAD\xBE\xEF\x00\x00"), kBadMagic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClClientFileRecord record;
    Bytes in = c.input;
    uint32_t used = 0;
    EXPECT_EQ(c.status, record.deserialize(Chars(in), Size(in), used));
    EXPECT_EQ(0u, used);
    EXPECT_FALSE(record.isInitialized());
    EXPECT_EQ(Bytes(), DataOf(record));
  }
  EXPECT_TRUE(Logged("Invalid record magic=0xdeadbeef"));
  EXPECT_TRUE(Logged("Not enough buffer to deserialize record"));
}

// ------------------------------------------------------------ list, writing

TEST_F(RecordTest, ListWritesRecordsBackToBackAndKeepsThem) {
  ClClientFileRecordSerializer list;
  Insert(list, kAbc);
  Insert(list, kHello);
  Insert(list, Bytes());
  ASSERT_EQ(kStream.size(), list.getBufSize());

  Bytes buf(kStream.size());
  uint32_t used = 0;
  ASSERT_EQ(0, list.serialize(Chars(buf), Size(buf), used));
  EXPECT_EQ(kStream.size(), used);
  EXPECT_EQ(kStream, buf);
  EXPECT_FALSE(Logged("bufSize == lUsedBufSize"));

  // One byte short: status 6, nothing written.
  Bytes shortBuf = Filled(kStream.size() - 1, 0xEE);
  used = 0;
  EXPECT_EQ(kShort, list.serialize(Chars(shortBuf), Size(shortBuf), used));
  EXPECT_EQ(0u, used);
  EXPECT_EQ(Filled(kStream.size() - 1, 0xEE), shortBuf);
  EXPECT_TRUE(Logged("Not enough buffer to serialize file data"));

  // A larger buffer works, with the assumption that it ends there logged.
  Bytes bigBuf = Filled(kStream.size() + 4, 0xEE);
  used = 0;
  EXPECT_EQ(0, list.serialize(Chars(bigBuf), Size(bigBuf), used));
  EXPECT_EQ(kStream.size(), used);
  EXPECT_EQ(Concat({kStream, Filled(4, 0xEE)}), bigBuf);
  EXPECT_TRUE(Logged("bufSize == lUsedBufSize"));

  std::vector<std::unique_ptr<ClClientFileRecord>> records = Drain(list);
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ(kAbc, DataOf(*records[0]));
  EXPECT_EQ(kHello, DataOf(*records[1]));
  EXPECT_EQ(Bytes(), DataOf(*records[2]));
}

// ------------------------------------------------------------ list, reading

TEST_F(RecordTest, WholeRecordsComeOutIndexedWithNothingCached) {
  ClClientFileRecordSerializer list;
  Bytes in = kStream;
  uint32_t used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(in), Size(in), used));
  EXPECT_EQ(Size(in), used);
  std::vector<std::unique_ptr<ClClientFileRecord>> records = Drain(list);
  ASSERT_EQ(3u, records.size());
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(i, records[i]->getIndex());
  EXPECT_EQ(kAbc, DataOf(*records[0]));
  EXPECT_EQ(kHello, DataOf(*records[1]));
  EXPECT_TRUE(records[2]->isInitialized());
  EXPECT_EQ(Bytes(), DataOf(*records[2]));

  // Nothing was cached: a fresh record decodes on its own.
  Bytes next = kRecHello;
  used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(next), Size(next), used));
  records = Drain(list);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(0u, records[0]->getIndex());
  EXPECT_EQ(kHello, DataOf(*records[0]));
}

TEST_F(RecordTest, NoUnreadBytesGiveNoRecord) {
  ClClientFileRecordSerializer list;
  Bytes in = Filled(5, 0xEE);
  uint32_t used = 5;
  EXPECT_EQ(0, list.deserialize(Chars(in), Size(in), used));
  EXPECT_EQ(5u, used);
  EXPECT_EQ(0u, Drain(list).size());
  EXPECT_FALSE(Logged("lUsedBufSize < lBufSize"));
}

// One call of a split case: the bytes kStream[from, to) after `lead` bytes
// already used, and the usedBufSize and record count it must give back.
struct Call {
  size_t from, to;
  uint32_t lead;
  uint32_t used;
  size_t records;
};

struct SplitCase {
  const char* name;
  std::vector<Call> calls;
};

TEST_F(RecordTest, RecordsCutAcrossBuffersComeOutWhole) {
  const std::vector<SplitCase> cases = {
      {"one buffer", {{0, 26, 0, 26, 3}}},
      {"cut inside the head", {{0, 13, 0, 9, 1}, {13, 26, 0, 17, 2}}},
      {"cut at the end of the head", {{0, 15, 0, 9, 1}, {15, 26, 0, 17, 2}}},
      {"cut inside the data", {{0, 17, 0, 9, 1}, {17, 26, 0, 17, 2}}},
      {"cut after the first byte", {{0, 1, 0, 0, 0}, {1, 26, 0, 26, 3}}},
      {"still cut after the second buffer",
       {{0, 10, 0, 9, 1}, {10, 12, 0, 2, 0}, {12, 26, 0, 17, 2}}},
      {"empty second buffer", {{0, 10, 0, 9, 1}, {10, 10, 0, 0, 0}, {10, 26, 0, 17, 2}}},
      {"cut on a record boundary", {{0, 20, 0, 20, 2}, {20, 26, 0, 6, 1}}},
      {"cut inside the last head", {{0, 21, 0, 20, 2}, {21, 26, 0, 6, 1}}},
      // Bytes before the offset are not part of the stream; with a cached
      // tail the count is cached + bufSize - the offset given.
      {"offsets given", {{0, 13, 3, 12, 1}, {13, 26, 4, 17, 2}}},
  };
  const std::vector<Bytes> expected = {kAbc, kHello, Bytes()};
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClClientFileRecordSerializer list;
    std::vector<Bytes> out;
    for (const Call& call : c.calls) {
      SCOPED_TRACE(call.from);
      Bytes in = Concat({Filled(call.lead, 0xEE), Slice(kStream, call.from, call.to)});
      uint32_t used = call.lead;
      ASSERT_EQ(0, list.deserialize(Chars(in), Size(in), used));
      EXPECT_EQ(call.used, used);
      std::vector<std::unique_ptr<ClClientFileRecord>> records = Drain(list);
      EXPECT_EQ(call.records, records.size());
      for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(i, records[i]->getIndex());
        out.push_back(DataOf(*records[i]));
      }
    }
    EXPECT_EQ(expected, out);
  }
}

TEST_F(RecordTest, AnyTwoCutsGiveTheSameRecords) {
  const std::vector<Bytes> expected = {kAbc, kHello, Bytes()};
  for (size_t first = 0; first <= kStream.size(); ++first) {
    for (size_t second = first; second <= kStream.size(); ++second) {
      SCOPED_TRACE(testing::Message() << first << "/" << second);
      ClClientFileRecordSerializer list;
      std::vector<Bytes> out;
      const size_t cuts[][2] = {{0, first}, {first, second}, {second, kStream.size()}};
      for (const auto& cut : cuts) {
        Bytes in = Slice(kStream, cut[0], cut[1]);
        uint32_t used = 0;
        ASSERT_EQ(0, list.deserialize(Chars(in), Size(in), used));
        for (auto& record : Drain(list)) out.push_back(DataOf(*record));
      }
      ASSERT_EQ(expected, out);
    }
  }
}

TEST_F(RecordTest, CachingIsLogged) {
  ClClientFileRecordSerializer list;
  Bytes in = Slice(kStream, 0, 13);
  uint32_t used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(in), Size(in), used));
  EXPECT_TRUE(Logged("Deserialized record, dataSize=3, bufSize=13, usedBufSize=0, "
                     "lUsedBufSize=9"));
  EXPECT_TRUE(Logged("Partial record existed in buffer, caching it, prevBufSize=4, "
                     "bufSize=13, usedBufSize=0, lUsedBufSize=9"));
  EXPECT_TRUE(Logged("Deserialized file data, numRecords=1, bufSize=13, usedBufSize=0, "
                     "lUsedBufSize=9"));
}

TEST_F(RecordTest, BadMagicDropsEveryRecordHeld) {
  ClClientFileRecordSerializer list;
  // ABC stays unfetched while HELLO is cut.
  Bytes first = Slice(kStream, 0, 12);
  uint32_t used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(first), Size(first), used));
  ASSERT_EQ(9u, used);

  Bytes second = Concat({Slice(kStream, 12, 20), BYTES("\xDE\xAD\xBE\xEF\x00\x00")});
  used = 0;
  EXPECT_EQ(kBadMagic, list.deserialize(Chars(second), Size(second), used));
  EXPECT_EQ(0u, used);
  EXPECT_TRUE(Logged("Invalid record magic=0xdeadbeef"));
  EXPECT_TRUE(Logged("Failed to deserialize record,status=5"));
  EXPECT_TRUE(Logged("Failed to deserialize file data, status=5"));
  ClClientFileRecord* record = nullptr;
  EXPECT_EQ(kEmpty, list.fetchRecord(record));
  EXPECT_EQ(nullptr, record);
}

// A record class whose made records cannot make another.
class BarrenRecord : public ClClientFileRecord {
 public:
  explicit BarrenRecord(bool fertile) : m_fertile(fertile) {}
  ClClientFileRecord* newRecord() const override {
    return m_fertile ? new BarrenRecord(false) : nullptr;
  }

 private:
  bool m_fertile;
};

TEST_F(RecordTest, TemplateThatMakesNoRecordFailsWithOne) {
  ClClientFileRecordSerializer list{BarrenRecord(true)};
  Bytes in = kRecAbc;
  uint32_t used = 0;
  EXPECT_EQ(CLIENT_FILE_RECORD_NO_NEW_RECORD, list.deserialize(Chars(in), Size(in), used));
  EXPECT_EQ(0u, used);
  EXPECT_TRUE(Logged("Failed to allocate new record,status=1"));
}

TEST_F(RecordTest, FetchFromEmptyListLeavesPointerAlone) {
  ClClientFileRecordSerializer list;
  ClClientFileRecord mine;
  ClClientFileRecord* record = &mine;
  EXPECT_EQ(kEmpty, list.fetchRecord(record));
  EXPECT_EQ(&mine, record);
}

TEST_F(RecordTest, NumberedLinesNeedTheFileRecordCategory) {
  g_ptrLogWriter->SetCategoryMask(FX_LOG_CATEGORY_CONNECTION);
  std::unique_ptr<ClClientFileRecord> record = RecordWith(kAbc);
  ClClientFileRecord empty;
  Bytes buf(9);
  uint32_t used = 0;
  ASSERT_EQ(0, record->serialize(Chars(buf), Size(buf), used));
  EXPECT_FALSE(Logged("Serialized record"));
  used = 0;
  empty.serialize(Chars(buf), Size(buf), used);  // level -1 lines always
  EXPECT_TRUE(Logged("initialized == true"));

  g_ptrLogWriter->SetCategoryMask(FX_LOG_CATEGORY_FILE_RECORD);
  used = 0;
  ASSERT_EQ(0, record->serialize(Chars(buf), Size(buf), used));
  EXPECT_TRUE(Logged("Serialized record, dataSize=3, bufSize=9, usedBufSize=0, lUsedBufSize=9"));
}

// ------------------------------------------------------------ mended faults

// An offset past the end used to wrap `bufSize - usedBufSize` into a huge
// count and read or write far beyond the buffer.
TEST_F(RecordTest, OffsetPastTheEndIsRefusedBeforeAnyByteIsTouched) {
  using Op = std::function<int(char*, uint32_t, uint32_t&)>;
  std::unique_ptr<ClClientFileRecord> full = RecordWith(kAbc);
  ClClientFileRecord empty;
  ClClientFileRecordSerializer filledList;
  Insert(filledList, kAbc);
  ClClientFileRecordSerializer emptyList;
  ClClientFileRecordSerializer readList;
  ClClientFileRecordSerializer cachingList;
  Bytes cut = Slice(kStream, 0, 4);
  uint32_t cutUsed = 0;
  ASSERT_EQ(0, cachingList.deserialize(Chars(cut), Size(cut), cutUsed));

  struct Case {
    const char* name;
    Op op;
  };
  const std::vector<Case> cases = {
      {"record serialize", [&](char* b, uint32_t s, uint32_t& u) { return full->serialize(b, s, u); }},
      {"record deserialize", [&](char* b, uint32_t s, uint32_t& u) { return empty.deserialize(b, s, u); }},
      {"list serialize", [&](char* b, uint32_t s, uint32_t& u) { return filledList.serialize(b, s, u); }},
      {"empty list serialize", [&](char* b, uint32_t s, uint32_t& u) { return emptyList.serialize(b, s, u); }},
      {"list deserialize", [&](char* b, uint32_t s, uint32_t& u) { return readList.deserialize(b, s, u); }},
      {"list deserialize, tail cached", [&](char* b, uint32_t s, uint32_t& u) { return cachingList.deserialize(b, s, u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The buffer is exactly bufSize long, so a read past it is caught by
    // the sanitizer build.
    Bytes buf = kRecAbc;
    uint32_t used = 10;
    EXPECT_EQ(kShort, c.op(Chars(buf), Size(buf), used));
    EXPECT_EQ(10u, used);
    EXPECT_EQ(kRecAbc, buf);
  }
  EXPECT_EQ(0u, Drain(readList).size());
  EXPECT_EQ(1u, Drain(filledList).size());

  // The cached tail is untouched: the rest of the record completes it.
  Bytes rest = Slice(kStream, 4, 9);
  uint32_t used = 0;
  ASSERT_EQ(0, cachingList.deserialize(Chars(rest), Size(rest), used));
  EXPECT_EQ(9u, used);
  std::vector<std::unique_ptr<ClClientFileRecord>> records = Drain(cachingList);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(kAbc, DataOf(*records[0]));
}

// The list itself hands back a count larger than the buffer after a cached
// tail; a caller that passes it back in gets 6, not a read past the end.
TEST_F(RecordTest, CombinedCountPassedBackInIsRefused) {
  ClClientFileRecordSerializer list;
  Bytes first = Slice(kStream, 0, 13);
  uint32_t used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(first), Size(first), used));
  Bytes second = Slice(kStream, 13, 26);
  used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(second), Size(second), used));
  ASSERT_EQ(17u, used);
  ASSERT_GT(used, Size(second));
  EXPECT_EQ(kShort, list.deserialize(Chars(second), Size(second), used));
  EXPECT_EQ(17u, used);
  EXPECT_EQ(3u, Drain(list).size());
}

TEST_F(RecordTest, NullRecordOrNullDataIsRefused) {
  ClClientFileRecordSerializer list;
  ClClientFileRecord* none = nullptr;
  EXPECT_NE(0, list.insertRecord(none));
  EXPECT_EQ(0u, list.getBufSize());
  Bytes buf(4);
  uint32_t used = 0;
  EXPECT_EQ(0, list.serialize(Chars(buf), 0, used));
  EXPECT_EQ(0u, used);

  ClClientFileRecord fresh;
  EXPECT_NE(0, fresh.setData(nullptr, 5));
  EXPECT_FALSE(fresh.isInitialized());
  EXPECT_EQ(Bytes(), DataOf(fresh));

  std::unique_ptr<ClClientFileRecord> held = RecordWith(kAbc);
  EXPECT_NE(0, held->setData(nullptr, 5));
  EXPECT_EQ(kAbc, DataOf(*held));
  EXPECT_EQ(9u, held->getBufSize());
}

// setData on a record holding data used to drop the old block (a leak that
// the sanitizer build reports); it may also copy from that very block.
TEST_F(RecordTest, SetDataReplacesTheBlockItHeld) {
  std::unique_ptr<ClClientFileRecord> record = RecordWith(BYTES("ABCDEF"));
  Bytes xy = BYTES("XY");
  EXPECT_EQ(0, record->setData(Chars(xy), 2));
  EXPECT_EQ(xy, DataOf(*record));
  EXPECT_TRUE(Logged("initialized == false"));

  char* own = nullptr;
  uint16_t ownSize = 0;
  ASSERT_EQ(0, record->getData(own, ownSize));
  EXPECT_EQ(0, record->setData(own + 1, 1));
  EXPECT_EQ(BYTES("Y"), DataOf(*record));
  EXPECT_EQ(7u, record->getBufSize());
}

}  // namespace
