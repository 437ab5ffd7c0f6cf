// The entry walk of a machine browse: every entry of the client's listing
// but "." and "..", in the client's order, appended to `items` (response
// mode) or, when `items` is null, added to the requester's stream (up to its
// first failed write).
#pragma once

#include <vector>

#include "CNMessageBase.h"
#include "ClServiceMsgs.h"
#include "EvRestoreReturn.h"

void DeliverBrowseEntries(const std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t>& entries,
                          std::vector<CNMessageBase>* items, EvRestoreReturn& stream);
