// Fnv1a64: the 64-bit FNV-1a hash of a text's bytes from a given basis. The
// same on every run and on either byte order; two bases give two
// independent halves of a 128-bit digest. Not a cryptographic hash.
#pragma once

#include <cstdint>
#include <string>

const uint64_t kFnv1aBasis = 0xcbf29ce484222325ull;
const uint64_t kFnv1aSecondBasis = 0x84222325cbf29ce4ull;

inline uint64_t Fnv1a64(const std::string& text, uint64_t basis) {
  uint64_t hash = basis;
  for (unsigned char byte : text) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  }
  return hash;
}
