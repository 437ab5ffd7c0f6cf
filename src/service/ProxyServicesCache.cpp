// The process-wide cache of service instances, the lookup, the handle's
// life and the release thread.
#include <atomic>
#include <memory>

#include "FXErrorUtil.h"
#include "FXEvent.h"
#include "FXLogWriter.h"
#include "FXThread.h"
#include "KXThread.h"
#include "KxCriticalSection.h"
#include "ProxyServices.h"
#include "ProxyServicesPrivate.h"

namespace {

// Built in this order when the library is loaded, destroyed in reverse.
std::list<boost::shared_ptr<ProxyServicesPrivate>> services;
KxCriticalSection servicesLock;
FXEvent s_servicesEvent(0);
std::atomic<bool> s_bReleaseThreadRunning(false);

// Owns the release thread. Built after the statics above and so destroyed
// before them: at unload and exit it stops and joins the thread before the
// cache, its lock and its event go.
class ReleaseThreadOwner {
 public:
  ~ReleaseThreadOwner() { stop(); }

  // Under servicesLock. False when the thread could not be started.
  bool start() {
    m_bStop.store(false);
    std::unique_ptr<KXThread> thread(new KXThread());
    if (!thread->createThread(ProxyServicesReleaseTimer, nullptr)) {
      FX_LOG(-1, "Failed to start the ProxyService release thread: %s", thread->getLastError().c_str());
      return false;
    }
    m_thread = std::move(thread);
    return true;
  }

  // Not under servicesLock: the thread takes it for its scan.
  void stop() {
    std::unique_ptr<KXThread> thread;
    {
      KxCriticalSectionLock lock(&servicesLock);
      thread = std::move(m_thread);
      m_bStop.store(true);
      s_bReleaseThreadRunning.store(false);
    }
    s_servicesEvent.Set();
    if (thread) thread->joinThread(-1, nullptr);
    // A wake-up the thread did not take must not cut the next one's wait.
    s_servicesEvent.Reset();
  }

  bool stopping() const { return m_bStop.load(); }

 private:
  std::unique_ptr<KXThread> m_thread;
  std::atomic<bool> m_bStop{false};
};

ReleaseThreadOwner s_releaseThreadOwner;

void StartReleaseThreadOnce() {
  if (s_bReleaseThreadRunning.load()) return;
  KxCriticalSectionLock lock(&servicesLock);
  if (s_bReleaseThreadRunning.load()) return;
  if (s_releaseThreadOwner.start()) s_bReleaseThreadRunning.store(true);
}

}  // namespace

// ---- the handle ----

ProxyServices::ProxyServices(boost::shared_ptr<ProxyServicesPrivate> instance) : m_ptrPrivate(std::move(instance)) {
  if (m_ptrPrivate) m_ptrPrivate->takeHandle();
}

ProxyServices::~ProxyServices() {
  if (!m_ptrPrivate) return;
  StartReleaseThreadOnce();
  ProxyServicesPrivate* instance = m_ptrPrivate.get();
  const int64_t releaseAt = FXTime() + ProxyServicesPrivate::kReleaseDelaySeconds;
  if (instance->dropHandle(releaseAt)) {
    s_servicesEvent.Set();
    FX_LOG(3, "Will release ProxyService instance %p for client %d:%d after %d seconds", static_cast<void*>(instance),
           instance->shareKey(), instance->clientId(), ProxyServicesPrivate::kReleaseDelaySeconds);
  }
  // An instance that the cache no longer lists and no handle holds goes here.
}

void ProxyServicesPrivate::takeHandle() {
  auto_lock lock(&m_mutex);
  m_iHandles.fetch_add(1);
  m_tReleaseTime.store(0);
}

bool ProxyServicesPrivate::releaseDue(int64_t now, int64_t& next) {
  auto_lock lock(&m_mutex);
  const int64_t releaseTime = m_tReleaseTime.load();
  if (releaseTime > 0 && releaseTime <= now) return true;
  if (releaseTime > 0 && releaseTime < next) next = releaseTime;
  return false;
}

bool ProxyServicesPrivate::dropHandle(int64_t releaseAt) {
  auto_lock lock(&m_mutex);
  // Only the last handle starts the delay: a shared instance still held
  // must not be released under its other holders.
  if (m_iHandles.fetch_sub(1) != 1) return false;
  m_tReleaseTime.store(releaseAt);
  return true;
}

