// Timeout kinds and getTimeOutValue: every wait, time limit or retry count
// of the proxy exchanges that is not a fixed number is looked up by kind.
//
// getTimeOutValue gives the number named after the kind (for example
// "TIMEOUT_DAEMON_REPLY") in the settings section "ProxyTimeouts"; an absent
// value gives the built-in default below. The data paths ask per block, so
// the values are read once and kept for the process; they are read again
// when this process changes the settings store or points it at another
// folder (KXPlatformInfo, ScopedSettingsRoot), and within about a second
// when another process changes the section's file. The stored number is
// taken as a signed 64-bit value and clamped to the int range; a negative
// value (one stored as (unsigned long)-1 too) is refused with a level -1
// line and the default is used.
//
//   kind                          value  default  unit
//   TIMEOUT_UPDATE_ACK                0      600  seconds
//   TIMEOUT_VERSION_REPLY             1       60  seconds
//   TIMEOUT_NEXT_FILE                 2     1800  seconds
//   TIMEOUT_FILE_DATA                 4      300  seconds
//   TIMEOUT_FILE_DATA_RETRIES         5        3  attempts
//   TIMEOUT_COLLECT_FILE_REQUEST     11      600  seconds
//   TIMEOUT_DAEMON_REPLY             12      120  seconds
//   TIMEOUT_PROCESS_STATUS           13       60  seconds
//   TIMEOUT_JOB_START_REPLY          14      300  seconds
//   TIMEOUT_RESTORE_COMPLETE         15      600  seconds
//   TIMEOUT_BROWSE_REPLY             16      300  seconds
//   TIMEOUT_DOWNLOAD                 17      300  seconds
//   TIMEOUT_CREATE_FOLDER_REPLY      18      120  seconds
//   TIMEOUT_CLIENT_CONNECT           19      300  seconds
//   TIMEOUT_CONTROL_PORT             20      300  seconds
//   TIMEOUT_UPDATE_SERVICES_STOP     23      600  seconds
//   TIMEOUT_UPDATE_RECONNECT         24       30  minutes
//   TIMEOUT_SYSTEM_SIZE_REPLY        40       30  seconds (one wait of many)
//   TIMEOUT_TAPE_INIT_REPLY          41      300  seconds
//   TIMEOUT_VTL_CLEANUP_REPLY        42       30  seconds
//   TIMEOUT_REQUESTER_WRITE          43       60  seconds (one buffer to a requester)
//   TIMEOUT_TAPE_REMOTE_CALL         44      300  seconds (each step of a
//                                                   media agent call)
//
// A value that is not one of these kinds reads as 60 (logged at level -1).
#pragma once

enum TimeOut_enum {
  TIMEOUT_UPDATE_ACK = 0,
  TIMEOUT_VERSION_REPLY = 1,
  TIMEOUT_NEXT_FILE = 2,
  TIMEOUT_FILE_DATA = 4,
  TIMEOUT_FILE_DATA_RETRIES = 5,
  TIMEOUT_COLLECT_FILE_REQUEST = 11,
  TIMEOUT_DAEMON_REPLY = 12,
  TIMEOUT_PROCESS_STATUS = 13,
  TIMEOUT_JOB_START_REPLY = 14,
  TIMEOUT_RESTORE_COMPLETE = 15,
  TIMEOUT_BROWSE_REPLY = 16,
  TIMEOUT_DOWNLOAD = 17,
  TIMEOUT_CREATE_FOLDER_REPLY = 18,
  TIMEOUT_CLIENT_CONNECT = 19,
  TIMEOUT_CONTROL_PORT = 20,
  TIMEOUT_UPDATE_SERVICES_STOP = 23,
  TIMEOUT_UPDATE_RECONNECT = 24,
  TIMEOUT_SYSTEM_SIZE_REPLY = 40,
  TIMEOUT_TAPE_INIT_REPLY = 41,
  TIMEOUT_VTL_CLEANUP_REPLY = 42,
  TIMEOUT_REQUESTER_WRITE = 43,
  TIMEOUT_TAPE_REMOTE_CALL = 44,
};

// The settings section that holds the configured values.
constexpr const char* kTimeOutSettingsSection = "ProxyTimeouts";

int getTimeOutValue(TimeOut_enum kind);

// Drops the kept values: the next getTimeOutValue reads the settings again.
void resetTimeOutValues();

// The kind's name (the settings value's name); null for an unknown kind.
const char* getTimeOutName(TimeOut_enum kind);
