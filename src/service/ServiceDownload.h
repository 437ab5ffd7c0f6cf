// The receiving side of the service downloads, on any connection: the
// client's file-transfer sequence into `destination` (a folder for log
// files, the file's own path for the directory-change file). `cut` is called
// when the transfer ends early (a receive failure, a refused name, a local
// failure) so that the caller can close the link.
#pragma once

#include <functional>
#include <string>

#include "CWqError.h"

class ClProxyConnection;

CWqError ReceiveDownload(ClProxyConnection& link, bool logFiles, const std::string& destination,
                         const std::function<void()>& cut);
