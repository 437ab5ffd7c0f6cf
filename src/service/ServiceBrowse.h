// The entry walk of a machine browse: every entry of the client's listing
// but "." and "..", in the client's order, appended to the item list (field
// 2) of `response` (response mode; packed, CNMessageBase::appendlistobject)
// or, when `response` is null, added to the requester's stream (up to its
// first failed write).
#pragma once

#include "AppMsgs.h"
#include "ClServiceMsgs.h"
#include "EvRestoreReturn.h"

void DeliverBrowseEntries(const ClClientBrowseRepMsg& listing, App::MachineBrowseResp* response,
                          EvRestoreReturn& stream);