// ---- the lookup ----

ProxyServicesPtr ProxyServices::instanceForClient(int32_t shareKey, int32_t clientId, KXJobID jobId, bool noManage,
                                                  bool sendCriticalEvent) {
  KxCriticalSectionLock lock(&servicesLock);
  boost::shared_ptr<ProxyServicesPrivate> taken;
  for (const boost::shared_ptr<ProxyServicesPrivate>& entry : services) {
    if (entry->shareKey() != shareKey || entry->clientId() != clientId) continue;
    if (shareKey != 0 || entry->releaseTime() != 0) {
      taken = entry;
      break;
    }
  }
  if (!taken) {
    taken.reset(new ProxyServicesPrivate(shareKey, clientId));
    services.push_back(taken);
  }
  ProxyServicesPtr handle(new ProxyServices(taken));
  FX_LOG(2, "Using service instance %p", static_cast<void*>(taken.get()));

  if (!taken->isConnected()) {
    CWqError result = taken->connectToClient(jobId, noManage, sendCriticalEvent);
    if (result.IsError()) {
      FX_LOG(-1, "connectToClient failed. %s", result.AsString().c_str());
      handle.reset();
      services.remove(taken);
      return ProxyServicesPtr();
    }
  }
  return handle;
}

ProxyServicesPtr ProxyServices::instanceForClient(int32_t clientId, KXJobID jobId, bool noManage,
                                                  bool sendCriticalEvent) {
  return instanceForClient(0, clientId, jobId, noManage, sendCriticalEvent);
}

ProxyServicesPtr ProxyServices::instanceForClient(int32_t clientId) {
  return instanceForClient(0, clientId, 0, false, true);
}

// ---- the release thread ----

int32_t ProxyServicesRelease::NextWait(int32_t& n, int64_t now, int64_t next) {
  const int32_t d = static_cast<int32_t>(next - now);
  if (d > 0) {
    n = 1;
    return d;
  }
  ++n;
  return n * ProxyServicesPrivate::kReleaseDelaySeconds;
}

void ProxyServicesRelease::Scan(std::list<boost::shared_ptr<ProxyServicesPrivate>>& list, int64_t now,
                                int64_t& next) {
  for (auto it = list.begin(); it != list.end();) {
    boost::shared_ptr<ProxyServicesPrivate> instance = *it;
    FX_LOG(3, "Check for ProxyService instance %p for client %d:%d", static_cast<void*>(instance.get()),
           instance->shareKey(), instance->clientId());
    const bool release = instance->releaseDue(now, next);
    if (release)
      FX_LOG(3, "Releasing ProxyService instance %p for client %d:%d", static_cast<void*>(instance.get()),
             instance->shareKey(), instance->clientId());
    it = release ? list.erase(it) : std::next(it);
    // `instance` goes here: one that was released and that no handle holds
    // is destroyed, and so disconnected, on this thread.
  }
}

void* ProxyServicesReleaseTimer(void*) {
  int32_t n = 1;
  int64_t now = FXTime();
  int64_t next = now;
  while (!s_releaseThreadOwner.stopping()) {
    const int32_t wait = ProxyServicesRelease::NextWait(n, now, next);
    FX_LOG(3, "Sleep for %d seconds", wait);
    s_servicesEvent.WaitForSet(static_cast<int64_t>(wait) * 1000);
    if (s_releaseThreadOwner.stopping()) break;
    now = FXTime();
    ++n;
    next = now + static_cast<int64_t>(n) * ProxyServicesPrivate::kReleaseDelaySeconds;
    KxCriticalSectionLock lock(&servicesLock);
    ProxyServicesRelease::Scan(services, now, next);
  }
  return nullptr;
}

// ---- what tests see ----

void ProxyServicesCache::Reset() {
  s_releaseThreadOwner.stop();
  std::list<boost::shared_ptr<ProxyServicesPrivate>> dropped;
  {
    KxCriticalSectionLock lock(&servicesLock);
    dropped.swap(services);
  }
  // Instances no handle holds are destroyed (and disconnected) here.
}

size_t ProxyServicesCache::Size() {
  KxCriticalSectionLock lock(&servicesLock);
  return services.size();
}

bool ProxyServicesCache::ReleaseThreadRunning() { return s_bReleaseThreadRunning.load(); }

FXEvent& ProxyServicesCache::WakeEvent() { return s_servicesEvent; }
