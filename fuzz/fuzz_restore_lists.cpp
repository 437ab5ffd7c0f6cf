// Fuzzes the restore's comma lists: the simulated restore program's decoder
// on an arbitrary chunk (no crash, and decoding what it decoded, escaped and
// joined again, gives the same items), and the round trip of arbitrary items
// through escapeComma, the three chunkers and that decoder.
//
// Input: a byte choosing the chunker, then items separated by 0x00 bytes
// (an item may hold any other byte, commas and percent signs included; empty
// items are left out, as the phase refuses them).
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SimRestoreProgram.h"
#include "restore/RestoreLists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzQuietLogging();
  if (size > 1 << 18) return 0;
  // The decoder on the whole input as one chunk.
  const std::string raw(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> decoded = SimRestoreProgram::CommaItems(raw);
  std::string rejoined;
  for (size_t i = 0; i < decoded.size(); ++i) rejoined += (i ? "," : "") + escapeComma(decoded[i].c_str());
  // escapeComma takes a C string: only texts without NUL go round.
  if (!decoded.empty() && raw.find('\0') == std::string::npos) {
    FUZZ_CHECK(SimRestoreProgram::CommaItems(rejoined) == decoded, "decode, escape, decode differs");
  }

  FuzzBytes in(data, size);
  const uint8_t chunker = in.byte() % 3;
  const std::vector<uint8_t> rest = in.rest();
  RestoreLists::Items items;
  std::string item;
  // The phase refuses an empty name, so none reaches a chunker.
  for (uint8_t b : rest) {
    if (b == 0) {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += static_cast<char>(b);
    }
  }
  if (!item.empty()) items.push_back(item);
  for (const std::string& one : items) {
    const std::string escaped = escapeComma(one.c_str());
    FUZZ_CHECK(escaped.find(',') == std::string::npos, "a comma survived escaping");
  }
  std::vector<std::string> back;
  std::string chunk;
  for (auto at = items.cbegin(); at != items.cend();) {
    size_t count = 0;
    if (chunker == 0) {
      at = RestoreLists::PreHeaderChunk(at, items.cend(), "HEAD", chunk, &count);
      FUZZ_CHECK(chunk.compare(0, 5, "HEAD,") == 0, "pre-header chunk without its head");
      chunk = chunk.substr(5);
    } else if (chunker == 1) {
      at = RestoreLists::PlainChunk(at, items.cend(), chunk, &count);
    } else {
      at = RestoreLists::ArchiveChunk(at, items.cend(), chunk, &count);
    }
    FUZZ_CHECK(count >= 1, "a chunk without items");
    FUZZ_CHECK(!chunk.empty(), "an empty chunk, which the client reads as END");
    std::vector<std::string> got = SimRestoreProgram::CommaItems(chunk);
    FUZZ_CHECK(got.size() == count, "%zu items decoded, %zu packed", got.size(), count);
    back.insert(back.end(), got.begin(), got.end());
  }
  FUZZ_CHECK(back == std::vector<std::string>(items.begin(), items.end()), "round trip differs");
  return 0;
}
