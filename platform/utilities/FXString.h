// FXString: small text helpers of the platform.
#pragma once

#include <list>
#include <string>

class FXString {
 public:
  // strncasecmp of `text` and `prefix` over the prefix's length: 0 when the
  // text begins with the prefix in any letter case, else the sign of the
  // case-insensitive comparison of those characters.
  static int CompareLeftNoCase(const std::string& text, const std::string& prefix);
  // The first length-of-`start` characters of `text` compared with `start`
  // as std::string::compare does: 0 when text begins with start (a text
  // shorter than start never gives 0).
  static int CompareLeft(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start);
  }

  // Splits `text` at each occurrence of `separator` into `pieces` (which is
  // emptied first), in order. Option 1 drops empty pieces; 0 keeps them. An
  // empty separator gives the whole text as one piece.
  static void Split(const std::string& text, const std::string& separator, std::list<std::string>& pieces,
                    int option);

  // The pieces in order with `separator` between them; "" for none.
  static std::string Join(const std::list<std::string>& pieces, const std::string& separator);
};
