#include "GetObjectGuid.h"

#include <cstdint>
#include <cstdio>

#include "Fnv1a.h"

int GetObjectGuid(const std::string& path, int, char, std::string& guid) {
  const uint64_t high = Fnv1a64(path, kFnv1aBasis);
  const uint64_t low = Fnv1a64(path, kFnv1aSecondBasis);
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%04X%08X}", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned>((low >> 32) & 0xFFFF),
                static_cast<unsigned>(low & 0xFFFFFFFF));
  guid = text;
  return 0;
}
