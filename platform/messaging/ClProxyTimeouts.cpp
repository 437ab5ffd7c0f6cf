#include "ClProxyTimeouts.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <mutex>
#include <string>

#include "FXClock.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "SettingsStorage.h"

namespace {

struct TimeOutKind {
  TimeOut_enum kind;
  const char* name;
  int defaultValue;
};

// A constant table: no dynamic initialisation, usable at any time.
constexpr TimeOutKind kKinds[] = {
    {TIMEOUT_UPDATE_ACK, "TIMEOUT_UPDATE_ACK", 600},
    {TIMEOUT_VERSION_REPLY, "TIMEOUT_VERSION_REPLY", 60},
    {TIMEOUT_NEXT_FILE, "TIMEOUT_NEXT_FILE", 1800},
    {TIMEOUT_FILE_DATA, "TIMEOUT_FILE_DATA", 300},
    {TIMEOUT_FILE_DATA_RETRIES, "TIMEOUT_FILE_DATA_RETRIES", 3},
    {TIMEOUT_COLLECT_FILE_REQUEST, "TIMEOUT_COLLECT_FILE_REQUEST", 600},
    {TIMEOUT_DAEMON_REPLY, "TIMEOUT_DAEMON_REPLY", 120},
    {TIMEOUT_PROCESS_STATUS, "TIMEOUT_PROCESS_STATUS", 60},
    {TIMEOUT_JOB_START_REPLY, "TIMEOUT_JOB_START_REPLY", 300},
    {TIMEOUT_RESTORE_COMPLETE, "TIMEOUT_RESTORE_COMPLETE", 600},
    {TIMEOUT_BROWSE_REPLY, "TIMEOUT_BROWSE_REPLY", 300},
    {TIMEOUT_DOWNLOAD, "TIMEOUT_DOWNLOAD", 300},
    {TIMEOUT_CREATE_FOLDER_REPLY, "TIMEOUT_CREATE_FOLDER_REPLY", 120},
    {TIMEOUT_CLIENT_CONNECT, "TIMEOUT_CLIENT_CONNECT", 300},
    {TIMEOUT_CONTROL_PORT, "TIMEOUT_CONTROL_PORT", 300},
    {TIMEOUT_UPDATE_SERVICES_STOP, "TIMEOUT_UPDATE_SERVICES_STOP", 600},
    {TIMEOUT_UPDATE_RECONNECT, "TIMEOUT_UPDATE_RECONNECT", 30},
    {TIMEOUT_SYSTEM_SIZE_REPLY, "TIMEOUT_SYSTEM_SIZE_REPLY", 30},
    {TIMEOUT_TAPE_INIT_REPLY, "TIMEOUT_TAPE_INIT_REPLY", 300},
    {TIMEOUT_VTL_CLEANUP_REPLY, "TIMEOUT_VTL_CLEANUP_REPLY", 30},
    {TIMEOUT_REQUESTER_WRITE, "TIMEOUT_REQUESTER_WRITE", 60},
    {TIMEOUT_TAPE_REMOTE_CALL, "TIMEOUT_TAPE_REMOTE_CALL", 300},
};

const int kUnknownKindValue = 60;

const TimeOutKind* Find(TimeOut_enum kind) {
  for (const TimeOutKind& k : kKinds)
    if (k.kind == kind) return &k;
  return nullptr;
}

}  // namespace

const char* getTimeOutName(TimeOut_enum kind) {
  const TimeOutKind* k = Find(kind);
  return k ? k->name : nullptr;
}

namespace {

const size_t kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);
// How often the section's file is looked at for changes made by others.
const int64_t kFileCheckMs = 1000;

// What identifies one content of the section's file: a write replaces the
// file (new inode), so any change shows here.
struct FileStamp {
  bool exists = false;
  ino_t inode = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;

  bool operator==(const FileStamp& other) const {
    return exists == other.exists && inode == other.inode && size == other.size && mtimeNs == other.mtimeNs;
  }
};

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return stamp;
}

int ReadOne(KXPlatformInfo& settings, const TimeOutKind& k) {
  unsigned long stored = 0;
  if (!settings.getNumber(kTimeOutSettingsSection, k.name, &stored)) return k.defaultValue;
  int64_t value = static_cast<int64_t>(stored);
  if (value < 0) {
    // A negative wait would mean "take only what has arrived": an endless
    // wait built on it would spin.
    FX_LOG(-1, "Timeout %s set to %lld, which is negative: using the default %d", k.name,
           static_cast<long long>(value), k.defaultValue);
    return k.defaultValue;
  }
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// The values of one reading of the settings, and what they were read from.
class TimeOutCache {
 public:
  int Get(size_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Into a kept string: a lookup on a receive loop allocates nothing.
    KXPlatformInfo::RootDirectory(m_sRootNow);
    const std::string& root = m_sRootNow;
    const uint64_t changes = SettingsStorage::ChangeCount();
    const int64_t nowMs = FXGetClock().MonotonicMs();
    bool stale = !m_bLoaded || root != m_sRoot || changes != m_uChanges;
    if (!stale && (nowMs - m_iCheckedMs >= kFileCheckMs || nowMs < m_iCheckedMs)) {
      m_iCheckedMs = nowMs;
      stale = !(StampOf(m_sPath) == m_stamp);
    }
    if (stale) Load(root, changes, nowMs);
    return m_values[index];
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bLoaded = false;
  }

 private:
  void Load(const std::string& root, uint64_t changes, int64_t nowMs) {
    m_sRoot = root;
    m_uChanges = changes;
    m_iCheckedMs = nowMs;
    m_sPath = SettingsStorage::SectionPath(root, kTimeOutSettingsSection);
    // Stamped before reading: a change made meanwhile is seen next time.
    m_stamp = StampOf(m_sPath);
    KXPlatformInfo settings;
    for (size_t i = 0; i < kKindCount; ++i) m_values[i] = ReadOne(settings, kKinds[i]);
    m_bLoaded = true;
  }

  std::mutex m_mutex;
  bool m_bLoaded = false;
  std::string m_sRoot;
  std::string m_sRootNow;  // the root of the current lookup
  std::string m_sPath;
  uint64_t m_uChanges = 0;
  int64_t m_iCheckedMs = 0;
  FileStamp m_stamp;
  int m_values[kKindCount] = {};
};

TimeOutCache& Cache() {
  static TimeOutCache* cache = new TimeOutCache;  // never destroyed: usable until the process ends
  return *cache;
}

}  // namespace

int getTimeOutValue(TimeOut_enum kind) {
  const TimeOutKind* k = Find(kind);
  if (!k) {
    FX_LOG(-1, "Unknown timeout kind %d, using %d", static_cast<int>(kind), kUnknownKindValue);
    return kUnknownKindValue;
  }
  return Cache().Get(static_cast<size_t>(k - kKinds));
}

void resetTimeOutValues() { Cache().Reset(); }
