#include "AllocProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_armed(false);
std::atomic<size_t> g_largest(0);

void Note(size_t size) {
  if (!g_armed.load(std::memory_order_relaxed)) return;
  size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
}

void* Allocate(size_t size) {
  Note(size);
  return std::malloc(size ? size : 1);
}

}  // namespace

namespace AllocProbe {

void Arm() {
  g_largest = 0;
  g_armed = true;
}

void Disarm() { g_armed = false; }

size_t Largest() { return g_largest; }

}  // namespace AllocProbe

void* operator new(size_t size) {
  void* p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
