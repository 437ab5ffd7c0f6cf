#include "MutexProbe.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>

namespace {

typedef int (*MutexCall)(pthread_mutex_t*);

// Constant-initialised: the calls below may run before any static
// constructor of this binary.
std::atomic<const char*> g_begin(nullptr);
std::atomic<size_t> g_size(0);
std::atomic<int> g_holds(0);
std::atomic<MutexCall> g_lock(nullptr);
std::atomic<MutexCall> g_trylock(nullptr);
std::atomic<MutexCall> g_unlock(nullptr);

MutexCall Real(std::atomic<MutexCall>& slot, const char* name) {
  MutexCall call = slot.load(std::memory_order_acquire);
  if (!call) {
    call = reinterpret_cast<MutexCall>(dlsym(RTLD_NEXT, name));
    slot.store(call, std::memory_order_release);
  }
  return call;
}

int Note(pthread_mutex_t* mutex, int result, int delta) {
  const char* begin = g_begin.load();
  const char* at = reinterpret_cast<const char*>(mutex);
  if (result == 0 && begin && at >= begin && at < begin + g_size.load()) g_holds += delta;
  return result;
}

}  // namespace

namespace MutexProbe {

void Watch(const void* object, size_t size) {
  g_begin = nullptr;
  g_holds = 0;
  g_size = size;
  g_begin = static_cast<const char*>(object);
}

void Stop() { g_begin = nullptr; }

int Holds() { return g_holds; }

}  // namespace MutexProbe

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
  return Note(mutex, Real(g_lock, "pthread_mutex_lock")(mutex), 1);
}

extern "C" int pthread_mutex_trylock(pthread_mutex_t* mutex) {
  return Note(mutex, Real(g_trylock, "pthread_mutex_trylock")(mutex), 1);
}

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  return Note(mutex, Real(g_unlock, "pthread_mutex_unlock")(mutex), -1);
}
