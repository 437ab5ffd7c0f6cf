// ProxyTapeAPI: the IBM i virtual-tape operations the library exports to the
// product's other processes: initialise a tape, find a volume's chunk size,
// find the default VTL tape size, and the size factor of DR backups.
//
// Each tape operation names a media agent by its mangled host name. When it
// is the machine this process runs on, the operation runs in-process through
// the tape library "KxIBMTape", loaded on first need and never unloaded;
// otherwise it goes as one XML request to the media agent's handler pair
// "sLNIBMIVTLHandler" / "sLPIBMIVTLHandler" and its reply is read here:
// the attach, the send and the receive each wait at most
// TIMEOUT_TAPE_REMOTE_CALL seconds (300 when 0), then fail with ETIME.
// Replies are told apart by namespace and message id; a reply whose code or
// size is missing or no integer is EPROTO. A null or empty media agent name
// is EINVAL.
//
// Process-wide caches (the two client ids, the media agent's name, the three
// entry points) sit behind one lock; network and library calls run outside
// it, so the operations may be called from several threads.
#pragma once

#include <cstdint>
#include <string>

#include "CWqError.h"

// The event of a reply that is missing or not the one expected.
const uint32_t EV_TAPE_REPLY_UNEXPECTED = 0x0900001d;

class ProxyTapeAPI {
 public:
  // True when the media agent is this machine. The agent's id is looked up
  // afresh whenever the name changes, and a failed lookup leaves no id of an
  // earlier agent behind.
  static bool isSameAsMA(const char* mediaAgent);
  static CWqError initializeIBMTape(uint64_t id, const char* mediaAgent, const char* text, const std::string& tape);
  // `chunkSize` is written only on success.
  static CWqError getTapeSize(uint64_t id, const char* mediaAgent, const char* text, long long first,
                              long long second, long long& chunkSize);
  // `size` is 0 on every failure before the library call, and the low 32
  // bits of the size found otherwise.
  static CWqError GetDefaultTapeSize(const char* mediaAgent, unsigned int& size);
  // 1.2 times the setting "DRBackupSizeMultiplicationFactor" of section
  // "FileSystemAgent" (1 when absent).
  static float DRBackupSizeMultiplicationFactor();

  // Forgets the cached ids, name and entry points (a loaded library stays
  // loaded): for tests that run several cases in one process.
  static void ResetCaches();

  static uint64_t m_ulLocalClientId;
  static uint64_t m_ulMAClientId;
  static std::string m_sMAMangledName;
};
