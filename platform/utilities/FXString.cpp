#include "FXString.h"

#include <strings.h>

int FXString::CompareLeftNoCase(const std::string& text, const std::string& prefix) {
  return ::strncasecmp(text.c_str(), prefix.c_str(), prefix.size());
}

void FXString::Split(const std::string& text, const std::string& separator, std::list<std::string>& pieces,
                     int option) {
  pieces.clear();
  const bool dropEmpty = option == 1;
  if (separator.empty()) {
    if (!(dropEmpty && text.empty())) pieces.push_back(text);
    return;
  }
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    const size_t end = at == std::string::npos ? text.size() : at;
    if (!(dropEmpty && end == start)) pieces.push_back(text.substr(start, end - start));
    if (at == std::string::npos) break;
    start = at + separator.size();
  }
}

std::string FXString::Join(const std::list<std::string>& pieces, const std::string& separator) {
  std::string joined;
  bool first = true;
  for (const std::string& piece : pieces) {
    if (!first) joined += separator;
    joined += piece;
    first = false;
  }
  return joined;
}
