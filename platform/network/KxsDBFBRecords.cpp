#include "KxsDBFBRecords.h"

#include <cstring>

#include "KxXdr.h"

KxsRecordKind KxsRecordKindOf(uint64_t type) {
  switch (type) {
    case DBFB_JOB_START_MSG:
    case DBFB_JOB_STOP_MSG:
      return KXS_RECORD_SHORT;
    case DBFB_NEXT_FILE_REQ_MSG:
    case DBFB_JOB_COMPLETE_MSG:
      return KXS_RECORD_REQUEST;
    case DBFB_FILE_MSG:
      return KXS_RECORD_FILE;
    case DBFB_IGNORED_MSG:
      return KXS_RECORD_EMPTY;
    default:
      return KXS_RECORD_UNKNOWN;
  }
}

const char* KXS_OraBackupRestore_PM_STRING(uint64_t type) {
  switch (type) {
    case DBFB_JOB_START_MSG: return "DBFB_JOB_START_MSG";
    case DBFB_JOB_STOP_MSG: return "DBFB_JOB_STOP_MSG";
    case DBFB_NEXT_FILE_REQ_MSG: return "DBFB_NEXT_FILE_REQ_MSG";
    case DBFB_JOB_COMPLETE_MSG: return "DBFB_JOB_COMPLETE_MSG";
    case DBFB_IGNORED_MSG: return "DBFB_IGNORED_MSG";
    case DBFB_FILE_MSG: return "DBFB_FILE_MSG";
    default: return "UNKNOWN_MSG";
  }
}

namespace {

uint32_t DeclaredLength(KxsRecordKind kind) {
  switch (kind) {
    case KXS_RECORD_SHORT: return kDBFBShortLength;
    case KXS_RECORD_REQUEST: return kDBFBRequestLength;
    case KXS_RECORD_FILE: return kDBFBFileLength;
    default: return 0;
  }
}

bool PutText(KxXdrWriter& writer, const char* text, std::string& why, const char* field) {
  const size_t length = text ? std::strlen(text) : 0;
  if (writer.PutString(text, length, kDBFBTextBound)) return true;
  why = std::string("The ") + field + " of " + std::to_string(length) + " bytes is above the bound of " +
        std::to_string(kDBFBTextBound);
  return false;
}

}  // namespace

bool KxsEncodeRecord(uint64_t type, const void* record, uint32_t length, std::vector<uint8_t>& out,
                     std::string& why) {
  const KxsRecordKind kind = KxsRecordKindOf(type);
  if (kind == KXS_RECORD_UNKNOWN) {
    why = "No record is known for the message type " + std::to_string(type);
    return false;
  }
  if (kind == KXS_RECORD_EMPTY) return true;
  if (!record || length < DeclaredLength(kind)) {
    why = "The record's declared length " + std::to_string(length) + " is below " +
          std::to_string(DeclaredLength(kind)) + " for " + KXS_OraBackupRestore_PM_STRING(type);
    return false;
  }
  const size_t start = out.size();
  KxXdrWriter writer(out);
  if (kind == KXS_RECORD_SHORT) {
    const DBFB_ShortRecord& r = *static_cast<const DBFB_ShortRecord*>(record);
    writer.PutUint64(r.jobId);
    writer.PutInt32(r.status);
  } else if (kind == KXS_RECORD_REQUEST) {
    const DBFB_RequestRecord& r = *static_cast<const DBFB_RequestRecord*>(record);
    writer.PutUint64(r.jobId);
    writer.PutUint64(r.threadId);
    writer.PutInt32(r.phase);
    writer.PutInt32(r.status);
    writer.PutInt32(r.channel);
  } else {
    const DBFB_FileRecord& r = *static_cast<const DBFB_FileRecord*>(record);
    writer.PutUint64(r.jobId);
    writer.PutUint64(r.threadId);
    if (!PutText(writer, r.fileName, why, "file name")) {
      out.resize(start);
      return false;
    }
    writer.PutUint64(r.bytes);
    writer.PutUint64(r.files);
    writer.PutInt32(r.phase);
    if (!PutText(writer, r.header, why, "header")) {
      out.resize(start);
      return false;
    }
    writer.PutUint64(r.seqNum);
  }
  return true;
}

bool KxsDecodeRecord(uint64_t type, const uint8_t* body, size_t size, void* record, uint32_t length,
                     KxsDecodedTexts& texts, std::string& why) {
  const KxsRecordKind kind = KxsRecordKindOf(type);
  if (kind == KXS_RECORD_UNKNOWN) {
    why = "No record is known for the message type " + std::to_string(type);
    return false;
  }
  if (kind != KXS_RECORD_EMPTY && (!record || length < DeclaredLength(kind))) {
    why = "The receiving record's declared length " + std::to_string(length) + " is below " +
          std::to_string(DeclaredLength(kind)) + " for " + KXS_OraBackupRestore_PM_STRING(type);
    return false;
  }
  KxXdrReader reader(body, size);
  bool ok = true;
  if (kind == KXS_RECORD_SHORT) {
    DBFB_ShortRecord r{};
    ok = reader.GetUint64(r.jobId) && reader.GetInt32(r.status);
    if (ok && reader.Left() == 0) std::memcpy(record, &r, sizeof r);
  } else if (kind == KXS_RECORD_REQUEST) {
    DBFB_RequestRecord r{};
    ok = reader.GetUint64(r.jobId) && reader.GetUint64(r.threadId) && reader.GetInt32(r.phase) &&
         reader.GetInt32(r.status) && reader.GetInt32(r.channel);
    if (ok && reader.Left() == 0) std::memcpy(record, &r, sizeof r);
  } else if (kind == KXS_RECORD_FILE) {
    DBFB_FileRecord r{};
    std::string name, header;
    ok = reader.GetUint64(r.jobId) && reader.GetUint64(r.threadId) && reader.GetString(name, kDBFBTextBound) &&
         reader.GetUint64(r.bytes) && reader.GetUint64(r.files) && reader.GetInt32(r.phase) &&
         reader.GetString(header, kDBFBTextBound) && reader.GetUint64(r.seqNum);
    if (ok && reader.Left() == 0) {
      texts.fileName.swap(name);
      texts.header.swap(header);
      r.fileName = texts.fileName.c_str();
      r.header = texts.header.c_str();
      std::memcpy(record, &r, sizeof r);
    }
  }
  if (!ok) {
    why = std::string("The body of ") + KXS_OraBackupRestore_PM_STRING(type) + " (" + std::to_string(size) +
          " bytes) does not decode: an item ends early, or a text is above " + std::to_string(kDBFBTextBound) +
          " bytes or holds a NUL";
    return false;
  }
  if (reader.Left() != 0) {
    why = std::string("The body of ") + KXS_OraBackupRestore_PM_STRING(type) + " has " +
          std::to_string(reader.Left()) + " bytes left over";
    return false;
  }
  return true;
}
