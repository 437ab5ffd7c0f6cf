// ProxyServices: a handle on a cached service instance of one client, and
// the process-wide cache that hands them out.
//
// instanceForClient finds or creates the instance and connects it. Share
// key 0 takes only an idle instance of the client (none held) and otherwise
// adds a new one, so each handle has its instance to itself; a non-zero key
// shares the one instance of that key and client. Dropping the last handle
// on an instance leaves it cached and connected for 120 seconds, and one
// release thread per process releases (and so disconnects) it after that; a
// lookup in that time takes it back. The release thread starts with the
// first dropped handle; a failed start is logged and tried again at the next
// drop.
//
// Locking: the lookup holds the cache lock for its whole run, the connect
// to the client daemon included (one connect at a time in the process), and
// the release thread holds it while it takes each instance's mutex in turn.
// So one slow connect, or one long operation on any instance, delays every
// lookup of the process for as long.
//
// The operations forward to the instance (ProxyServicesPrivate.h). Errors
// of their own: Win32 6 "service already released" for a handle without an
// instance; Win32 2250 "service already disconnected" when the instance is
// not connected, except disconnectFromClient (success, nothing done) and the
// three create-index operations, which reconnect without the installation
// check and return the connect's error when that fails.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include <boost/shared_ptr.hpp>

#include "CWqError.h"
#include "CWqSocket.h"
#include "KXJobTypes.h"

class CKxNetwork;
namespace App {
class MachineBrowseResp;
class GenericResp;
}  // namespace App

class ProxyServicesPrivate;
class ProxyServices;
typedef boost::shared_ptr<ProxyServices> ProxyServicesPtr;

class ProxyServices {
 public:
  // A handle on `instance`; an empty pointer makes an inert handle.
  explicit ProxyServices(boost::shared_ptr<ProxyServicesPrivate> instance);
  virtual ~ProxyServices();
  ProxyServices(const ProxyServices&) = delete;
  ProxyServices& operator=(const ProxyServices&) = delete;

  // An empty pointer when the instance cannot be connected (logged only).
  static ProxyServicesPtr instanceForClient(int32_t shareKey, int32_t clientId, KXJobID jobId, bool noManage,
                                            bool sendCriticalEvent);
  static ProxyServicesPtr instanceForClient(int32_t clientId, KXJobID jobId, bool noManage,
                                            bool sendCriticalEvent);
  static ProxyServicesPtr instanceForClient(int32_t clientId);

  CWqError disconnectFromClient();
  CWqError createNewFolder(const char* path);
  CWqError commitBackupJob(int32_t first, uint64_t second, int32_t third, int32_t fourth);
  CWqError prepareVTLTape(const std::string& drive, const std::string& tape);
  CWqError clearCreateIndexFlag(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId);
  CWqError createIndexComplete(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId);
  CWqError isCreateIndexRequired(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId,
                                 bool& required);

  CWqError machineBrowse(char* path, CWqSocket socket, int64_t sequenceNumber, unsigned long requestedDriveTypes,
                         bool fillResponse, App::MachineBrowseResp* machineBrowseResp, App::GenericResp* genericResp,
                         CKxNetwork* network);
  CWqError downloadLogFiles(const std::string& destDir, unsigned long logRequest);
  CWqError downloadDirChangeFile(const std::string& destPath, int32_t first, int32_t second, uint64_t third);

  const boost::shared_ptr<ProxyServicesPrivate>& instance() const { return m_ptrPrivate; }

 private:
  // Win32 6 without an instance, 2250 when it is not connected.
  CWqError usable(const char* operation) const;
  // Reconnects an instance that is not connected (create-index operations).
  CWqError reconnected(uint64_t jobId);

  boost::shared_ptr<ProxyServicesPrivate> m_ptrPrivate;
};

// Exported for the product's host processes; does nothing.
extern "C" void unregisterClient();

// Entry of the release thread (the argument is not used).
void* ProxyServicesReleaseTimer(void*);

// The release thread's two steps, for the thread and for tests.
namespace ProxyServicesRelease {
// Step 1: the wait in seconds before the next scan, from the pass counter
// `n` and the times `now` and `next`.
int32_t NextWait(int32_t& n, int64_t now, int64_t next);
// Step 5: removes the instances whose release time has come (greater than
// 0, not after `now`) and lowers `next` to the earliest release time left.
// The caller holds the cache lock when `services` is the cache.
void Scan(std::list<boost::shared_ptr<ProxyServicesPrivate>>& services, int64_t now, int64_t& next);
}  // namespace ProxyServicesRelease

// What tests see of the process-wide cache.
class ProxyServicesCache {
 public:
  // Stops and joins the release thread and empties the cache; the next
  // dropped handle starts a new thread on the clock then in force.
  static void Reset();
  static size_t Size();
  static bool ReleaseThreadRunning();
  // The release thread's wake-up event: its waits, and a wait until the
  // thread is parked in it.
  static class FXEvent& WakeEvent();
};

// Log argument helpers of the service unit.
namespace kxcast {
inline const char* s(const char* text) { return text ? text : "(null)"; }
inline long long lld(long long value) { return value; }
inline unsigned long lu(unsigned long value) { return value; }
}  // namespace kxcast
