// Event ids of the message catalogue that the scan phase raises or returns
// (the subclient and sync-library ids of the job options are in
// ProxyJobOptions.h).
#pragma once

#include <cstdint>

// A command-file subclient is backed up in full whatever level was asked.
const uint32_t EV_COMMAND_FILE_FULL_ONLY = 0x110000a3;
// Sync-library content that is not made of whole IBM i libraries.
const uint32_t EV_SYNCLIB_BAD_CONTENT = 0x110000aa;
// The host's abort check asked to abandon the job.
const uint32_t EV_OPERATION_ABORTED = 0x06000093;
// The link to the scan program failed.
const uint32_t EV_CLIENT_SCAN_FAILED = 0x13000257;
// The event id of an error that carries only its text.
const uint32_t EV_TEXT_ONLY = 0xffffffffu;
