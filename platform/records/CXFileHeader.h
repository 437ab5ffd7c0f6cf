// CXFileHeader: the host's own form of a file header, as the backup phase
// and the DR file stream hand it to the backup pipeline and as the restore
// phase takes it from the host. Numbers are in the host's byte order: the
// record never leaves the process.
//
// `name` holds at most kNameCapacity - 1 characters and their terminating
// NUL; a writer refuses a longer name rather than cut it. `nameLength`
// counts the name's characters plus the NUL.
#pragma once

#include <cstdint>

struct CXFileHeader {
  static constexpr uint32_t kNameCapacity = 4096;

  int32_t headerType = 0;
  uint32_t nameLength = 0;
  uint64_t mode = 0;
  uint64_t uid = 0;
  uint64_t gid = 0;
  uint64_t platformFlags = 0;
  uint64_t size = 0;
  uint64_t mtime = 0;
  uint64_t ctime = 0;
  uint64_t offset = 0;
  int32_t pathSeparator = 0;
  uint32_t attributes = 0;   // bit set; writers only OR into it
  int32_t clientOsType = 0;  // 49 OpenVMS, 118 IBM i
  char name[kNameCapacity] = {};
};
