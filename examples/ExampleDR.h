// What the dr mode's two runs share: the client's status answers, and the
// VTL run (ExampleDRVTL.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CWqError.h"
#include "ClProxyMsg.h"
#include "ExampleOptions.h"

// A DR_JOB_STATUS_MSG blob: `first`, then the exit code and text when given.
std::shared_ptr<ClProxyMsg> DRStatusBlob(const std::string& first, const uint32_t* code, const std::string* text);
// The whole VTL DR job: pre-scan, tape initialisation, the five steps, the
// index update and the drive cleanup.
CWqError RunVTLDR(const ExampleOptions& options);
