// SimRestoreProgram: the simulated restore program "RST.EXE", as scripts for
// SimClientDaemon::SetProgram(SimRestoreProgram::kCommand, ...).
//
// Once connected the program takes the job start (kept in its
// SimConnectionRecord with everything else it receives, decoded) and
// answers its base directory. Then:
//
//   Scripted(stream)  plays `stream`: SimScript steps built with the makers
//                     below (item status, data not needed, failed file,
//                     disk full, event, next-volume request then an Expect
//                     of the answer, tape close, end of restore, probes),
//                     unknown types, Silent, Close, Reset and SendRaw for
//                     malformed payloads and frames
//   Files(root)       the file stream restored into `root`, which stands
//                     for the client's "/" (SimRestoreFiles.h says how);
//                     data blocks are not recorded
//   Drain(count)      reads whole frames and counts them and the data bytes
//                     into `count`, keeping nothing and writing nothing;
//                     JOB_COMPLETE_MSG answered with GOOD_EOF_MSG (for
//                     benchmarks: no allocation per frame)
//   Unscripted(opts)  a tape restore: per tape-restore message one
//                     ITEM_STATUS_MSG with a status-5 entry per item (named
//                     by the item's text); after opts.nextVolumeAfter items
//                     one next-volume request, whose answer (TAPE_INFO_MSG
//                     or BAD_EOF_MSG) it waits for; TAPE_CLOSE_MSG answered
//                     with TAPE_CLOSE_MSG; JOB_COMPLETE_MSG with GOOD_EOF_MSG
//
// The readers below decode the record: the three comma lists un-escaped
// into items (an END is an empty list), the tape-restore messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ClJobStartMsg.h"
#include "ClProxyFileHeader.h"
#include "ClTapeRestoreDataMsg.h"
#include "SimRecord.h"
#include "SimScript.h"

namespace SimRestoreProgram {

extern const char kCommand[];  // "RST.EXE"
extern const char kBaseDir[];

struct Options {
  std::string baseDir = kBaseDir;
  uint32_t nextVolumeAfter = 0;  // unscripted: 0 asks for no next volume
  std::string nextVolume = "VOL002";
  std::string driveSerial = "DRV01";
  // Scripted: after the stream, receive until JOB_COMPLETE_MSG and answer
  // GOOD_EOF_MSG.
  bool answerJobComplete = false;
};

// One entry of an ITEM_STATUS_MSG.
struct StatusEntry {
  std::string name;
  std::string message;
  uint32_t status = 0;
  uint64_t value = 0;
};

SimScript Scripted(const SimScript& stream, const Options& options = Options());
SimScript Unscripted(const Options& options = Options());
SimScript Files(const std::string& root, const Options& options = Options());
struct DrainCount {
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> dataBlocks{0};
  std::atomic<uint64_t> dataBytes{0};
};
SimScript Drain(std::shared_ptr<DrainCount> count, const Options& options = Options());

// --- Reading the record.
std::shared_ptr<const ClJobStartMsg> JobStart(const SimConnectionRecord& record);
std::vector<ClProxyMsgType> Types(const SimConnectionRecord& record);
// A chunk's items, un-escaped ("%c" is ",", "%%" is "%"); "" has none.
std::vector<std::string> CommaItems(const std::string& chunk);
// Every message of `type` (PREHEADER_MSG, UNMODIFIED_PREHEADER_MSG,
// REFOPTHDR2_MSG) as its items, in order; for a pre-header chunk the head
// name comes first, as sent.
std::vector<std::vector<std::string>> Lists(const SimConnectionRecord& record, ClProxyMsgType type);
std::vector<std::shared_ptr<const ClTapeRestoreDataMsg>> TapeRestores(const SimConnectionRecord& record);

// One FILE_HEADER_MSG: the decoded header and the optional header bytes
// after it; `decoded` is false when the header did not deserialize.
struct ReceivedHeader {
  bool decoded = false;
  ClProxyFileHeader header;
  std::vector<uint8_t> optional;
};
std::vector<ReceivedHeader> Headers(const SimConnectionRecord& record);
// The payload of every message of `type`, in order.
std::vector<std::string> Payloads(const SimConnectionRecord& record, ClProxyMsgType type);
// The source filters of every SOURCE_FILTERS_MSG chunk split on ";".
std::vector<std::string> SourceFilters(const SimConnectionRecord& record);

// --- Message makers of a stream.
std::vector<uint8_t> ItemStatusBytes(const std::vector<StatusEntry>& entries);
std::shared_ptr<ClProxyMsg> ItemStatus(const std::vector<StatusEntry>& entries);
std::shared_ptr<ClProxyMsg> DataNotNeeded(const std::string& name);
std::shared_ptr<ClProxyMsg> FailedFile(const std::string& name, int32_t code, const std::string& text);
std::shared_ptr<ClProxyMsg> Event(uint32_t eventId, const std::list<std::string>& arguments = {});
std::shared_ptr<ClProxyMsg> TapeInfo(const std::string& barcode, const std::string& driveSerial);
std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type);
std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::vector<uint8_t>& bytes);

}  // namespace SimRestoreProgram
