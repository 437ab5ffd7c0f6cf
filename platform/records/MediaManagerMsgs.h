// XML messages of the media manager (namespace 10) that the proxy reads.
//
// GetLibInfoForSubClientReq: field 1, the subclient id (int64).
// GetLibInfoForSubClientResp: field 1, the list of LibraryInfo entries.
// LibraryInfo: field 1, the library id (int64); field 4, the library type
// (int64: 4 a virtual tape library, 0 another library).
#pragma once

#include "CNMessageBase.h"

namespace MediaManager {

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
