// Shared pieces of the deduplication tests: a fixture that resets the
// signature-query module's script and lowers the query manager's waits, a
// capture of the log, the archive and the tag-header readers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyWire.h"
#include "FXThread.h"
#include "KXArchive.h"
#include "KXOpenBackupServices/ArchiveTagHeader.h"
#include "KXOpenBackupServices/CLProxyDedupeQueryMgr.h"
#include "KXOpenBackupServices/CProxyPrepipelineMgr.h"
#include "SignatureQuery.h"
#include "SimQueryClient.h"
#include "core/CoreTestUtil.h"

namespace dedupetest {

const unsigned int kJob = 91;
const unsigned int kArchiveFileId = 9;
const unsigned int kSignatureScheme = 3;

using coretest::WaitUntil;

// What the client program received, one entry per message: the number of
// results of a result message, -1 for DISCONNECT_MSG, -2 for anything else.
inline std::vector<int> Replies(const SimConnectionRecord& record) {
  std::vector<int> out;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) {
    auto results = std::dynamic_pointer_cast<const COBPrePipelineDedupeResultRespMsg>(message);
    if (results) out.push_back(static_cast<int>(results->getResults().size()));
    else out.push_back(message->getMsgType() == DISCONNECT_MSG ? -1 : -2);
  }
  return out;
}

class DedupeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SignatureQueryScript::Reset();
    CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(5);
    CLProxyDedupeQueryMgr::SetReceiveWaitSeconds(0);
  }
  void TearDown() override {
    SignatureQueryScript::Reset();
    CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(CLProxyDedupeQueryMgr::kDefaultAcceptWaitSeconds);
    CLProxyDedupeQueryMgr::SetReceiveWaitSeconds(0);
  }

  static _stSQueryInitParameters Params() {
    _stSQueryInitParameters params;
    params.uAppId = 7;
    params.bUseCacheDB = true;
    params.uCopyId = 2;
    params.ullJobId = kJob;
    return params;
  }

  // Declared first: outlives every manager and client of a test.
  coretest::ScopedLogCapture log{4};
};

// The big-endian word at `offset` of a tag header.
inline uint32_t Word(const std::vector<uint8_t>& header, size_t offset) {
  return ClProxyWire::GetU32(header.data() + offset);
}

// The 96 bytes a tag header must hold, built from the table of its fields.
inline std::vector<uint8_t> ExpectedTag(uint32_t type, uint32_t size, uint32_t second, uint32_t fileId,
                                        uint32_t compression, uint32_t flags) {
  std::vector<uint8_t> bytes(96, 0);
  std::memcpy(bytes.data(), "TAGHD01", 8);
  ClProxyWire::PutU32(bytes.data() + 32, type);
  ClProxyWire::PutU32(bytes.data() + 36, size);
  ClProxyWire::PutU32(bytes.data() + 40, second);
  ClProxyWire::PutU32(bytes.data() + 44, fileId);
  ClProxyWire::PutU32(bytes.data() + 48, 1);
  ClProxyWire::PutU32(bytes.data() + 60, compression);
  ClProxyWire::PutU32(bytes.data() + 72, flags);
  ClProxyWire::PutU32(bytes.data() + 80, fileId);
  return bytes;
}

}  // namespace dedupetest
