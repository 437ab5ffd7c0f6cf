// SimPostOpsProgram: the post-operations client program "PST.EXE" of the
// simulated client side. Given to the daemon with
// daemon.SetProgram("PST.EXE", program->Script()), it:
//
//   1. takes the job start (kept whole) and answers CLIENT_BASE_DIR_MSG;
//   2. takes file transfers until JOB_COMPLETE_MSG, each checked as it
//      arrives: FILE_HEADER_MSG holding a non-empty path and then exactly
//      one NUL, which ends it; FILE_DATA_MSG blocks of 1 to 65536 bytes;
//      GOOD_EOF_MSG, or BAD_EOF_MSG with its text, as the end marker;
//   3. after JOB_COMPLETE_MSG takes nothing more until the proxy closes.
//
// A message out of that order or of a bad shape is a protocol fault: it is
// recorded and the program ends, closing the link. A link that closes or
// resets ends the program without a fault (what had arrived shows how far
// the exchange got). Every wait is bounded by SimScript's default limit.
//
// A block hook, when set, runs on the program's thread after each data
// block is recorded, so that a test can act in the middle of a transfer
// (reset the link, break the file being read); returning false ends the
// program there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CWqError.h"
#include "ClJobStartMsg.h"
#include "SimScript.h"

class SimPeer;

class SimPostOpsProgram : public std::enable_shared_from_this<SimPostOpsProgram> {
 public:
  enum EndMarker { kNoEnd, kGoodEof, kBadEof };

  struct Transfer {
    std::string path;                 // the header without its NUL
    std::vector<uint8_t> data;        // the blocks, joined
    std::vector<uint32_t> blockSizes;
    EndMarker end = kNoEnd;
    std::string badEofText;
  };

  struct Result {
    std::shared_ptr<const ClJobStartMsg> jobStart;  // null until it arrived
    std::vector<Transfer> transfers;
    bool jobComplete = false;
    std::string fault;  // empty while the proxy kept the protocol
  };

  // `blocks` counts the data blocks of the current transfer, `bytes` their
  // bytes, both including the block just taken.
  using BlockHook = std::function<bool(SimPeer& peer, size_t blocks, uint64_t bytes)>;

  static std::shared_ptr<SimPostOpsProgram> Create(const std::string& baseDir = "/opt/client/");

  void SetBlockHook(BlockHook hook);
  // The script that runs the program; it keeps the program alive.
  SimScript Script();
  Result GetResult() const;

 private:
  explicit SimPostOpsProgram(const std::string& baseDir) : m_sBaseDir(baseDir) {}

  CWqError Run(SimPeer& peer);
  // One transfer, from its header on; `ended` is set when the program is
  // to stop (a closed link, or the hook said so).
  CWqError ReceiveTransfer(SimPeer& peer, const std::vector<uint8_t>& header, bool& ended);
  CWqError Fault(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const std::string m_sBaseDir;
  mutable std::mutex m_mutex;
  Result m_result;
  BlockHook m_blockHook;
};
