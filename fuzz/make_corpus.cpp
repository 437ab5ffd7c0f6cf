// Writes the fuzz targets' seed corpus: small, valid inputs made with the
// real encoders, so the fuzzers start from well-formed frames, payloads and
// record streams.
//
//   fuzz_make_corpus <corpus dir>    writes <corpus dir>/<target>/seed_*
//
// The files in fuzz/corpus/ were made this way; run it again after a wire
// format change and commit the result.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "ClProxyFileHeader.h"
#include "ClProxyMessages.h"
#include "ClProxySerializer.h"
#include "ClServiceMsgs.h"
#include "ClProxyWire.h"
#include "FuzzKnownTypes.h"
#include "KxNetFrame.h"
#include "KxsDBFBRecords.h"
#include "MediaManagerMsgs.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool g_failed = false;

void Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
  std::string path = dir + "/" + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out || (bytes.size() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    g_failed = true;
  }
  if (out) std::fclose(out);
}

bool MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), std::strerror(errno));
  return false;
}

Bytes Payload(const ClProxyMsg& msg) {
  std::vector<uint8_t> scratch;
  ClProxyPayloadView view;
  if (msg.encodePayload(scratch, view).IsError()) {
    std::fprintf(stderr, "cannot encode message type 0x%04x\n", static_cast<unsigned>(msg.getMsgType()));
    g_failed = true;
    return Bytes();
  }
  return view.size ? Bytes(view.data, view.data + view.size) : Bytes();
}

Bytes Frame(uint16_t type, const Bytes& payload) {
  Bytes frame(ClProxyWire::kHeaderSize);
  ClProxyWire::EncodeHeader(type, static_cast<uint32_t>(payload.size()), frame.data());
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

Bytes Frame(const ClProxyMsg& msg) { return Frame(msg.getMsgType(), Payload(msg)); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Frame-decoder input: the control byte, then `stream` in chunks of `chunk`.
Bytes Chunked(uint8_t control, const Bytes& stream, size_t chunk) {
  Bytes out = {control};
  for (size_t pos = 0; pos < stream.size(); pos += chunk) {
    size_t n = stream.size() - pos < chunk ? stream.size() - pos : chunk;
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), stream.begin() + pos, stream.begin() + pos + n);
  }
  return out;
}

