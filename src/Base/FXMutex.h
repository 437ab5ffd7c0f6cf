// The in-house lock family.
//
// FXLockableResource: something that can be locked, with the id of the
// thread that holds it (0 when none). FXMutex: a recursive POSIX mutex that
// counts its holds; each Lock or successful TryLock is matched by one Unlock.
// An Unlock by a thread that does not hold the mutex changes nothing.
// auto_lock: holds a resource for a scope.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "CTimeInterval.h"

// pthread_self() cut to its low 32 bits.
uint32_t GetCurrentThreadId();

class FXLockableResource {
 public:
  FXLockableResource() : m_uOwnerThreadId(0) {}
  virtual ~FXLockableResource() {}
  virtual bool TryLock() = 0;
  // Tries once, at once: the interval is not waited.
  virtual bool TryLock(CTimeInterval interval) = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

  // Any thread may ask; only the holder changes it.
  uint32_t GetOwnerThreadId() const { return m_uOwnerThreadId.load(std::memory_order_relaxed); }

 protected:
  void SetLockOwner() { m_uOwnerThreadId.store(GetCurrentThreadId(), std::memory_order_relaxed); }
  void ClearLockOwner() { m_uOwnerThreadId.store(0, std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> m_uOwnerThreadId;
};

class FXMutex : public FXLockableResource {
 public:
  FXMutex();
  // Releases every hold of the destroying thread. A mutex is destroyed only
  // when no other thread holds it.
  ~FXMutex() override;
  bool TryLock() override;
  bool TryLock(CTimeInterval interval) override;
  void Lock() override;
  void Unlock() override;
  virtual void Init();

  // Meaningful to the holder; other threads may read it at any time.
  int32_t GetLockCount() const { return m_iLockCount.load(std::memory_order_relaxed); }

 private:
  FXMutex(const FXMutex&) = delete;
  FXMutex& operator=(const FXMutex&) = delete;

  pthread_mutex_t m_mutex;
  std::atomic<int32_t> m_iLockCount;  // changed only under the holder's own hold
};

class auto_lock {
 public:
  // Keeps `resource` (not owned); locks it at once when `lockNow`.
  auto_lock(FXLockableResource* resource, bool lockNow = true);
  ~auto_lock();
  void Lock();
  void Unlock();

 private:
  auto_lock(const auto_lock&) = delete;
  auto_lock& operator=(const auto_lock&) = delete;

  FXLockableResource* m_pResource;
  bool m_bHeld;
};
