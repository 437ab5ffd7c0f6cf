// Fuzzes the database file-backup records' XDR decoder, the way the
// platform network connection receives them.
//
// Input: one control byte, then the bytes. Control & 3:
//   0  the bytes are a received stream: framed by KxNetFrameReader over a
//      socket pair, each frame's body decoded for its type
//   1, 2, 3  the bytes are the body of a short, request or file record,
//      decoded by our codec and (where libtirpc is installed) by libtirpc's
//      xdr_* routines with the same bounds: both must accept or both
//      refuse, with the same values
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "KxNetFrame.h"
#include "KxsDBFBRecords.h"

#ifdef PROXY_HAVE_TIRPC
#include <rpc/xdr.h>
#endif

namespace {

union AnyRecord {
  DBFB_ShortRecord shortRecord;
  DBFB_RequestRecord request;
  DBFB_FileRecord file;
  unsigned char bytes[kDBFBFileLength];
};

void CheckTexts(uint64_t type, const AnyRecord& record) {
  if (KxsRecordKindOf(type) != KXS_RECORD_FILE) return;
  FUZZ_CHECK(record.file.fileName && std::strlen(record.file.fileName) <= kDBFBTextBound, "file name unbounded");
  FUZZ_CHECK(record.file.header && std::strlen(record.file.header) <= kDBFBTextBound, "header unbounded");
}

void Stream(const uint8_t* data, size_t size) {
  const int fed = FuzzFedSocket(data, size);
  KxNetFrameReader reader;
  for (int frames = 0; frames < 10000; ++frames) {
    uint32_t type = 0;
    std::vector<uint8_t> body;
    bool timedOut = false;
    if (reader.Read(fed, 0, type, body, timedOut).IsError()) break;
    FUZZ_CHECK(body.size() <= kKxNetMaxBody, "a body above the frame limit");
    AnyRecord record;
    std::memset(&record, 0, sizeof record);
    KxsDecodedTexts texts;
    std::string why;
    if (KxsRecordKindOf(type) != KXS_RECORD_UNKNOWN &&
        KxsDecodeRecord(type, body.data(), body.size(), &record, kDBFBFileLength, texts, why))
      CheckTexts(type, record);
  }
  ::close(fed);
}

#ifdef PROXY_HAVE_TIRPC

// A bounded text as libtirpc reads it; refused, as ours is, when it holds a
// NUL.
bool TirpcText(XDR* xdr, std::string& text) {
  char* bytes = nullptr;
  u_int length = 0;
  if (!xdr_bytes(xdr, &bytes, &length, kDBFBTextBound)) return false;
  const bool ok = length == 0 || !std::memchr(bytes, 0, length);
  if (ok && length) text.assign(bytes, length);
  std::free(bytes);
  return ok;
}

bool TirpcDecode(KxsRecordKind kind, const uint8_t* data, size_t size, AnyRecord& record, KxsDecodedTexts& texts) {
  XDR xdr;
  xdrmem_create(&xdr, const_cast<char*>(reinterpret_cast<const char*>(data)), static_cast<u_int>(size), XDR_DECODE);
  bool ok = false;
  u_quad_t a = 0, b = 0, c = 0, d = 0, e = 0;
  int p = 0, q = 0, r = 0;
  if (kind == KXS_RECORD_SHORT) {
    ok = xdr_u_quad_t(&xdr, &a) && xdr_int(&xdr, &p);
    record.shortRecord.jobId = a;
    record.shortRecord.status = p;
  } else if (kind == KXS_RECORD_REQUEST) {
    ok = xdr_u_quad_t(&xdr, &a) && xdr_u_quad_t(&xdr, &b) && xdr_int(&xdr, &p) && xdr_int(&xdr, &q) &&
         xdr_int(&xdr, &r);
    record.request = DBFB_RequestRecord{a, b, p, q, r};
  } else {
    ok = xdr_u_quad_t(&xdr, &a) && xdr_u_quad_t(&xdr, &b) && TirpcText(&xdr, texts.fileName) &&
         xdr_u_quad_t(&xdr, &c) && xdr_u_quad_t(&xdr, &d) && xdr_int(&xdr, &p) && TirpcText(&xdr, texts.header) &&
         xdr_u_quad_t(&xdr, &e);
    record.file.jobId = a;
    record.file.threadId = b;
    record.file.bytes = c;
    record.file.files = d;
    record.file.phase = p;
    record.file.seqNum = e;
  }
  ok = ok && xdr_getpos(&xdr) == size;  // ours refuses bytes left over
  xdr_destroy(&xdr);
  return ok;
}

#endif

void Body(KxsRecordKind kind, const uint8_t* data, size_t size) {
  const uint64_t type = kind == KXS_RECORD_SHORT     ? DBFB_JOB_START_MSG
                        : kind == KXS_RECORD_REQUEST ? DBFB_NEXT_FILE_REQ_MSG
                                                     : DBFB_FILE_MSG;
  AnyRecord ours;
  std::memset(&ours, 0, sizeof ours);
  KxsDecodedTexts ourTexts;
  std::string why;
  const bool ourOk = KxsDecodeRecord(type, data, size, &ours, kDBFBFileLength, ourTexts, why);
  if (ourOk) CheckTexts(type, ours);
#ifdef PROXY_HAVE_TIRPC
  AnyRecord theirs;
  std::memset(&theirs, 0, sizeof theirs);
  KxsDecodedTexts theirTexts;
  const bool theirOk = TirpcDecode(kind, data, size, theirs, theirTexts);
  FUZZ_CHECK(ourOk == theirOk, "ours %s, libtirpc %s (%s)", ourOk ? "accepts" : "refuses",
             theirOk ? "accepts" : "refuses", why.c_str());
  if (!ourOk) return;
  if (kind == KXS_RECORD_SHORT) {
    FUZZ_CHECK(ours.shortRecord.jobId == theirs.shortRecord.jobId && ours.shortRecord.status == theirs.shortRecord.status,
               "short records differ");
  } else if (kind == KXS_RECORD_REQUEST) {
    FUZZ_CHECK(ours.request.jobId == theirs.request.jobId && ours.request.threadId == theirs.request.threadId &&
                   ours.request.phase == theirs.request.phase && ours.request.status == theirs.request.status &&
                   ours.request.channel == theirs.request.channel,
               "request records differ");
  } else {
    FUZZ_CHECK(ours.file.jobId == theirs.file.jobId && ours.file.threadId == theirs.file.threadId &&
                   ours.file.bytes == theirs.file.bytes && ours.file.files == theirs.file.files &&
                   ours.file.phase == theirs.file.phase && ours.file.seqNum == theirs.file.seqNum,
               "file records differ");
    FUZZ_CHECK(ourTexts.fileName == theirTexts.fileName && ourTexts.header == theirTexts.header, "texts differ");
  }
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  if (size == 0) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  switch (control & 3) {
    case 0:
      Stream(data, size);
      break;
    case 1:
      Body(KXS_RECORD_SHORT, data, size);
      break;
    case 2:
      Body(KXS_RECORD_REQUEST, data, size);
      break;
    default:
      Body(KXS_RECORD_FILE, data, size);
      break;
  }
  return 0;
}
