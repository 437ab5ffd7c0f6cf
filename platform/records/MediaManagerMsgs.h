// XML messages of the media manager (namespace 10) that the proxy reads.
//
// GetLibInfoForSubClientReq: field 1, the subclient id (int64).
// GetLibInfoForSubClientResp: field 1, the list of LibraryInfo entries.
// LibraryInfo: field 1, the library id (int64); field 4, the library type
// (int64: 4 a virtual tape library, 0 another library).
//
// The IBM i tape messages, exchanged with a media agent's tape handlers:
// InitializeIBMTape (field 1 identifier, 2 text, 6 tape), GetChunkSizeOnMediaReq
// (1 identifier, 2 text, 6 and 7 two values), GetDefaultVTLTapeSizeReq (no
// fields); the answers QErrorMsg (1 code, 2 text), GetChunkSizeOnMediaResp
// (6 chunk size), GetTapeSizeResp (1 tape size).
#pragma once

#include <cstdint>

#include "CNMessageBase.h"

namespace MediaManager {

// Message ids in namespace 10, and the tags they go by.
enum : int {
  kQErrorMsgId = 0x02,
  kGetChunkSizeOnMediaReqId = 0xa9,
  kGetChunkSizeOnMediaRespId = 0xaa,
  kGetTapeSizeRespId = 0xab,
  kGetDefaultVTLTapeSizeReqId = 0xac,
  kInitializeIBMTapeId = 0xad,
};
enum TagType : uint32_t {
  Tag_QErrorMsg = 0x0a000002,
  Tag_InitializeIBMTape = 0x0a62cbe6,
  Tag_GetChunkSizeOnMediaReq = 0x0a69dcb1,
  Tag_GetChunkSizeOnMediaResp = 0x0ad1ba1d,
  Tag_GetTapeSizeResp = 0x0a226909,
};

class InitializeIBMTape : public CNMessageBase {
 public:
  InitializeIBMTape() : CNMessageBase(10, kInitializeIBMTapeId) {}
};
class GetChunkSizeOnMediaReq : public CNMessageBase {
 public:
  GetChunkSizeOnMediaReq() : CNMessageBase(10, kGetChunkSizeOnMediaReqId) {}
};
class GetDefaultVTLTapeSizeReq : public CNMessageBase {
 public:
  GetDefaultVTLTapeSizeReq() : CNMessageBase(10, kGetDefaultVTLTapeSizeReqId) {}
};
class QErrorMsg : public CNMessageBase {
 public:
  QErrorMsg() : CNMessageBase(10, kQErrorMsgId) {}
};
class GetChunkSizeOnMediaResp : public CNMessageBase {
 public:
  GetChunkSizeOnMediaResp() : CNMessageBase(10, kGetChunkSizeOnMediaRespId) {}
};
class GetTapeSizeResp : public CNMessageBase {
 public:
  GetTapeSizeResp() : CNMessageBase(10, kGetTapeSizeRespId) {}
};

class GetLibInfoForSubClientReq : public CNMessageBase {
 public:
  GetLibInfoForSubClientReq() : CNMessageBase(10, 126) {}
};

class GetLibInfoForSubClientResp : public CNMessageBase {
 public:
  GetLibInfoForSubClientResp() : CNMessageBase(10, 125) {}
};

class LibraryInfo : public CNMessageBase {
 public:
  LibraryInfo() : CNMessageBase(10, 127) {}
  // An entry taken out of a reply's list.
  LibraryInfo(const CNMessageBase& entry) : CNMessageBase(entry) {}
};

}  // namespace MediaManager
