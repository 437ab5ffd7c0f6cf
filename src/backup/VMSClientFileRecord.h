// VMSClientFileRecord: a client file record of an OpenVMS file.
//
// It carries the file's 64-bit record attributes; the low four bits choose
// the one divider that getData adds to the data before handing it out:
//   1       "\r\n" appended, unless the data ends in 0x0A, 0x0B or 0x0C
//   2       "\r" prepended
//   4, 5    "\n" prepended
//   6       the data length, 2 bytes low byte first, prepended; one 0x00
//           appended when that length is odd
//   others  nothing
// The divider is added once; later getData calls hand out the same bytes.
// A divider that would take the data past 65535 bytes is not added and
// getData fails with CLIENT_FILE_RECORD_TOO_LARGE, the record unchanged.
// A list built with such a record as template decodes every record as a
// VMSClientFileRecord with the template's attributes.
#pragma once

#include <cstdint>

#include "ClClientFileRecord.h"

class VMSClientFileRecord : public ClClientFileRecord {
 public:
  explicit VMSClientFileRecord(unsigned long recordAttributes);
  ~VMSClientFileRecord() override;

  // A record with these attributes and flags, its divider not yet added.
  ClClientFileRecord* newRecord() const override;
  // Adds the divider (once), then hands out the record's own block and size.
  int getData(char*& d, uint16_t& dSize) override;
  void previousRecordInfo(ClClientFileRecord* record) override;

  // The data becomes `count` bytes followed by the old data.
  void prependDataWith(const char* bytes, uint16_t count);
  // `count` bytes are added after the data.
  void appendDataWith(const char* bytes, uint16_t count);

  uint64_t getRecordAttributes() const { return recordAttributes; }
  bool getNeedAddDivider() const { return needAddDivider; }
  bool getPreviousRecordHaveFVL() const { return previousRecordHaveFVL; }
  bool isDividerAdded() const { return dividerAdded; }

 protected:
  uint64_t recordAttributes;
  bool needAddDivider;
  bool previousRecordHaveFVL;
  bool dividerAdded;
};
