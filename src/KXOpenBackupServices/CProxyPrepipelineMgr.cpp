#include "CProxyPrepipelineMgr.h"

#include <cstring>
#include <ctime>
#include <string>

#include "ArchiveTagHeader.h"
#include "ClPipelineMsgs.h"
#include "FXErrorUtil.h"
#include "FXThread.h"
#include "KXJobPerfManager.h"

#define PLOG(level, ...) m_debug.DebugLvl(__PRETTY_FUNCTION__, level, __VA_ARGS__)

namespace {

const uint32_t kErrorProxyOperation = 774;  // ERROR_PROXY_OPERATION
const uint32_t kTagRecordSize = sizeof(SIDBQueryAndInsertSignaturesResponseParam);
const uint32_t kPerfCounterGroup = 542;

// The archive's parameters: offset 0 cleared, 8 to 59 copied, 64 left.
void CopyQueryParams(const st_SigQueryParams& from, _stSQueryInitParameters& to) {
  to.ullCarried0 = 0;
  to.pClientName = from.pClientName;
  to.bUseCacheDB = from.bUseCacheDB;
  to.bUseSIDB = from.bUseSIDB;
  std::memcpy(to.pad18, from.pad18, sizeof to.pad18);
  to.uCacheDBSizeMB = from.uCacheDBSizeMB;
  to.uCopyId = from.uCopyId;
  std::memcpy(to.pad28, from.pad28, sizeof to.pad28);
  to.ullJobId = from.ullJobId;
  to.iCarried40 = from.iCarried40;
  to.uAppId = from.uAppId;
  to.uCarried48 = from.uCarried48;
  to.uCarried52 = from.uCarried52;
  to.uSIDBStoreId = from.uSIDBStoreId;
}

// The counters' time stamp: now broken down as UTC and read back as if it
// were local time.
uint32_t CounterTimeStamp() {
  const time_t now = static_cast<time_t>(FXTime());
  struct tm broken;
  gmtime_r(&now, &broken);
  return static_cast<uint32_t>(mktime(&broken));
}

}  // namespace

CProxyPrepipelineMgr::CProxyPrepipelineMgr()
    : m_pArchive(nullptr),
      m_debug(nullptr),
      m_bInitialized(false),
      m_bDedupeEnabled(false),
      m_bQueryServerRunning(false),
      m_uQueryPort(0),
      m_uJobId(0),
      m_uArchiveFileId(0) {}

CProxyPrepipelineMgr::CProxyPrepipelineMgr(const CProxyPrepipelineMgr&) : CProxyPrepipelineMgr() {}

CProxyPrepipelineMgr& CProxyPrepipelineMgr::operator=(const CProxyPrepipelineMgr&) { return *this; }

CProxyPrepipelineMgr::~CProxyPrepipelineMgr() { Uninitialize(); }

CWqError CProxyPrepipelineMgr::Initialize(KXArchive* archive, unsigned int jobId, unsigned int archiveFileId) {
  m_debug.setJobId(jobId);
  if (!archive) {
    PLOG(-1, "[ERROR] Invalid Parameters");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Invalid Parameters");
  }
  m_pArchive = archive;
  m_uJobId = jobId;
  m_uArchiveFileId = archiveFileId;
  m_bInitialized = true;
  return CWqError::Success();
}

CWqError CProxyPrepipelineMgr::Reinitialize(KXArchive* archive, unsigned int jobId, unsigned int archiveFileId) {
  m_debug.setJobId(jobId);
  if (!archive) {
    PLOG(-1, "[ERROR] Invalid Parameters");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Invalid Parameters");
  }
  if (archive != m_pArchive) m_handedOut.clear();  // the old archive's buffers are not this one's
  m_pArchive = archive;
  m_uJobId = jobId;
  m_uArchiveFileId = archiveFileId;
  m_queryMgr.SetAFileID(archiveFileId);
  return CWqError::Success();
}

