// KXArchive: the host's archive writer, as the pre-pipeline manager uses it.
//
// Configuration: the pre-pipeline configuration and the signature-query
// parameters are what a test (or the example host) set; until set, the
// configuration is a new record and there are no parameters (-1).
//
// Raw buffers: allocateRawBuffer2 hands out a buffer of a 96-byte header
// area followed by the room asked for; the buffer is outstanding until
// writeRawBuffer takes it (success) or freeBuffer releases it with the
// release arguments of its allocation. A failed write leaves the buffer
// outstanding and its owner's. writeRawBuffer appends the buffer's header
// area and `uDataSize` bytes of its data to the archive file (when a path
// was given) and keeps a copy of the record; it refuses (-1) a buffer that
// is not outstanding or a data size beyond the buffer's room, writing
// nothing. ReadArchiveFile parses such a file back.
//
// Failure switches: SetFailure(call, true) makes every later call of that
// kind fail (null or -1) without any effect. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ClPrePipelineRecords.h"
#include "CWqError.h"

// Release arguments of one raw buffer.
struct FreeBufArgs_t {
  uint64_t ullBufferId = 0;
};

struct AllocateBufArgs_t {
  uint32_t uDataSize = 0;  // room wanted after the header area
  uint8_t bFlag = 0;
};

struct AllocateBufRet_t {
  uint32_t uRoom = 0;        // room for data after the 96-byte header area
  FreeBufArgs_t freeArgs;    // what freeBuffer takes to release the buffer
};

struct WriteBufArgs_t {
  uint32_t uBufferType = 0;
  uint32_t uDataSize = 0;
};

struct WriteBufRet_t {
  uint64_t ullArchiveOffset = 0;  // where the record starts in the archive file
};

// The archive's signature-query parameters; offsets 8 to 59 are those of
// _stSQueryInitParameters.
struct st_SigQueryParams {
  uint64_t ullReserved0 = 0;
  const char* pClientName = nullptr;
  bool bUseCacheDB = false;
  bool bUseSIDB = false;
  uint8_t pad18[2] = {};
  uint32_t uCacheDBSizeMB = 0;
  uint32_t uCopyId = 0;
  uint8_t pad28[4] = {};
  uint64_t ullJobId = 0;
  int32_t iCarried40 = 0;
  uint32_t uAppId = 0;
  uint32_t uCarried48 = 0;
  uint32_t uCarried52 = 0;
  uint32_t uSIDBStoreId = 0;
  uint8_t pad60[4] = {};
  uint64_t ullReserved64 = 0;
};

class KXArchive {
 public:
  static constexpr uint32_t kHeaderArea = 96;

  enum Call { kGetConfig, kGetParams, kAllocate, kWrite, kFree, kCallCount };

  // One record taken by writeRawBuffer.
  struct Record {
    std::vector<uint8_t> header;  // the 96-byte header area as written
    std::vector<uint8_t> data;
  };

  // `path` empty: records are kept in memory only.
  explicit KXArchive(const std::string& path = std::string());
  ~KXArchive();
  KXArchive(const KXArchive&) = delete;
  KXArchive& operator=(const KXArchive&) = delete;

  void SetConfig(const _PrePipelineDedupe_Config& config);
  // The client name is copied; the parameters handed out point at the copy.
  void SetQueryParams(const st_SigQueryParams& params, const std::string& clientName);
  void SetFailure(Call call, bool fail);

  // 0 and the configuration; -1 when failing.
  int Get_PrePipelineDedupe_Config(_PrePipelineDedupe_Config& config);
  // 0 and the parameters; -1 when failing or none were set.
  int Get_PrePipelineDedupeParams(st_SigQueryParams& params);

  char* allocateRawBuffer2(AllocateBufArgs_t* args, AllocateBufRet_t* ret);
  int writeRawBuffer(char* rawBuffer, WriteBufArgs_t* args, WriteBufRet_t* ret);
  int freeBuffer(FreeBufArgs_t* args, void* ret);

  size_t OutstandingBuffers() const;
  size_t Allocations() const;
  std::vector<Record> Records() const;

  // The records of an archive file: each a 96-byte header and the number of
  // data bytes its offset 36 names (big-endian). False when the file cannot
  // be read or ends inside a record.
  static bool ReadArchiveFile(const std::string& path, std::vector<Record>& records, std::string& error);

 private:
  struct Buffer {
    std::unique_ptr<char[]> bytes;
    uint32_t room = 0;
  };

  mutable std::mutex m_mutex;
  std::string m_sPath;
  uint64_t m_ullFileSize;
  _PrePipelineDedupe_Config m_config;
  bool m_bHaveParams;
  st_SigQueryParams m_params;
  std::string m_sClientName;
  bool m_failures[kCallCount];
  uint64_t m_ullNextId;
  size_t m_allocations;
  std::map<uint64_t, Buffer> m_buffers;
  std::vector<Record> m_records;
};
