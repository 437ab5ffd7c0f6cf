// Fuzzes ClClientFileRecordSerializer::deserialize on a stream of client
// file records cut at arbitrary points, with a VMSClientFileRecord template,
// and getData on every record that comes out.
//
// Input: a 16-bit record-attributes value for the template; a byte that,
// from 0x80 to 0x87, puts one record of 65535 - (bits 0-1) data bytes (all
// 0x0A with bit 2, else 'x') before the stream, as records that large would
// not fit a fuzz input (rarely, as they are slow); a count of cut points (0-8), each cut point as a
// 16-bit position and a flags byte (bits 0-1: that many junk bytes before
// the piece, skipped through usedBufSize; bit 7: first try an offset past
// the end, which must be refused); then the stream itself.
//
// Every call is compared with a model that parses the stream whole: the
// records, their order, the status, the usedBufSize handed back and the
// bytes getData hands out with the divider of the attributes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "ClClientFileRecordSerializer.h"
#include "FuzzSupport.h"
#include "backup/VMSClientFileRecord.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Parsed {
  std::vector<Bytes> records;
  enum { kBoundary, kCut, kBadMagic } end = kBoundary;
  size_t cutAt = 0;  // where the cut record begins
};

Parsed Parse(const Bytes& bytes) {
  Parsed out;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t left = bytes.size() - pos;
    if (left < 6) {
      out.end = Parsed::kCut;
      out.cutAt = pos;
      return out;
    }
    const uint8_t* p = bytes.data() + pos;
    uint32_t magic = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    if (magic != ClClientFileRecord::kMagic) {
      out.end = Parsed::kBadMagic;
      return out;
    }
    size_t length = (size_t(p[4]) << 8) | p[5];
    if (left < 6 + length) {
      out.end = Parsed::kCut;
      out.cutAt = pos;
      return out;
    }
    out.records.emplace_back(p + 6, p + 6 + length);
    pos += 6 + length;
  }
  return out;
}

// What getData must hand out for `data` under the attributes; false when
// the divider would not fit 16 bits.
bool WithDivider(uint64_t attributes, const Bytes& data, Bytes& out) {
  out = data;
  const size_t n = data.size();
  switch (attributes & 0xF) {
    case 1:
      if (n > 0 && (data[n - 1] == 0x0A || data[n - 1] == 0x0B || data[n - 1] == 0x0C)) return true;
      if (n + 2 > 0xFFFF) return false;
      out.push_back('\r');
      out.push_back('\n');
      return true;
    case 2:
      if (n + 1 > 0xFFFF) return false;
      out.insert(out.begin(), '\r');
      return true;
    case 4:
    case 5:
      if (n + 1 > 0xFFFF) return false;
      out.insert(out.begin(), '\n');
      return true;
    case 6: {
      const bool odd = (n & 1) != 0;
      if (n + 2 + (odd ? 1 : 0) > 0xFFFF) return false;
      out.insert(out.begin(), {static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)});
      if (odd) out.push_back(0);
      return true;
    }
    default:
      return true;
  }
}

Bytes Held(char* d, uint16_t size) {
  return size ? Bytes(reinterpret_cast<uint8_t*>(d), reinterpret_cast<uint8_t*>(d) + size) : Bytes();
}

