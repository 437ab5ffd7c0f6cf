#include "GetObjectGuid.h"

#include <cstdint>
#include <cstdio>

namespace {

// FNV-1a over the path's bytes from a given basis.
uint64_t Hash(const std::string& text, uint64_t basis) {
  uint64_t hash = basis;
  for (unsigned char byte : text) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

}  // namespace

int GetObjectGuid(const std::string& path, int, char, std::string& guid) {
  const uint64_t high = Hash(path, 0xcbf29ce484222325ull);
  const uint64_t low = Hash(path, 0x84222325cbf29ce4ull);
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%04X%08X}", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned>((low >> 32) & 0xFFFF),
                static_cast<unsigned>(low & 0xFFFFFFFF));
  guid = text;
  return 0;
}
