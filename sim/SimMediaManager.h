// What the simulated central server's media manager answers about the
// libraries a subclient's data paths use.
#pragma once

#include <string>

// The reply text of the subclient's library query: one ordinary library,
// and with `vtl` a VTL library too (a DR driver then pre-scans).
std::string SimLibraryReply(bool vtl);
