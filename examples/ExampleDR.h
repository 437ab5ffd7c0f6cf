// What the dr mode's two runs share: the client's status answers, the
// subclient's library reply, and the VTL run (ExampleDRVTL.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CWqError.h"
#include "ClProxyMsg.h"
#include "ExampleOptions.h"

// A DR_JOB_STATUS_MSG blob: `first`, then the exit code and text when given.
std::shared_ptr<ClProxyMsg> DRStatusBlob(const std::string& first, const uint32_t* code, const std::string* text);
// The media manager's library reply for the subclient: one ordinary
// library, and with `vtl` also a VTL library (the plain driver pre-scans).
std::string DRLibraryReply(bool vtl);
// The whole VTL DR job: pre-scan, tape initialisation, the five steps, the
// index update and the drive cleanup.
CWqError RunVTLDR(const ExampleOptions& options);
