// A byte block made with malloc and freed with free: the form in which the
// channel receives a payload, so that a receiver can take the block itself
// and free it later without knowing the message it came in.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

struct ClMallocFree {
  void operator()(void* block) const { std::free(block); }
};
typedef std::unique_ptr<uint8_t, ClMallocFree> ClMallocBlock;

// A block of `length` bytes (at least one byte is allocated, so a block of
// length 0 is never null); null when memory runs out.
inline ClMallocBlock ClMallocBlockOf(uint32_t length) {
  return ClMallocBlock(static_cast<uint8_t*>(std::malloc(length ? length : 1)));
}
