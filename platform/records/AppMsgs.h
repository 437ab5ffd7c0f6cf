// XML messages of the central server's application service (namespace 30)
// that the proxy sends and reads.
//
// GetModifiedFileListReq: field 1 the subclient id, field 2 the backup
// level, field 3 the last backup start time (each int64).
// GetModifiedFileListResp: field 1, the list of content paths (strings).
#pragma once

#include "CNMessageBase.h"

namespace App {

class GetModifiedFileListReq : public CNMessageBase {
 public:
  GetModifiedFileListReq() : CNMessageBase(30, 372) {}
};

class GetModifiedFileListResp : public CNMessageBase {
 public:
  GetModifiedFileListResp() : CNMessageBase(30, 373) {}
};

}  // namespace App
