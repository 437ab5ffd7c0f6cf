// Where a downloaded file lands: the folder that holds it, open by
// descriptor, and the file's own name in it.
//
// OpenInside walks a name from the client one component at a time from a
// descriptor of the destination (mkdirat, then openat with O_NOFOLLOW |
// O_DIRECTORY), so no link inside the destination is followed: a link on
// the way, or as the file's own name, is EPROTO and nothing is made beyond
// the folders before it. The destination itself is the caller's path and is
// made and opened as it stands. Other failures are the system's errno with
// the path that failed.
#pragma once

#include <string>

#include "CWqError.h"
#include "ProxyFileUtil.h"

namespace DownloadFolder {

// Makes `path` (and its parents) when missing and opens it.
CWqError OpenCallers(const std::string& path, ProxyFileUtil::ScopedDescriptor& folder);

// From `destination` (open in `folder`), the folder of `name`'s last
// component, made where missing; `folder` is replaced by it and `last` is
// the last component. `name` is relative with plain components (checked by
// the caller).
CWqError OpenInside(const std::string& destination, const std::string& name, ProxyFileUtil::ScopedDescriptor& folder,
                    std::string& last);

}  // namespace DownloadFolder
