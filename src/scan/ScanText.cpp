#include "ScanText.h"

#include <strings.h>

#include <algorithm>

namespace ScanText {

int CompareLeftNoCase(const std::string& text, const std::string& prefix, size_t count) {
  // strncasecmp stops at the end of the shorter text, which then compares
  // unequal: a text shorter than the prefix never matches.
  return strncasecmp(text.c_str(), prefix.c_str(), std::min(count, prefix.size()));
}

bool MatchRightNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return strncasecmp(text.c_str() + (text.size() - suffix.size()), suffix.c_str(), suffix.size()) == 0;
}

std::string RemoveRight(const std::string& text, size_t count) {
  if (count >= text.size()) return std::string();
  return text.substr(0, text.size() - count);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "/";
  return path.substr(0, slash + 1);
}

}  // namespace ScanText
