// ClClientFileRecord: one client file-data record, a counted run of bytes.
//
// On the wire a record is the 32-bit magic 0xBEEFBEAD followed by its data as
// one counted byte string (16-bit length, then the bytes), both written by
// ClProxySerializer, so a record takes 4 + 2 + size bytes. A record is empty
// (no data) until setData or a successful deserialize, and empty again after
// clearData or a failed deserialize. Data blocks come from malloc and go back
// with free. Operations return the status codes below; a failed serialize or
// deserialize leaves `usedBufSize` as it was. Not thread-safe.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

// Status codes of the client file-record classes.
enum ClClientFileRecordStatus : int {
  CLIENT_FILE_RECORD_OK = 0,
  CLIENT_FILE_RECORD_NO_NEW_RECORD = 1,   // the template made no new record
  CLIENT_FILE_RECORD_BAD_ARGUMENT = 2,    // a null record, or null data with a size
  CLIENT_FILE_RECORD_TOO_LARGE = 3,       // a divider would take the data past 65535 bytes
  CLIENT_FILE_RECORD_NO_MEMORY = 4,       // a data block or the cache could not be had
  CLIENT_FILE_RECORD_BAD_MAGIC = 5,       // a record does not begin with the magic
  CLIENT_FILE_RECORD_NOT_ENOUGH_BYTES = 6,  // no room to write, or the input ends inside a record
  CLIENT_FILE_RECORD_LIST_EMPTY = 9,      // fetchRecord found no record
};

// Owner of a block that came from malloc.
struct ClMallocFree {
  void operator()(char* block) const { std::free(block); }
};
using ClMallocBlock = std::unique_ptr<char, ClMallocFree>;

class ClClientFileRecord {
 public:
  static constexpr uint32_t kMagic = 0xBEEFBEADu;

  ClClientFileRecord();
  virtual ~ClClientFileRecord();
  ClClientFileRecord(const ClClientFileRecord&) = delete;
  ClClientFileRecord& operator=(const ClClientFileRecord&) = delete;

  // A new, empty record of the same class; the caller owns it.
  virtual ClClientFileRecord* newRecord() const;
  // Writes the record at offset `usedBufSize` of buf and advances the offset.
  virtual int serialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize);
  // Reads one record from offset `usedBufSize`; on success advances the
  // offset and the record holds the data read.
  virtual int deserialize(char* buf, uint32_t bufSize, uint32_t& usedBufSize);
  // 4 + 2 + size.
  virtual uint32_t getBufSize();
  // Copies dSize bytes from d; the block held before is freed.
  virtual int setData(char* d, uint16_t dSize);
  // Hands out the record's own block and size; the record keeps the block.
  virtual int getData(char*& d, uint16_t& dSize);
  // Frees the data; the record is empty again.
  virtual int clearData();
  // Tells a list's template about the record just decoded (null once when
  // the list is built). The base ignores it.
  virtual void previousRecordInfo(ClClientFileRecord* record);

  // The number of records its list held when the list decoded this record.
  uint32_t getIndex() const { return index; }
  bool isInitialized() const { return initialized; }

 protected:
  friend class ClClientFileRecordSerializer;

  uint32_t index;
  bool initialized;
  uint32_t magic;
  ClMallocBlock data;  // null whenever size is 0
  uint16_t size;
};
