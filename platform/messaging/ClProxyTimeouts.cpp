#include "ClProxyTimeouts.h"

#include <climits>
#include <cstdint>

#include "FXLogWriter.h"
#include "KXPlatformInfo.h"

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

int getTimeOutValue(TimeOut_enum kind) {
  const TimeOutKind* k = Find(kind);
  if (!k) {
    FX_LOG(-1, "Unknown timeout kind %d, using %d", static_cast<int>(kind), kUnknownKindValue);
    return kUnknownKindValue;
  }
  unsigned long stored = 0;
  KXPlatformInfo settings;
  if (!settings.getNumber(kTimeOutSettingsSection, k->name, &stored)) return k->defaultValue;
  int64_t value = static_cast<int64_t>(stored);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}
