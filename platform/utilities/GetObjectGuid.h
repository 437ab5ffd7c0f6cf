// GetObjectGuid: the component GUID of a client mount path. Derived from the
// path alone, so it is the same on every run and on either byte order.
// `flags` and `separator` are accepted for the callers' form and change
// nothing here. Returns 0; `guid` receives "{8-4-4-4-12}" upper-case hex.
#pragma once

#include <string>

int GetObjectGuid(const std::string& path, int flags, char separator, std::string& guid);
