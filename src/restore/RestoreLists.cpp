#include "RestoreLists.h"

#include <cstring>

namespace RestoreLists {

namespace {

void AppendEscaped(const std::string& item, std::string& out) {
  for (char c : item) {
    if (c == ',') {
      out += "%c";
    } else if (c == '%') {
      out += "%%";
    } else {
      out += c;
    }
  }
}

void AppendEscaped(const char* item, std::string& out) {
  for (const char* c = item; *c; ++c) {
    if (*c == ',') {
      out += "%c";
    } else if (*c == '%') {
      out += "%%";
    } else {
      out += *c;
    }
  }
}

// Items appended one at a time; the chunk closes once it is past the limit.
Items::const_iterator Fill(Items::const_iterator from, Items::const_iterator end, bool separateFirst,
                           std::string& chunk, size_t* count) {
  size_t taken = 0;
  while (from != end) {
    if (separateFirst || taken) chunk += ',';
    AppendEscaped(*from, chunk);
    ++from;
    ++taken;
    if (chunk.size() > kChunkLimit) break;
  }
  if (count) *count = taken;
  return from;
}

}  // namespace

std::string EscapeComma(const char* item) {
  std::string out;
  if (!item) return out;
  out.reserve(std::strlen(item) + 16);
  AppendEscaped(item, out);
  return out;
}

Items::const_iterator PreHeaderChunk(Items::const_iterator from, Items::const_iterator end, const std::string& head,
                                     std::string& chunk, size_t* count) {
  chunk = head;
  return Fill(from, end, true, chunk, count);
}

Items::const_iterator PlainChunk(Items::const_iterator from, Items::const_iterator end, std::string& chunk,
                                 size_t* count) {
  chunk.clear();
  return Fill(from, end, false, chunk, count);
}

Items::const_iterator ArchiveChunk(Items::const_iterator from, Items::const_iterator end, std::string& chunk,
                                   size_t* count) {
  chunk.clear();
  size_t taken = 0;
  while (from != end && chunk.size() < kChunkLimit) {
    if (taken) chunk += ',';
    AppendEscaped(*from, chunk);
    ++from;
    ++taken;
  }
  if (count) *count = taken;
  return from;
}

}  // namespace RestoreLists

std::string escapeComma(const char* item) { return RestoreLists::EscapeComma(item); }
