#include "KXPassword.h"

#include <cstring>

namespace {

const char kPrefix[] = "kxp1:";

unsigned char Key(size_t index) { return static_cast<unsigned char>(0x5A + 7 * index); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string KXPassword::encrypt(const std::string& password) {
  static const char digits[] = "0123456789abcdef";
  std::string out(kPrefix);
  for (size_t i = 0; i < password.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(password[i]) ^ Key(i);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

int KXPassword::decrypt(const std::string& stored, char* output, int& length) {
  const int capacity = length;
  if (output && capacity > 0) output[0] = '\0';
  length = 0;
  const size_t prefix = sizeof(kPrefix) - 1;
  if (!output || capacity <= 0 || stored.compare(0, prefix, kPrefix) != 0 || (stored.size() - prefix) % 2 != 0)
    return 1;
  const size_t bytes = (stored.size() - prefix) / 2;
  if (bytes + 1 > static_cast<size_t>(capacity)) return 2;
  for (size_t i = 0; i < bytes; ++i) {
    const int hi = HexValue(stored[prefix + 2 * i]);
    const int lo = HexValue(stored[prefix + 2 * i + 1]);
    if (hi < 0 || lo < 0) {
      output[0] = '\0';
      return 1;
    }
    output[i] = static_cast<char>(static_cast<unsigned char>(hi * 16 + lo) ^ Key(i));
  }
  output[bytes] = '\0';
  length = static_cast<int>(bytes);
  return 0;
}