// Message-payload input: the byte that picks the type, then the payload.
Bytes Picked(const ClProxyMsg& msg) {
  Bytes out = {FuzzTypePick(msg.getMsgType())};
  Bytes payload = Payload(msg);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes Record(const std::string& data) {
  Bytes out = {0xBE, 0xEF, 0xBE, 0xAD, static_cast<uint8_t>(data.size() >> 8),
               static_cast<uint8_t>(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// File-records input: attributes, the large-record byte, cut points
// (position, flags), stream.
Bytes Records(uint16_t attributes, const std::vector<std::pair<uint16_t, uint8_t>>& cuts,
              const Bytes& stream, uint8_t big = 0) {
  Bytes out = {static_cast<uint8_t>(attributes >> 8), static_cast<uint8_t>(attributes), big,
               static_cast<uint8_t>(cuts.size())};
  for (const auto& cut : cuts) {
    out.push_back(static_cast<uint8_t>(cut.first >> 8));
    out.push_back(static_cast<uint8_t>(cut.first));
    out.push_back(cut.second);
  }
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

void FrameDecoder(const std::string& dir) {
  ClEventMsg event(0x060000a5, 2, 7, {"BackedUpFiles.kxf", "read"});
  ClBlobMsg data(FILE_DATA_MSG, ClBlobMsg::Copy, "some file data", 14);
  ClEmptyMsg complete(JOB_COMPLETE_MSG);
  ClLaunchCmdMsg launch(4711, "PST.EXE");
  Bytes badPayload = Frame(SCAN_RESULT_MSG, Bytes{0, 0, 0, 3});  // too short to decode

  Write(dir, "seed_one_event", Chunked(0x00, Frame(event), 5));
  Write(dir, "seed_peek_blob_and_empty", Chunked(0x08, Join({Frame(data), Frame(complete)}), 7));
  Write(dir, "seed_accept_some", Chunked(0x10, Join({Frame(launch), Frame(ClBadEofMsg("x")), badPayload,
                                                     Frame(complete)}), 16));
  Bytes badMarker = Frame(complete);
  badMarker[3] ^= 0x01;
  Write(dir, "seed_bad_marker_after_frame", Chunked(0x06, Join({Frame(launch), badMarker}), 64));
  Write(dir, "seed_above_max_payload", Chunked(0x03, Join({Frame(complete), Frame(event)}), 3));
  Bytes cut = Frame(data);
  cut.resize(cut.size() - 4);
  Write(dir, "seed_cut_at_the_end", Chunked(0x20, cut, 9));
}

void MessagePayload(const std::string& dir) {
  ClJobStartMsg job(3, 41, 1, 1700000000, 0x0102030405060708ull);
  job.setOptionValue("Compress", true);
  job.setOptionValue("Streams", int32_t(-2));
  job.setOptionValue("Blocks", uint32_t(64));
  job.setOptionValue("Limit", uint64_t(1) << 40);
  job.setOptionValue("Library", "QGPL");
  job.addPath("/QSYS.LIB/A.LIB", "/restore/A.LIB");
  Write(dir, "seed_job_start", Picked(job));

  ClScanOptionList options = {{"Depth", "3"}, {"Follow", "no"}};
  Write(dir, "seed_scan_config",
        Picked(ClScanConfigMsg({"/home"}, {}, {"x"}, {}, {"/home/new"}, options)));
  Write(dir, "seed_scan_result", Picked(ClScanResultMsg(3, 99, {"/a", "/b"}, 1, 2)));
  Write(dir, "seed_event", Picked(ClEventMsg(0x060000a5, 2, 0, {"one", ""})));

  ClTapeInfoMsg tape("BAR001", "SER9");
  tape.setArgument(ClTapeInfoMsg::keyInitTape, "1");
  tape.setArgument(ClTapeInfoMsg::keyMSGQName, "QSYSOPR");
  Write(dir, "seed_tape_info", Picked(tape));
  Write(dir, "seed_launch_dip", Picked(ClLaunchCmdDIPMsg("10.0.0.1", 8400, "SCAN.EXE")));
  Write(dir, "seed_failed_file", Picked(ClFailedFileMsg("/a/b", -5, "gone")));
  Write(dir, "seed_dr_clean", Picked(ClIBMDRBackupCleanMsg(1, 2, 3)));
  ClClientBackupSize size(2, 17, 9);
  size.addUserLibrary("/QSYS.LIB/PAYROLL.LIB");
  size.setClientBackupSize(4096);
  Write(dir, "seed_dr_system_size", Picked(size));
  Write(dir, "seed_dr_outfile", Picked(ClProcessOutFileMsg(2, 17, 9, "KXLIBOBJ/DRLOG")));
  Write(dir, "seed_dr_vtl_cleanup", Picked(ClVTLDRCleanupMsg(2, 17, 9, "TAPMLB01", 0)));
  Write(dir, "seed_dr_tape_init", Picked(ClInitializeTapeMLBMode(2, 17, 9, "TAPMLB01", {"A1", "B2"})));
  ClTapeRestoreDataMsg tapeRestore(IBMI_SAV_SAVLIB);
  tapeRestore.add({"LIB1"}, {"DEV1"}, {10, 20}, 7, "/QSYS.LIB/L.LIB", "A:B");
  Write(dir, "seed_tape_restore", Picked(tapeRestore));

  _PipelineDataHdr header;
  header.uDataSize = 4;
  Write(dir, "seed_pipeline_data", Picked(ClPipelineBlobMsg(header, "DATA", 4)));
  std::vector<_PrePipelineDedupe_Query> queries(1);
  queries[0].uUniqueId = 7;
  Write(dir, "seed_dedupe_query", Picked(COBPrePipelineDedupeQueryMsg(queries)));
  std::vector<_PrePipelineDedupe_Result_Resp> results(2);
  results[1].uIsNew = 1;
  Write(dir, "seed_dedupe_results", Picked(COBPrePipelineDedupeResultRespMsg(results)));
  std::vector<_PrePipelineDedupeperfCounter> counters(1);
  std::memcpy(counters[0].name, "blocks", 7);
  counters[0].ullValue72 = 9;
  Write(dir, "seed_perf_counters", Picked(COBPrePipelinePerfCountersMsg(counters)));

  ClProxyFileHeaderSerializer file;
  file.name = "/QSYS.LIB/A.LIB/F.FILE";
  file.size = 1234;
  Bytes fileBytes(file.getBufSize());
  uint32_t used = 0;
  file.serialize(fileBytes.data(), static_cast<uint32_t>(fileBytes.size()), used);
  Write(dir, "seed_file_header", Picked(ClBlobMsg(FILE_HEADER_MSG, ClBlobMsg::Copy, fileBytes.data(),
                                                 static_cast<uint32_t>(fileBytes.size()))));
  Write(dir, "seed_execute_command", Picked(ClBlobMsg(EXECUTE_COMMAND_MSG, ClBlobMsg::Copy, "DSPLIB KXLIB", 12)));
}

void FileRecords(const std::string& dir) {
  Bytes three = Join({Record("line one"), Record(""), Record("odd")});
  Write(dir, "seed_whole_crlf", Records(1, {}, three));
  Write(dir, "seed_cut_in_head_prefix", Records(6, {{3, 0}, {10, 1}}, three));
  Write(dir, "seed_cut_in_data_cr", Records(2, {{9, 2}, {20, 0x80}}, three));
  Write(dir, "seed_ends_in_newline_lf", Records(4, {{15, 0}}, Join({Record("a\n"), Record("b")})));
  Write(dir, "seed_large_record_length_prefix", Records(6, {{40000, 0}}, Record("after"), 0x81));
  Write(dir, "seed_bad_magic", Records(5, {{6, 0}}, Join({Record("ok"), Bytes{0xDE, 0xAD, 0, 0, 0, 0}})));
}

// fuzz_backup_stream: a control byte, then frames as (type index, u16
// length, payload); the indexes are those of kTypes in fuzz_backup_stream.cpp.
enum BackupTypeIndex : uint8_t {
  kHeader = 0, kData = 1, kGoodEof = 2, kBadEof = 3, kFailedFile = 4, kStats = 5, kTapeInfo = 9,
  kReferences = 13, kVolumes = 14,
};

Bytes BackupFrame(uint8_t index, const Bytes& payload) {
  Bytes out{index, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes HeaderPayload(const std::string& name, uint32_t mode, uint64_t size) {
  ClProxyFileHeaderSerializer file;
  file.name = name;
  file.mode = mode;
  file.size = size;
  Bytes bytes(file.getBufSize());
  uint32_t used = 0;
  file.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  bytes.resize(used);
  return bytes;
}

Bytes ReferencePayload(const std::list<std::string>& names) {
  Bytes out(ClProxySerializer::getBufSize(names));
  uint32_t offset = 0;
  ClProxySerializer::serialize(names, out.data(), static_cast<uint32_t>(out.size()), offset);
  return out;
}

void BackupStream(const std::string& dir) {
  const Bytes stats = Payload(ClBackupStatsMsg(1, 0, 3));
  const Bytes oneFile = Join({BackupFrame(kHeader, HeaderPayload("/data/a.txt", 0100644, 3)),
                              BackupFrame(kData, Bytes{'a', 'b', 'c'}), BackupFrame(kGoodEof, Bytes()),
                              BackupFrame(kStats, stats)});
  Write(dir, "seed_one_file", Join({Bytes{0x00}, oneFile}));
  Write(dir, "seed_one_file_volumes",
        Join({Bytes{0x04}, BackupFrame(kVolumes, Bytes{'/', 'd', 'a', 't', 'a', ';', '/'}), oneFile}));
  Write(dir, "seed_vtl_header", Join({Bytes{0x01}, BackupFrame(kHeader, Join({HeaderPayload("/v", 0100644, 0),
                                                                              Bytes{0, 0, 0, 7}})),
                                      BackupFrame(kGoodEof, Bytes())}));
  Write(dir, "seed_failed_and_bad_eof",
        Join({Bytes{0x02}, BackupFrame(kFailedFile, Payload(ClFailedFileMsg("/gone", 2, "missing"))),
              BackupFrame(kHeader, HeaderPayload("/b", 0100644, 9)), BackupFrame(kData, Bytes{1, 2}),
              BackupFrame(kBadEof, Payload(ClBadEofMsg("read error")))}));
  Write(dir, "seed_references_unsorted",
        Join({Bytes{0x00}, BackupFrame(kHeader, HeaderPayload("/r", 0100644, 0)),
              BackupFrame(kReferences, ReferencePayload({"zeta", "alpha", "mid"})), BackupFrame(kGoodEof, Bytes())}));
  Write(dir, "seed_references_truncated",
        Join({Bytes{0x00}, BackupFrame(kHeader, HeaderPayload("/r", 0100644, 0)),
              BackupFrame(kReferences, Bytes{0, 0, 0, 9, 'a'})}));
  Write(dir, "seed_references_empty",
        Join({Bytes{0x00}, BackupFrame(kHeader, HeaderPayload("/r", 0100644, 0)),
              BackupFrame(kReferences, ReferencePayload({})), BackupFrame(kGoodEof, Bytes())}));
  Write(dir, "seed_references_count_beyond_bytes",
        Join({Bytes{0x00}, BackupFrame(kHeader, HeaderPayload("/r", 0100644, 0)),
              BackupFrame(kReferences, Bytes{0xFF, 0xFF, 0xFF, 0xF0, 0, 0, 0, 1, 'a'})}));
  const std::string pieces = ";/a;;/b;";
  Write(dir, "seed_volumes_empty_names",
        Join({Bytes{0x04}, BackupFrame(kVolumes, Bytes(pieces.begin(), pieces.end()))}));
  Write(dir, "seed_volumes_one_huge_name", Join({Bytes{0x04}, BackupFrame(kVolumes, Bytes(4000, 'v'))}));
  Write(dir, "seed_tape_info", Join({Bytes{0x00}, BackupFrame(kTapeInfo, Payload(ClTapeInfoMsg("BC0001", "SER9")))}));
}

// fuzz_download_stream: a control byte, then frames as (type index, u16
// length, payload); the indexes are those of kTypes in fuzz_download_stream.cpp.
void DownloadStream(const std::string& dir) {
  auto frame = [](uint8_t index, const std::string& payload) {
    Bytes out{index, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  };
  const uint8_t header = 0, data = 1, complete = 2, badEof = 3;
  Write(dir, "seed_two_logs", Join({Bytes{0x01}, frame(header, "a.log"), frame(data, "aaa"), frame(header, "sub/b.log"),
                                    frame(data, "bb"), frame(complete, "")}));
  Write(dir, "seed_unsafe_name", Join({Bytes{0x01}, frame(header, "../x"), frame(data, "x"), frame(complete, "")}));
  const Bytes bad = Payload(ClBadEofMsg("disk"));
  Write(dir, "seed_bad_eof_mid_file", Join({Bytes{0x01}, frame(header, "c.log"), frame(data, "cut"),
                                            frame(badEof, std::string(bad.begin(), bad.end())), frame(complete, "")}));
  Write(dir, "seed_dir_change", Join({Bytes{0x00}, frame(header, "DCTmp"), frame(data, "D\t0\t1\t/lib\n"),
                                      frame(complete, "")}));
  Write(dir, "seed_cut_mid_file", Join({Bytes{0x00}, frame(header, "DCTmp"), frame(data, "part")}));
}

void BrowseReply(const std::string& dir) {
  std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t> entries(5);
  const char* names[] = {".", "..", "...x", "lib", ""};
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].name = names[i];
    entries[i].type = static_cast<uint32_t>(i % 3);
    entries[i].size = static_cast<int64_t>(i) * 1000 - 1;
    entries[i].value = 0644;
  }
  Write(dir, "seed_listing", Payload(ClClientBrowseRepMsg(entries)));
  Write(dir, "seed_dots_only", Payload(ClClientBrowseRepMsg({entries[0], entries[1]})));
  Write(dir, "seed_empty", Payload(ClClientBrowseRepMsg()));
  Write(dir, "seed_count_beyond_bytes", Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
}

}  // namespace

// DR status files: a saved record, one with a tape list, a foreign record.
void DRStatusFile(const std::string& dir) {
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  const std::string entry =
      "<CNMessage ns=\"22\" id=\"423\"><Field position=\"1\" field=\"1\" type=\"int64\">4294967295</Field>"
      "<Field position=\"2\" field=\"2\" type=\"strings\"><String>T1:T2</String></Field></CNMessage>";
  Write(dir, "saved", text("<?xml version=\"1.0\"?><CNMessage ns=\"22\" id=\"538\"><Field position=\"1\" "
                           "field=\"1\" type=\"int64\">4</Field><Field position=\"2\" field=\"2\" "
                           "type=\"strings\"><String>654321/QSECOFR/DRSAVE</String></Field><Field position=\"3\" "
                           "field=\"6\" type=\"objects\">" + entry + "</Field></CNMessage>\n"));
  Write(dir, "state_only", text("<CNMessage ns=\"22\" id=\"538\"><Field position=\"1\" type=\"int64\">-1</Field></CNMessage>"));
  Write(dir, "foreign", text(entry));
}

// DR file items: a header with its barcode (a reference with its attribute
// bit), one cut inside the barcode, one with bytes after it.
void DRFileItem(const std::string& dir) {
  ClProxyFileHeaderSerializer file;
  file.name = "/QSYS.LIB/A.LIB";
  file.flags = 0x1000000004Cull;
  file.mode = 040755;
  Bytes bytes(file.getBufSize() + 10);
  uint32_t used = 0;
  file.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  ClProxySerializer::serialize(std::string("VOL001"), bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  Write(dir, "seed_header_and_barcode", bytes);
  Write(dir, "seed_cut_in_barcode", Bytes(bytes.begin(), bytes.end() - 3));
  bytes.push_back(0x55);
  Write(dir, "seed_trailing_bytes", bytes);
}

// The database file-backup records: a control byte (0 a stream of frames,
// 1 to 3 the body of a short, request or file record), then the bytes.
Bytes DBFBBody(uint64_t type, const void* record) {
  Bytes body;
  std::string why;
  if (!KxsEncodeRecord(type, record, kDBFBFileLength, body, why)) {
    std::fprintf(stderr, "cannot encode a record: %s\n", why.c_str());
    g_failed = true;
  }
  return body;
}

Bytes DBFBFrame(uint32_t type, const Bytes& body) {
  Bytes frame(kKxNetHeaderSize);
  KxNetEncodeHeader(type, static_cast<uint32_t>(body.size()), frame.data());
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

void DBFBXdr(const std::string& dir) {
  DBFB_ShortRecord start{};
  start.jobId = 4711;
  DBFB_RequestRecord request{};
  request.jobId = 4711;
  request.threadId = 321;
  DBFB_FileRecord file{};
  file.jobId = 4711;
  file.threadId = 321;
  file.fileName = "/db/db1/part01.dat";
  file.bytes = 2048;
  file.files = 1;
  file.header = "DB1/part01.dat";
  file.seqNum = 17;
  const Bytes shortBody = DBFBBody(DBFB_JOB_START_MSG, &start);
  const Bytes requestBody = DBFBBody(DBFB_NEXT_FILE_REQ_MSG, &request);
  const Bytes fileBody = DBFBBody(DBFB_FILE_MSG, &file);
  Write(dir, "seed_short", Join({Bytes{0x01}, shortBody}));
  Write(dir, "seed_request", Join({Bytes{0x02}, requestBody}));
  Write(dir, "seed_file", Join({Bytes{0x03}, fileBody}));
  Write(dir, "seed_stream", Join({Bytes{0x00}, DBFBFrame(DBFB_JOB_START_MSG, shortBody),
                                  DBFBFrame(DBFB_FILE_MSG, fileBody), DBFBFrame(DBFB_IGNORED_MSG, Bytes()),
                                  DBFBFrame(DBFB_JOB_STOP_MSG, shortBody)}));
}

// A media agent's answers: each reply kind as a KXNET_XML_MSG frame, and an
// empty one.
void TapeReply(const std::string& dir) {
  auto frame = [](const std::string& text) {
    uint8_t head[kKxNetHeaderSize];
    KxNetEncodeHeader(KXNET_XML_MSG, static_cast<uint32_t>(text.size()), head);
    Bytes bytes(head, head + sizeof head);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
  };
  MediaManager::QErrorMsg error;
  error.setint64(1, 1, 5);
  error.setstring(2, 2, "drive busy");
  MediaManager::GetChunkSizeOnMediaResp chunk;
  chunk.setint64(6, 6, 1LL << 40);
  std::string errorText, chunkText;
  error.serialize(errorText, false);
  chunk.serialize(chunkText, false);
  Write(dir, "seed_error", frame(errorText));
  Write(dir, "seed_chunk_size", frame(chunkText));
  Write(dir, "seed_empty", frame(""));
}

// fuzz_prepipeline: a mode byte (module script, limit of kept answers),
// then steps: 0 query batch (count, then id and seed per query), 1 result
// request, 2 another type (u16), 3 the wrong class, 4 a data block (flags,
// size, second size, compression, encryption, choice, [size], [room]), 5 a
// signature record (id), 6 the archive's write failure (on/off).
void Prepipeline(const std::string& dir) {
  Write(dir, "seed_query_block_signature",
        Bytes{0x00, 0, 2, 1, 1, 2, 2, 4, 0x05, 10, 0x20, 7, 1, 0x01, 5, 1});
  Write(dir, "seed_held_then_request",
        Bytes{0x01, 0, 3, 1, 1, 2, 2, 3, 3, 1, 5, 3, 5, 2, 5, 1});
  Write(dir, "seed_lost_on_wait", Bytes{0x06, 0, 3, 4, 0, 5, 1, 6, 2, 1, 5, 4, 5, 5});
  Write(dir, "seed_repeat_and_refusals",
        Bytes{0x08, 0, 1, 9, 3, 5, 9, 5, 9, 3, 2, 0x80, 0x0B, 0, 0});
  // Limit 4: three kept, a batch of two refused, one taken out, one more taken.
  Write(dir, "seed_kept_answer_limit", Bytes{0x10, 0, 3, 1, 0, 2, 1, 3, 2, 0, 2, 4, 3, 5, 3, 5, 1, 0, 1, 6, 3});
  Write(dir, "seed_write_failure_and_buffers",
        Bytes{0x00, 0, 1, 7, 1, 6, 1, 5, 7, 4, 1, 8, 0, 7, 1, 0x03, 40, 6, 0, 4, 0, 8, 0, 3, 0, 0x02, 8, 8});
}

// fuzz_restore_stream: frames as (type index, u16 length, payload), the
// indexes those of kTypes in fuzz_restore_stream.cpp; 0xFE makes a header
// from (kind, name length, name bytes into "/.abc\0", optional length, bytes).
Bytes RestoreFrame(uint8_t index, const Bytes& payload) {
  Bytes out{index, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

void RestoreStream(const std::string& dir) {
  enum : uint8_t { kHeader = 0, kData = 1, kGoodEof = 2, kBadEof = 3, kFilters = 4, kComplete = 5 };
  const std::string filters = "/QSYS.LIB/LIB1.LIB/A*.FILE;/home/*";
  Bytes filesStream = RestoreFrame(kFilters, Bytes(filters.begin(), filters.end()));
  Bytes end = RestoreFrame(kGoodEof, Bytes());
  filesStream.insert(filesStream.end(), end.begin(), end.end());
  for (const Bytes& frame :
       {RestoreFrame(kHeader, HeaderPayload("/lib", 040755, 0)), end,
        RestoreFrame(kHeader, HeaderPayload("/lib/f", 0100644, 5)), RestoreFrame(kData, Bytes{'h', 'e'}),
        RestoreFrame(kData, Bytes{'l', 'l', 'o'}), end, RestoreFrame(kHeader, HeaderPayload("/lib/l", 0120777, 1)),
        RestoreFrame(kData, Bytes{'f'}), end, RestoreFrame(kHeader, HeaderPayload("/lib/p", 0100644, 9)),
        RestoreFrame(kData, Bytes{'x'}), RestoreFrame(kBadEof, Bytes{0, 0, 0, 0}),
        RestoreFrame(kComplete, Bytes())})
    filesStream.insert(filesStream.end(), frame.begin(), frame.end());
  Write(dir, "seed_files", filesStream);
  // Made headers: ".." and a link out of the root, then a name through it.
  const Bytes escapes = {0xFE, 0, 3, 0, 1, 1, 0,          // a file "/.."
                         0xFE, 2, 2, 2, 3, 0,             // a link "ab"
                         kData, 0, 2, '.', '.', kGoodEof, 0, 0,
                         0xFE, 0, 4, 2, 3, 0, 4, 0,       // a file "ab/c"
                         kData, 0, 1, 'z', kGoodEof, 0, 0};
  Write(dir, "seed_escapes", escapes);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  const std::string frames = root + "/fuzz_frame_decoder";
  const std::string payloads = root + "/fuzz_message_payload";
  const std::string records = root + "/fuzz_file_records";
  const std::string backup = root + "/fuzz_backup_stream";
  const std::string download = root + "/fuzz_download_stream";
  const std::string browse = root + "/fuzz_browse_reply";
  const std::string drStatus = root + "/fuzz_dr_status_file";
  const std::string drItem = root + "/fuzz_dr_file_item";
  const std::string dbfb = root + "/fuzz_dbfb_xdr";
  const std::string tape = root + "/fuzz_tape_reply";
  const std::string prepipeline = root + "/fuzz_prepipeline";
  if (!MakeDir(root) || !MakeDir(frames) || !MakeDir(payloads) || !MakeDir(records) || !MakeDir(backup) ||
      !MakeDir(download) || !MakeDir(browse) || !MakeDir(drStatus) || !MakeDir(drItem) || !MakeDir(dbfb) ||
      !MakeDir(tape) || !MakeDir(prepipeline))
    return 1;
  FrameDecoder(frames);
  MessagePayload(payloads);
  FileRecords(records);
  BackupStream(backup);
  DownloadStream(download);
  BrowseReply(browse);
  DRStatusFile(drStatus);
  DRFileItem(drItem);
  DBFBXdr(dbfb);
  TapeReply(tape);
  Prepipeline(prepipeline);
  const std::string restoreStream = root + "/fuzz_restore_stream";
  if (!MakeDir(restoreStream)) return 1;
  RestoreStream(restoreStream);
  return g_failed ? 1 : 0;
}