CWqError CProxyPrepipelineMgr::GetPrePipelineDedupeConfig(_PrePipelineDedupe_Config& config, bool& enabled) {
  std::memset(static_cast<void*>(&config), 0, sizeof config);
  if (!m_bInitialized)
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "UnInitialized CProxyPrepipelineMgr module");
  if (m_pArchive->Get_PrePipelineDedupe_Config(config) != 0) {
    PLOG(-1, "[ERROR] The archive gave no pre-pipeline configuration");
    std::memset(static_cast<void*>(&config), 0, sizeof config);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "The archive gave no pre-pipeline configuration");
  }
  enabled = false;
  if (config.ullFlags & 1) {
    st_SigQueryParams archiveParams;
    if (m_pArchive->Get_PrePipelineDedupeParams(archiveParams) != 0) {
      PLOG(-1, "[ERROR] The archive gave no signature-query parameters");
      return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation,
                                     "The archive gave no signature-query parameters");
    }
    CopyQueryParams(archiveParams, m_params);
    if (config.uSignatureLocation == 1 || config.uCompressionLocation == 1) {
      m_bDedupeEnabled = true;
      enabled = true;
    }
  }
  if (!m_bDedupeEnabled) return CWqError::Success();

  PLOG(1,
       "BKPAPI: PrePipeline mode  [%p] [Archive - %p] [PrePipelineMode - %s] [Compression location - %u] "
       "[Compression scheme - %u] [Signature location - %u] [Signature scheme - %u] [Dedupe-blocksize-KB - %u] "
       "[signatureperbatch - %u] [SIDB-Store-ID - %u]",
       static_cast<void*>(this), static_cast<void*>(m_pArchive), "Yes", config.uCompressionLocation,
       config.uCompressionScheme, config.uSignatureLocation, config.uSignatureScheme, config.uDedupeBlockSizeKB,
       config.uSignaturesPerBatch, m_params.uSIDBStoreId);
  if (config.uSignatureLocation != 1) return CWqError::Success();
  if (m_bQueryServerRunning) {
    // Started once: a later call reports the same listener.
    config.uQueryPort = m_uQueryPort;
    return CWqError::Success();
  }
  unsigned int port = 0;
  m_queryMgr.SetSignaturesPerBatch(config.uSignaturesPerBatch);
  CWqError result = m_queryMgr.Initialize(static_cast<long>(m_uJobId), m_uArchiveFileId.load(),
                                          config.uSignatureScheme, m_params, port);
  if (result.IsError()) {
    result.Push(FX_HERE, "CLProxyDedupeQueryMgr initaialization failed [%s]", result.AsString().c_str());
    return result;
  }
  config.uQueryPort = port;
  m_uQueryPort = port;
  m_bQueryServerRunning = true;
  return CWqError::Success();
}

char* CProxyPrepipelineMgr::AllocateKXArchiveBuffer(AllocateBufArgs_t* args, AllocateBufRet_t* ret) {
  if (!m_pArchive || !args || !ret) return nullptr;
  char* raw = m_pArchive->allocateRawBuffer2(args, ret);
  if (!raw) return nullptr;
  char* data = raw + kArchiveTagHeaderSize;
  HandedOut entry;
  entry.raw = raw;
  entry.release = ret->freeArgs;
  m_handedOut[data] = entry;  // an address given again was freed by its owner
  return data;
}

int CProxyPrepipelineMgr::WriteKXArchiveBuffer(char* data, WriteBufArgs_t* args, WriteBufRet_t* ret,
                                               _PipelineDataHdr* header) {
  if (!m_bInitialized) {
    PLOG(-1, "[ERROR] UnInitialized CProxyPrepipelineMgr module");
    return -1;
  }
  auto found = m_handedOut.find(data);
  if (found == m_handedOut.end() || !args) {
    PLOG(-1, "BKPAPI:error during Write-KXArchive-Buffer [Invalid Tag pointer]");
    return kArchiveTagRefused;
  }
  char* raw = found->second.raw;
  std::string refusal;
  if (EncodeArchiveTagHeader(args->uBufferType, args->uDataSize, header, m_uArchiveFileId.load(),
                             reinterpret_cast<uint8_t*>(raw), &refusal) != 0) {
    PLOG(-1, "%s", refusal.c_str());
    return kArchiveTagRefused;
  }
  if (m_pArchive->writeRawBuffer(raw, args, ret) != 0) {
    PLOG(-1, "BKPAPI:error during Write-KXArchive-RawBuffer ");
    return kArchiveTagRefused;
  }
  m_handedOut.erase(found);
  return 0;
}

void CProxyPrepipelineMgr::ReleaseOwn(char* data) {
  auto found = m_handedOut.find(data);
  if (found == m_handedOut.end()) return;
  FreeBufArgs_t release = found->second.release;
  m_handedOut.erase(found);
  (void)m_pArchive->freeBuffer(&release, nullptr);
}

CWqError CProxyPrepipelineMgr::onPrepipelineDedupeData(char* data, unsigned int size, _PipelineDataHdr* header,
                                                       char* buffer, unsigned int room) {
  if (!m_bInitialized) {
    PLOG(-1, "[ERROR] UnInitialized CProxyPrepipelineMgr module");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "UnInitialized CProxyPrepipelineMgr module");
  }
  if ((!data && size) || (header && header->uDataSize != size)) {
    // The tag header records the pipeline header's size: a block of any
    // other size would make the archive record lie about its data.
    PLOG(-1, "[ERROR] Invalid Parameter [Data-size - %u] [Header data-size - %u]", size,
         header ? header->uDataSize : 0);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation,
                                   "Invalid Parameter: data size %u, the pipeline header names %u", size,
                                   header ? header->uDataSize : 0);
  }
  return WriteRecord(data, size, kArchiveBufferData, header, buffer, room, "error during send PL buffer");
}

