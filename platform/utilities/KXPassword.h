// KXPassword: the reversible scheme in which the configuration records keep
// client passwords. A stored text is "kxp1:" followed by two hex digits per
// byte of the password, each byte XOR-ed with a rolling key.
//
// decrypt writes the password and a terminating NUL into `output`, which
// holds `length` bytes; on return `length` is the password's length. It
// returns 0, or non-zero (and leaves `output` an empty text when it has room)
// for a text that is not in the scheme or a password that does not fit with
// its NUL.
#pragma once

#include <string>

class KXPassword {
 public:
  static int decrypt(const std::string& stored, char* output, int& length);
  static std::string encrypt(const std::string& password);
};
