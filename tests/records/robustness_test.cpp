// The list's decoder fed streams cut at random points: valid streams come
// out whole whatever the cuts; arbitrary bytes never crash it, never make it
// read past a buffer (checked by the sanitizer build) and never hand out a
// record that getData cannot take.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "ClClientFileRecordSerializer.h"
#include "backup/VMSClientFileRecord.h"
#include "records_test_util.h"

namespace {

class RecordStreamTest : public LogCaptureTest {
 protected:
  void SetUp() override {
    LogCaptureTest::SetUp();
    g_ptrLogWriter->SetCapture(false);
  }
};

Bytes WireOf(const Bytes& data) {
  Bytes wire = BYTES("\xBE\xEF\xBE\xAD");
  wire.push_back(static_cast<uint8_t>(data.size() >> 8));
  wire.push_back(static_cast<uint8_t>(data.size() & 0xFF));
  return Concat({wire, data});
}

// Feeds `stream` in pieces of random length, each in a buffer of its own
// that exactly holds some unused lead bytes and the piece.
template <typename OnCall>
void FeedInPieces(ClClientFileRecordSerializer& list, const Bytes& stream, std::mt19937& rng,
                  size_t maxPiece, OnCall onCall) {
  size_t at = 0;
  while (at < stream.size()) {
    size_t piece = std::uniform_int_distribution<size_t>(0, maxPiece)(rng);
    if (piece > stream.size() - at) piece = stream.size() - at;
    uint32_t lead = std::uniform_int_distribution<uint32_t>(0, 3)(rng);
    Bytes buf = Concat({Bytes(lead, 0xEE), Slice(stream, at, at + piece)});
    uint32_t used = lead;
    int status = list.deserialize(Chars(buf), Size(buf), used);
    onCall(status, used, Size(buf));
    at += piece;
  }
}

TEST_F(RecordStreamTest, ValidStreamsSurviveAnyCuts) {
  std::mt19937 rng(20240605);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::vector<Bytes> records;
    Bytes stream;
    int count = std::uniform_int_distribution<int>(1, 8)(rng);
    for (int i = 0; i < count; ++i) {
      size_t size = std::uniform_int_distribution<size_t>(0, 40)(rng);
      if (round % 100 == 0 && i == 0) size = 65535;  // the largest record
      Bytes data(size);
      for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
      records.push_back(data);
      stream = Concat({stream, WireOf(data)});
    }
    ClClientFileRecordSerializer list;
    std::vector<Bytes> out;
    const size_t maxPiece = round % 100 == 0 ? 2000 : 20;
    FeedInPieces(list, stream, rng, maxPiece, [&](int status, uint32_t used, uint32_t) {
      ASSERT_EQ(0, status);
      for (auto& record : Drain(list)) out.push_back(DataOf(*record));
    });
    ASSERT_EQ(records, out);
  }
}

TEST_F(RecordStreamTest, ArbitraryBytesNeverBreakTheDecoder) {
  std::mt19937 rng(77);
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(round);
    // Mostly well-formed heads with random lengths and bytes, so that the
    // decoder gets past the magic as often as not.
    Bytes stream;
    size_t pieces = std::uniform_int_distribution<size_t>(1, 6)(rng);
    for (size_t i = 0; i < pieces; ++i) {
      if (rng() % 4 != 0) stream = Concat({stream, BYTES("\xBE\xEF\xBE\xAD")});
      size_t junk = std::uniform_int_distribution<size_t>(0, 24)(rng);
      for (size_t j = 0; j < junk; ++j) stream.push_back(static_cast<uint8_t>(rng()));
    }
    VMSClientFileRecord templ(rng());
    ClClientFileRecordSerializer list(templ);
    FeedInPieces(list, stream, rng, 12, [&](int status, uint32_t used, uint32_t bufSize) {
      if (status == 0) {
        // Within the buffer unless the bytes of a cached tail count too.
        EXPECT_LE(used, bufSize + stream.size());
      }
      for (auto& record : Drain(list)) {
        char* d = nullptr;
        uint16_t dSize = 0;
        int got = record->getData(d, dSize);
        EXPECT_TRUE(got == 0 || got == CLIENT_FILE_RECORD_TOO_LARGE);
        if (got == 0 && dSize > 0) {
          ASSERT_NE(nullptr, d);
          volatile char last = d[dSize - 1];  // the whole block is readable
          (void)last;
        }
      }
    });
  }
}

}  // namespace
