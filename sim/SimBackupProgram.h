// SimBackupProgram: the simulated backup program "BKP.EXE", as scripts for
// SimClientDaemon::SetProgram(SimBackupProgram::kCommand, ...).
//
// Once connected the program takes the job start (kept in its
// SimConnectionRecord) and answers its base directory. For a sync-library
// or VTL job (job-start option "Backup_SyncLib_Enabled" or "isVTLBackup"
// true) it then sends the events of Options::eventsBeforePort and the
// control port (Options::controlPortBlob, when set, as the raw blob). Then:
//
//   Scripted(stream)   plays `stream`: SimScript steps built with the
//                      message makers below, Expect (the announcements, the
//                      tape answers, the job complete), Silent, SendRaw
//                      (malformed frames), Close, Reset
//   Unscripted(root)   backs up the local folder `root`, which stands for
//                      the client's content: sends its volume list (the
//                      top-level folders of `root` as mount paths, and "/";
//                      Options::sendVolumeList), then asks for collect files
//                      until JOB_COMPLETE_MSG. A numbered or subclient
//                      collect file backs up the whole folder; a
//                      synthetic-full one the items its directory-change
//                      file lists (docs/scan-files.md). Per item a header
//                      with the real mode, size and times, the data in
//                      blocks of kBlockBytes, GOOD_EOF_MSG; an item that
//                      cannot be opened becomes FAILED_FILE_MSG, one whose
//                      read fails ends with BAD_EOF_MSG; the
//                      statistics close the collect file. Tape answers that
//                      arrive meanwhile are recorded.
//   Bulk(n, size)      for the benchmark: each collect file is one file of
//                      n blocks of `size` bytes, sent from one buffer.
//   Prepipeline(root)  backs up `root` as Unscripted does, through
//                      pre-pipeline deduplication: sends its capability,
//                      asks for the configuration, connects to its query
//                      port (when signatures are the client's), queries the
//                      signatures of each file's blocks in batches, asks for
//                      the results, and sends only the new blocks (0x51),
//                      each followed by its signature record (0x50); ends
//                      the query connection with STREAM_STOP_MSG.
//
// Everything received stays in the program's record (docs/sim-backup.md).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ClJobStartMsg.h"
#include "ClPrePipelineRecords.h"
#include "ClProxyFileHeader.h"
#include "SimRecord.h"
#include "SimScript.h"

namespace SimBackupProgram {

extern const char kCommand[];  // "BKP.EXE"
extern const char kBaseDir[];
const uint32_t kBlockBytes = 64 * 1024;

struct Options {
  std::string baseDir = kBaseDir;
  uint32_t controlPort = 8403;
  std::vector<std::shared_ptr<ClProxyMsg>> eventsBeforePort;
  std::shared_ptr<std::vector<uint8_t>> controlPortBlob;  // raw port payload in place of controlPort
  bool sendControlPort = true;                            // false: neither events nor port
  bool sendVolumeList = true;                             // unscripted only
  // Unscripted only: the item at this client path reads readFailsAfter
  // bytes, then its read fails with EIO, as a disk error part-way would.
  std::string readFailsAt;
  uint64_t readFailsAfter = 0;
};

SimScript Scripted(const SimScript& stream, const Options& options = Options());
SimScript Unscripted(const std::string& root, const Options& options = Options());
SimScript Bulk(uint64_t blocks, uint32_t blockBytes, const Options& options = Options());

struct PrepipelineOptions {
  Options base;
  uint32_t capabilities = 0x3;  // the capability word sent first
};
// What a pre-pipeline run did, filled as it goes (shared with the test).
struct PrepipelineTally {
  uint32_t blocksQueried = 0;
  uint32_t blocksNew = 0;
  uint32_t blocksFound = 0;
  _PrePipelineDedupe_Config config;  // as the proxy sent it
  bool gotConfig = false;
};
SimScript Prepipeline(const std::string& root, const PrepipelineOptions& options = PrepipelineOptions(),
                      std::shared_ptr<PrepipelineTally> tally = nullptr);
// The signature of a block: 64 bytes from eight FNV-1a sums, written
// big-endian, the same on every byte order.
void BlockSignature(const uint8_t* data, size_t size, uint8_t signature[64]);

std::shared_ptr<const ClJobStartMsg> JobStart(const SimConnectionRecord& record);

// The header the simulated program sends for a local item `st` named
// `clientPath` (size only for files and links; folder or file kind flag).
ClProxyFileHeader HeaderFromStat(const std::string& clientPath, const struct stat& st);

// Message makers of a stream.
std::shared_ptr<ClProxyMsg> CollectRequest();
// FILE_HEADER_MSG: the serialized header, then `extra` (VTL fields, optional
// header) as given.
std::shared_ptr<ClProxyMsg> Header(const ClProxyFileHeader& header,
                                   const std::vector<uint8_t>& extra = std::vector<uint8_t>());
// The VTL fields after a header: the barcode alone, or all four.
std::vector<uint8_t> VtlFields(int32_t barcode);
std::vector<uint8_t> VtlFields(int32_t barcode, int32_t streamCount, int32_t streamNumber,
                               const std::string& archiveObjectName);
std::shared_ptr<ClProxyMsg> Data(const std::vector<uint8_t>& bytes);
std::shared_ptr<ClProxyMsg> GoodEof();
std::shared_ptr<ClProxyMsg> BadEof(const std::string& text);
std::shared_ptr<ClProxyMsg> FailedFile(const std::string& name, int32_t error, const std::string& text);
std::shared_ptr<ClProxyMsg> Stats(uint32_t files, uint32_t failedFiles, uint64_t totalSize);
std::shared_ptr<ClProxyMsg> BadCollect();
std::shared_ptr<ClProxyMsg> NewLibrary();
std::shared_ptr<ClProxyMsg> TapeFull(const std::string& barcode);
// Arguments given as null are left out of the message.
std::shared_ptr<ClProxyMsg> TapeInfo(const std::string& barcode, const std::string& driveSerial,
                                     const char* messageKey, const char* queueName);
std::shared_ptr<ClProxyMsg> Event(uint32_t eventId, const std::list<std::string>& arguments = {});
std::shared_ptr<ClProxyMsg> PipelineData(const _PipelineDataHdr& header, const std::vector<uint8_t>& bytes);
// With no record when `signature` is null.
std::shared_ptr<ClProxyMsg> Signature(const _PrePipelineDedupe_Signature* signature);
std::shared_ptr<ClProxyMsg> ReferenceList(const std::list<std::string>& references);
std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::vector<uint8_t>& bytes);
std::shared_ptr<ClProxyMsg> VolumeList(const std::string& text);
std::shared_ptr<ClProxyMsg> ControlPort(uint32_t port);

}  // namespace SimBackupProgram
