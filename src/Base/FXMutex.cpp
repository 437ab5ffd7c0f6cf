#include "FXMutex.h"

uint32_t GetCurrentThreadId() {
  // pthread_t is an integer on Linux; its low 32 bits tell threads apart.
  return static_cast<uint32_t>(pthread_self());
}

bool FXLockableResource::TryLock(CTimeInterval) { return TryLock(); }

FXMutex::FXMutex() : m_iLockCount(0) { Init(); }

FXMutex::~FXMutex() {
  // Unlock makes no progress for a thread that does not hold the mutex, so
  // stop there instead of looping.
  while (GetLockCount() > 0) {
    const int32_t before = GetLockCount();
    Unlock();
    if (GetLockCount() == before) break;
  }
}

void FXMutex::Init() {
  ClearLockOwner();
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&m_mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

bool FXMutex::TryLock() {
  if (pthread_mutex_trylock(&m_mutex) != 0) return false;
  m_iLockCount.fetch_add(1, std::memory_order_relaxed);
  SetLockOwner();
  return true;
}

bool FXMutex::TryLock(CTimeInterval interval) { return FXLockableResource::TryLock(interval); }

void FXMutex::Lock() {
  if (pthread_mutex_lock(&m_mutex) != 0) return;
  m_iLockCount.fetch_add(1, std::memory_order_relaxed);
  SetLockOwner();
}

void FXMutex::Unlock() {
  // Only the holder may touch the count and the owner. A recursive mutex
  // lets its holder (or anyone, when it is free) take it once more at once,
  // and refuses everybody else: that tells a holder from a stranger exactly.
  // The count and the owner change only while that extra hold keeps the
  // holder's own hold in place, so no other thread can have locked between.
  if (pthread_mutex_trylock(&m_mutex) != 0) return;  // held by another thread
  const int32_t count = m_iLockCount.load(std::memory_order_relaxed);
  if (count > 0) {
    // This thread is the holder: give back one of its holds.
    m_iLockCount.store(count - 1, std::memory_order_relaxed);
    if (count == 1) ClearLockOwner();
    pthread_mutex_unlock(&m_mutex);
  }
  // The extra hold; when the mutex was free, the only one.
  pthread_mutex_unlock(&m_mutex);
}

auto_lock::auto_lock(FXLockableResource* resource, bool lockNow)
    : m_pResource(resource), m_bHeld(false) {
  if (lockNow) Lock();
}

auto_lock::~auto_lock() { Unlock(); }

void auto_lock::Lock() {
  if (m_pResource && !m_bHeld) {
    m_pResource->Lock();
    m_bHeld = true;
  }
}

void auto_lock::Unlock() {
  if (m_pResource && m_bHeld) {
    m_pResource->Unlock();
    m_bHeld = false;
  }
}
