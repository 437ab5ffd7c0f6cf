// Fuzzes the item-status parser on arbitrary payloads against a model that
// walks the same encoding byte by byte: the same records in the same order,
// a partial entry reported exactly when one remains, and (under ASan) no
// read past the payload, which is copied into a block of its exact size.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "restore/RestoreStatusList.h"

namespace {

bool ReadU32(const std::vector<uint8_t>& b, size_t& at, uint32_t& v) {
  if (b.size() - at < 4) return false;
  v = (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
  at += 4;
  return true;
}

bool ReadString(const std::vector<uint8_t>& b, size_t& at, std::string& s) {
  uint32_t n = 0;
  if (!ReadU32(b, at, n) || b.size() - at < n) return false;
  s.assign(reinterpret_cast<const char*>(b.data() + at), n);
  at += n;
  return true;
}

bool Model(const std::vector<uint8_t>& b, std::vector<RestoreStatus>& out) {
  size_t at = 0;
  while (at < b.size()) {
    RestoreStatus s;
    size_t p = at;
    uint32_t high = 0, low = 0;
    if (!ReadString(b, p, s.itemName) || !ReadString(b, p, s.itemMessage) || !ReadU32(b, p, s.itemStatus) ||
        !ReadU32(b, p, high) || !ReadU32(b, p, low))
      return false;
    s.itemValue = (uint64_t(high) << 32) | low;
    out.push_back(s);
    at = p;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzQuietLogging();
  if (size > 1 << 20) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(exact.get(), data, size);
  std::vector<RestoreStatus> parsed, modelled;
  const bool whole = ParseItemStatusPayload(exact.get(), static_cast<uint32_t>(size), parsed);
  const bool modelWhole = Model(bytes, modelled);
  FUZZ_CHECK(whole == modelWhole, "whole %d, model %d", whole, modelWhole);
  FUZZ_CHECK(parsed.size() == modelled.size(), "%zu records, model %zu", parsed.size(), modelled.size());
  for (size_t i = 0; i < parsed.size(); ++i) {
    FUZZ_CHECK(parsed[i].itemName == modelled[i].itemName && parsed[i].itemMessage == modelled[i].itemMessage &&
                   parsed[i].itemStatus == modelled[i].itemStatus && parsed[i].itemValue == modelled[i].itemValue,
               "record %zu differs", i);
  }
  return 0;
}
