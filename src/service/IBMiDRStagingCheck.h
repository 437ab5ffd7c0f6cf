// The staging check at the start of a DR job: asks the deployment manager
// made for this client to remove a DR staging folder that an earlier failed
// DR job left behind. Kept apart so the manager's own check can take its
// place without touching the DR code.
//
// Without a hook it is the manager's CheckAndCleanupDRFolder. Tests may
// install a hook to see the call and choose its result.
#pragma once

#include <functional>

#include "CWqError.h"

class ClClientManager;

namespace IBMiDRStagingCheck {

CWqError Run(ClClientManager& manager, bool noManage);

// Test hook; an empty function removes it.
void SetHook(std::function<CWqError(ClClientManager&, bool)> hook);

}  // namespace IBMiDRStagingCheck