CWqError CProxyPrepipelineMgr::onPrepipelineSignature(_PrePipelineDedupe_Signature* signature, char* buffer,
                                                      unsigned int room) {
  if (!m_bQueryServerRunning) {
    PLOG(-1, "[ERROR] Prerpipeline Dedupe message is unexpected, when Dedupe is disabled");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation,
                                   "Prerpipeline Dedupe message is unexpected, when Dedupe is disabled");
  }
  if (!m_bInitialized) {
    PLOG(-1, "[ERROR] UnInitialized CProxyPrepipelineMgr module");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "UnInitialized CProxyPrepipelineMgr module");
  }
  if (!signature) {
    PLOG(-1, "[ERROR] Invalid Parameter");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Invalid Parameter");
  }
  SIDBQueryAndInsertSignaturesResponseParam answer;
  if (!m_queryMgr.GetQueryRespParam(signature->uUniqueId, answer)) {
    PLOG(-1, "[ERROR] Signature not found in the resp-list [UniqueID - %u]", signature->uUniqueId);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Signature not found in the resp-list [UniqueID - %u]",
                                   signature->uUniqueId);
  }
  CWqError result = SendSignatureTagData(&answer, buffer, room);
  if (result.IsError()) result.Push(FX_HERE, "SendSignatureTagData failed[%s]", result.AsString().c_str());
  return result;
}

CWqError CProxyPrepipelineMgr::SendSignatureTagData(SIDBQueryAndInsertSignaturesResponseParam* answer, char* buffer,
                                                    unsigned int room) {
  if (!m_bQueryServerRunning) {
    PLOG(-1, "[ERROR] Prerpipeline Dedupe message is unexpected, when Dedupe is disabled");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation,
                                   "Prerpipeline Dedupe message is unexpected, when Dedupe is disabled");
  }
  if (!m_bInitialized) {
    PLOG(-1, "[ERROR] UnInitialized CProxyPrepipelineMgr module");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "UnInitialized CProxyPrepipelineMgr module");
  }
  SIDBQueryAndInsertSignaturesResponseParam tag;
  std::memset(static_cast<void*>(&tag), 0, sizeof tag);
  CWqError result = m_queryMgr.GetCLDedupTagData(answer, &tag);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  return WriteRecord(&tag, kTagRecordSize, kArchiveBufferSignatureTag, nullptr, buffer, room,
                     "error during send PL_FS_CLDEDUP buffer");
}

CWqError CProxyPrepipelineMgr::onPrepipelinePerfData(ClProxyMsg* msg) {
  if (!m_bInitialized) {
    PLOG(-1, "[ERROR] UnInitialized CProxyPrepipelineMgr module");
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "UnInitialized CProxyPrepipelineMgr module");
  }
  const COBPrePipelinePerfCountersMsg* counters = dynamic_cast<const COBPrePipelinePerfCountersMsg*>(msg);
  if (!counters) {
    const unsigned type = msg ? static_cast<unsigned>(msg->getMsgType()) : 0;
    PLOG(-1, "[ERROR] unexpected class type for messge %X", type);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "unexpected class type for messge %X", type);
  }
  m_counters = counters->getPerfCounters();
  return CWqError::Success();
}

void CProxyPrepipelineMgr::UpdatePerfCounters(void* collection, unsigned int unused) {
  (void)unused;
  if (!m_bDedupeEnabled) return;
  _JobPerfCounterCollection* into = static_cast<_JobPerfCounterCollection*>(collection);
  if (!m_counters.empty()) {
    const uint32_t stamp = CounterTimeStamp();
    for (const _PrePipelineDedupeperfCounter& counter : m_counters) {
      _JobPerfCounter job = JobCounterFor(counter, stamp);
      KXJobPerfManager::ConvertToNBO(job);
      (void)KXJobPerfManager::UpdateCounter(into, &job);
    }
  }
  if (m_bQueryServerRunning) m_queryMgr.UpdatePerfCounters(into, kPerfCounterGroup);
}

void CProxyPrepipelineMgr::Uninitialize() {
  if (m_bQueryServerRunning) m_queryMgr.Uninitialize();
}

CWqError CProxyPrepipelineMgr::WriteRecord(const void* bytes, unsigned int size, unsigned int bufferType,
                                           _PipelineDataHdr* header, char* buffer, unsigned int room,
                                           const char* writeFailure) {
  // A buffer this call allocates is this call's to free on failure; a
  // caller's buffer stays the caller's.
  bool own = false;
  if (!buffer) {
    AllocateBufArgs_t args;
    args.uDataSize = size;
    AllocateBufRet_t ret;
    buffer = AllocateKXArchiveBuffer(&args, &ret);
    if (!buffer) {
      PLOG(-1, "[ERROR] unable allocate PL buffer");
      return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "unable allocate PL buffer");
    }
    room = ret.uRoom;
    own = true;
  }
  if (room < size) {
    PLOG(-1, "[ERROR ]PL buffer is not enough copy incoming Data [Data-size - %u] [Buffer size - %u] ", size, room);
    if (own) ReleaseOwn(buffer);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "PL buffer is not enough copy incoming Data ");
  }
  if (size) std::memcpy(buffer, bytes, size);
  WriteBufArgs_t args;
  args.uBufferType = bufferType;
  args.uDataSize = size;
  if (WriteKXArchiveBuffer(buffer, &args, nullptr, header) != 0) {
    PLOG(-1, "BKPAPI:error during send PL buffer ");
    if (own) ReleaseOwn(buffer);
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "%s", writeFailure);
  }
  return CWqError::Success();
}
