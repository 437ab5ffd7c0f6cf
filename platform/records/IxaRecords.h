// Records of the central server's namespace 22 ("Ixa") that the proxy keeps:
// the IBM i disaster-recovery job status (22, 538) and the id-name pair
// (22, 423). They add nothing to CNMessageBase but their ids.
//
// A string field is kept as a list of one string (IxaSetString /
// IxaGetString), the form the text codec knows.
//
// RegisterSubsystem must run before records of the namespace are built; the
// stand-in only counts the calls.
#pragma once

#include <string>

#include "CNMessageBase.h"

namespace Ixa {

void RegisterSubsystem();
int RegisteredCount();

class IBMIDRJobStatus : public CNMessageBase {
 public:
  IBMIDRJobStatus() : CNMessageBase(22, 538) {}
};

class IdName : public CNMessageBase {
 public:
  IdName() : CNMessageBase(22, 423) {}
};

}  // namespace Ixa

// Sets the string field at `position`; returns 0.
int IxaSetString(CNMessageBase& record, int position, int field, const std::string& value,
                 uint32_t tagId, uint32_t nameHash);
// The string at `position`; false (and `value` untouched) when it holds none.
bool IxaGetString(CNMessageBase& record, int position, int field, uint32_t tagId,
                  uint32_t nameHash, std::string& value);