void CheckRecord(ClClientFileRecord* fetched, uint32_t index, uint64_t attributes,
                 const Bytes& expected) {
  VMSClientFileRecord* record = dynamic_cast<VMSClientFileRecord*>(fetched);
  FUZZ_CHECK(record != nullptr, "record %u is not an OpenVMS record", index);
  FUZZ_CHECK(record->isInitialized(), "record %u is not initialized", index);
  FUZZ_CHECK(record->getIndex() == index, "record index %u, expected %u", record->getIndex(), index);
  FUZZ_CHECK(record->getRecordAttributes() == attributes, "record %u lost the attributes", index);

  // The record encodes back to the bytes it came from.
  Bytes wire(6 + expected.size() + 3, 0xA5);
  uint32_t used = 3;
  FUZZ_CHECK(record->getBufSize() == 6 + expected.size(), "record %u size %u", index,
             record->getBufSize());
  FUZZ_CHECK(record->serialize(reinterpret_cast<char*>(wire.data()), static_cast<uint32_t>(wire.size()),
                               used) == 0 && used == wire.size(),
             "record %u does not serialize", index);
  const uint8_t head[6] = {0xBE, 0xEF, 0xBE, 0xAD, static_cast<uint8_t>(expected.size() >> 8),
                           static_cast<uint8_t>(expected.size())};
  FUZZ_CHECK(std::memcmp(wire.data() + 3, head, 6) == 0 &&
                 std::equal(expected.begin(), expected.end(), wire.begin() + 9),
             "record %u serializes to other bytes", index);

  Bytes divided;
  const bool fits = WithDivider(attributes, expected, divided);
  for (int call = 0; call < 2; ++call) {
    char* d = nullptr;
    uint16_t dSize = 0;
    int status = record->getData(d, dSize);
    if (!fits) {
      FUZZ_CHECK(status == CLIENT_FILE_RECORD_TOO_LARGE, "record %u: getData status %d", index,
                 status);
      continue;
    }
    FUZZ_CHECK(status == 0, "record %u: getData status %d", index, status);
    FUZZ_CHECK(dSize == divided.size() && Held(d, dSize) == divided,
               "record %u (attributes 0x%llx, %zu bytes): getData gave %u bytes, expected %zu",
               index, static_cast<unsigned long long>(attributes), expected.size(),
               static_cast<unsigned>(dSize), divided.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzQuietLogging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBytes in(data, size);
  const uint64_t attributes = in.u16();
  const uint8_t big = in.byte();
  const size_t cuts = in.byte() % 9;
  std::vector<std::pair<uint16_t, uint8_t>> cutPoints;
  for (size_t i = 0; i < cuts; ++i) {
    uint16_t at = in.u16();
    cutPoints.emplace_back(at, in.byte());
  }
  Bytes stream;
  if ((big & 0xF8) == 0x80) {
    const size_t length = 0xFFFF - (big & 3);
    stream = {0xBE, 0xEF, 0xBE, 0xAD, static_cast<uint8_t>(length >> 8),
              static_cast<uint8_t>(length)};
    stream.resize(6 + length, (big & 4) ? 0x0A : 'x');
  }
  const Bytes rest = in.rest();
  stream.insert(stream.end(), rest.begin(), rest.end());

  // Pieces: [cut_i, cut_i+1), each with the flags of its cut point.
  std::vector<std::pair<size_t, uint8_t>> starts = {{0, 0}};
  for (const auto& cut : cutPoints)
    starts.emplace_back(stream.empty() ? 0 : cut.first % (stream.size() + 1), cut.second);
  std::stable_sort(starts.begin(), starts.end(),
                   [](const std::pair<size_t, uint8_t>& a, const std::pair<size_t, uint8_t>& b) {
                     return a.first < b.first;
                   });

  VMSClientFileRecord templ(static_cast<unsigned long>(attributes));
  ClClientFileRecordSerializer list(templ);
  Bytes pending;  // the model's cached tail
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t from = starts[i].first;
    const size_t to = i + 1 < starts.size() ? starts[i + 1].first : stream.size();
    const uint8_t flags = starts[i].second;
    const uint32_t junk = flags & 3;

    // An exact-size buffer, so a read past bufSize is caught.
    const uint32_t bufSize = static_cast<uint32_t>(junk + (to - from));
    std::unique_ptr<char[]> buf(bufSize ? new char[bufSize] : nullptr);
    if (junk) std::memset(buf.get(), 0xEE, junk);
    if (to > from) std::memcpy(buf.get() + junk, stream.data() + from, to - from);

    if (flags & 0x80) {
      uint32_t beyond = bufSize + 1 + junk;
      int status = list.deserialize(buf.get(), bufSize, beyond);
      FUZZ_CHECK(status == CLIENT_FILE_RECORD_NOT_ENOUGH_BYTES && beyond == bufSize + 1 + junk,
                 "offset past the end: status %d, usedBufSize %u", status, beyond);
    }

    const bool hadPending = !pending.empty();
    Bytes input = pending;
    input.insert(input.end(), stream.begin() + from, stream.begin() + to);
    const Parsed model = Parse(input);

    uint32_t used = junk;
    int status = list.deserialize(buf.get(), bufSize, used);
    if (model.end == Parsed::kBadMagic) {
      FUZZ_CHECK(status == CLIENT_FILE_RECORD_BAD_MAGIC, "bad magic gave status %d", status);
      FUZZ_CHECK(used == junk, "a failure moved usedBufSize to %u", used);
      ClClientFileRecord* left = nullptr;
      FUZZ_CHECK(list.fetchRecord(left) == CLIENT_FILE_RECORD_LIST_EMPTY,
                 "a failure left records listed");
      delete left;
      return 0;  // the stream cannot be trusted past here
    }
    FUZZ_CHECK(status == 0, "piece %zu [%zu, %zu): status %d", i, from, to, status);

    uint32_t expectedUsed;
    if (!hadPending)
      expectedUsed = model.end == Parsed::kCut ? junk + static_cast<uint32_t>(model.cutAt) : bufSize;
    else
      expectedUsed = model.end == Parsed::kCut ? bufSize : static_cast<uint32_t>(input.size());
    FUZZ_CHECK(used == expectedUsed, "piece %zu [%zu, %zu) after %zu cached: usedBufSize %u, expected %u",
               i, from, to, pending.size(), used, expectedUsed);

    pending = model.end == Parsed::kCut ? Bytes(input.begin() + model.cutAt, input.end()) : Bytes();

    for (uint32_t n = 0;; ++n) {
      ClClientFileRecord* raw = nullptr;
      int fetched = list.fetchRecord(raw);
      std::unique_ptr<ClClientFileRecord> record(raw);
      if (fetched != 0) {
        FUZZ_CHECK(fetched == CLIENT_FILE_RECORD_LIST_EMPTY && !raw, "fetch status %d", fetched);
        FUZZ_CHECK(n == model.records.size(), "piece %zu gave %u records, expected %zu", i, n,
                   model.records.size());
        break;
      }
      FUZZ_CHECK(n < model.records.size(), "piece %zu gave more than %zu records", i,
                 model.records.size());
      CheckRecord(record.get(), n, attributes, model.records[n]);
    }
  }
  return 0;
}
