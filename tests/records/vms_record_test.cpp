// OpenVMS file records: the divider getData adds for each kind, its limits,
// and records decoded through a list with an OpenVMS template.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ClClientFileRecordSerializer.h"
#include "backup/VMSClientFileRecord.h"
#include "records_test_util.h"

namespace {

constexpr int kTooLarge = CLIENT_FILE_RECORD_TOO_LARGE;

// What getData hands out, with its status.
struct Handed {
  int status;
  Bytes bytes;
};

Handed GetData(ClClientFileRecord& record) {
  char* d = nullptr;
  uint16_t dSize = 0;
  int status = record.getData(d, dSize);
  Bytes bytes;
  if (d) bytes.assign(reinterpret_cast<uint8_t*>(d), reinterpret_cast<uint8_t*>(d) + dSize);
  return {status, bytes};
}

// The record's data as it stands, without adding a divider.
Bytes HeldRaw(VMSClientFileRecord& record) {
  char* d = nullptr;
  uint16_t dSize = 0;
  record.ClClientFileRecord::getData(d, dSize);
  return d ? Bytes(reinterpret_cast<uint8_t*>(d), reinterpret_cast<uint8_t*>(d) + dSize) : Bytes();
}

void Fill(VMSClientFileRecord& record, Bytes data) {
  ASSERT_EQ(0, record.setData(data.empty() ? nullptr : Chars(data),
                              static_cast<uint16_t>(data.size())));
}

Bytes Repeat(size_t n, uint8_t value) { return Bytes(n, value); }

class VmsRecordTest : public LogCaptureTest {};

struct DividerCase {
  const char* name;
  unsigned long attributes;
  Bytes data;
  Bytes expected;
  bool marked;
};

TEST_F(VmsRecordTest, EachKindAddsItsDividerOnce) {
  Bytes data300;
  for (int i = 0; i < 300; ++i) data300.push_back(static_cast<uint8_t>(0x80 + i));
  const std::vector<DividerCase> cases = {
      {"1 line end", 1, BYTES("ABC"), BYTES("ABC\r\n"), true},
      {"1 ends in LF", 1, BYTES("AB\x0A"), BYTES("AB\x0A"), false},
      {"1 ends in VT", 1, BYTES("AB\x0B"), BYTES("AB\x0B"), false},
      {"1 ends in FF", 1, BYTES("AB\x0C"), BYTES("AB\x0C"), false},
      {"1 ends in CR", 1, BYTES("AB\x0D"), BYTES("AB\x0D\x0D\x0A"), true},
      {"1 empty", 1, Bytes(), BYTES("\r\n"), true},
      {"2", 2, BYTES("AB"), BYTES("\rAB"), true},
      {"2 empty", 2, Bytes(), BYTES("\r"), true},
      {"4", 4, BYTES("AB"), BYTES("\nAB"), true},
      {"5", 5, BYTES("AB"), BYTES("\nAB"), true},
      {"6 odd", 6, BYTES("ABC"), BYTES("\x03\x00" "ABC" "\x00"), true},
      {"6 even", 6, BYTES("ABCD"), BYTES("\x04\x00" "ABCD"), true},
      {"6 empty", 6, Bytes(), BYTES("\x00\x00"), true},
      {"6 300 bytes", 6, data300, Concat({BYTES("\x2C\x01"), data300}), true},
      {"0x11 is kind 1", 0x11, BYTES("ABC"), BYTES("ABC\r\n"), true},
      {"high bits ignored", 0xFFFFFFFF00000016ul, BYTES("ABC"), BYTES("\x03\x00" "ABC" "\x00"),
       true},
  };
  for (const DividerCase& c : cases) {
    SCOPED_TRACE(c.name);
    VMSClientFileRecord record(c.attributes);
    Fill(record, c.data);
    Handed first = GetData(record);
    EXPECT_EQ(0, first.status);
    EXPECT_EQ(c.expected, first.bytes);
    EXPECT_EQ(c.marked, record.isDividerAdded());
    Handed second = GetData(record);
    EXPECT_EQ(0, second.status);
    EXPECT_EQ(c.expected, second.bytes);

    // What goes back onto the wire carries the divider.
    EXPECT_EQ(6 + c.expected.size(), record.getBufSize());
    Bytes buf(record.getBufSize());
    uint32_t used = 0;
    ASSERT_EQ(0, record.serialize(Chars(buf), Size(buf), used));
    Bytes head = BYTES("\xBE\xEF\xBE\xAD");
    head.push_back(static_cast<uint8_t>(c.expected.size() >> 8));
    head.push_back(static_cast<uint8_t>(c.expected.size() & 0xFF));
    EXPECT_EQ(Concat({head, c.expected}), buf);
  }
}

TEST_F(VmsRecordTest, OtherKindsLeaveTheDataAlone) {
  for (unsigned long kind : {0ul, 3ul, 7ul, 8ul, 9ul, 10ul, 11ul, 12ul, 13ul, 14ul, 15ul}) {
    SCOPED_TRACE(kind);
    VMSClientFileRecord record(kind);
    Fill(record, BYTES("AB"));
    Handed handed = GetData(record);
    EXPECT_EQ(0, handed.status);
    EXPECT_EQ(BYTES("AB"), handed.bytes);
  }
}

// Sizes used to be worked out in 16 bits: a divider on a nearly full record
// wrapped the size and handed out a short, wrong record.
TEST_F(VmsRecordTest, DividerNeverTakesTheDataPast65535Bytes) {
  struct Case {
    const char* name;
    unsigned long attributes;
    size_t size;
    uint8_t last;
    int status;
    size_t handedSize;
  };
  const std::vector<Case> cases = {
      {"1 fits", 1, 65533, 'A', 0, 65535},
      {"1 one over", 1, 65534, 'A', kTooLarge, 0},
      {"1 full", 1, 65535, 'A', kTooLarge, 0},
      {"1 full, ends in LF", 1, 65535, 0x0A, 0, 65535},
      {"2 fits", 2, 65534, 'A', 0, 65535},
      {"2 full", 2, 65535, 'A', kTooLarge, 0},
      {"4 full", 4, 65535, 'A', kTooLarge, 0},
      {"5 full", 5, 65535, 'A', kTooLarge, 0},
      {"6 even fits", 6, 65532, 'A', 0, 65534},
      {"6 odd, pad byte over", 6, 65533, 'A', kTooLarge, 0},
      {"6 over", 6, 65534, 'A', kTooLarge, 0},
      {"0 full", 0, 65535, 'A', 0, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = Repeat(c.size, 'A');
    data.back() = c.last;
    VMSClientFileRecord record(c.attributes);
    Fill(record, data);
    for (int call = 0; call < 2; ++call) {
      char* d = nullptr;
      uint16_t dSize = 0;
      EXPECT_EQ(c.status, record.getData(d, dSize));
      EXPECT_EQ(c.handedSize, dSize);
      if (c.status != 0) {
        EXPECT_EQ(nullptr, d);
        EXPECT_FALSE(record.isDividerAdded());
        EXPECT_EQ(data, HeldRaw(record));
        EXPECT_EQ(6 + c.size, record.getBufSize());
      }
    }
  }
}

// The length prefix used to be copied from the host's 16-bit value, so a
// big-endian host wrote it high byte first.
TEST_F(VmsRecordTest, LengthPrefixIsLowByteFirstOnEveryHost) {
  VMSClientFileRecord record(6);
  Fill(record, Repeat(65532, 'A'));
  Handed handed = GetData(record);
  ASSERT_EQ(0, handed.status);
  ASSERT_EQ(65534u, handed.bytes.size());
  EXPECT_EQ(0xFC, handed.bytes[0]);
  EXPECT_EQ(0xFF, handed.bytes[1]);
  EXPECT_EQ('A', handed.bytes[2]);
}

TEST_F(VmsRecordTest, GrowingPastTheSizeLimitChangesNothing) {
  VMSClientFileRecord record(0);
  Fill(record, Repeat(65535, 'A'));
  record.appendDataWith("x", 1);
  record.prependDataWith("x", 1);
  EXPECT_EQ(Repeat(65535, 'A'), HeldRaw(record));
  EXPECT_TRUE(Logged("size + count <= 0xFFFF"));
}

// A template that carries both flags set.
class FlaggedRecord : public VMSClientFileRecord {
 public:
  explicit FlaggedRecord(unsigned long attributes) : VMSClientFileRecord(attributes) {
    needAddDivider = true;
    previousRecordHaveFVL = true;
    dividerAdded = true;
  }
};

TEST_F(VmsRecordTest, ListWithVmsTemplateDecodesVmsRecords) {
  FlaggedRecord templ(0x16);
  ClClientFileRecordSerializer list(templ);
  EXPECT_TRUE(Logged("new record with (needAddDivider:1 previousRecordHaveFVL:1"));

  // ABC cut inside its data, then an empty record.
  Bytes stream = Concat({BYTES("\xBE\xEF\xBE\xAD\x00\x03" "ABC"), BYTES("\xBE\xEF\xBE\xAD\x00\x00")});
  Bytes first = Slice(stream, 0, 7);
  Bytes second = Slice(stream, 7, stream.size());
  uint32_t used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(first), Size(first), used));
  EXPECT_EQ(0u, used);
  used = 0;
  ASSERT_EQ(0, list.deserialize(Chars(second), Size(second), used));
  EXPECT_EQ(15u, used);

  std::vector<std::unique_ptr<ClClientFileRecord>> records = Drain(list);
  ASSERT_EQ(2u, records.size());
  const std::vector<Bytes> expected = {BYTES("\x03\x00" "ABC" "\x00"), BYTES("\x00\x00")};
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    VMSClientFileRecord* vms = dynamic_cast<VMSClientFileRecord*>(records[i].get());
    ASSERT_NE(nullptr, vms);
    EXPECT_EQ(0x16u, vms->getRecordAttributes());
    EXPECT_TRUE(vms->getNeedAddDivider());
    EXPECT_TRUE(vms->getPreviousRecordHaveFVL());
    EXPECT_FALSE(vms->isDividerAdded());
    EXPECT_EQ(expected[i], GetData(*vms).bytes);
  }
}

}  // namespace
