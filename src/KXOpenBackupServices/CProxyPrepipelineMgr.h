// CProxyPrepipelineMgr: turns a backup's pre-pipeline traffic into archive
// writes.
//
// Host calling order: construct; Initialize(archive, job id, archive file
// id); GetPrePipelineDedupeConfig, whose configuration the backup phase sends
// to the client program (when the client computes signatures this starts the
// signature-query manager, once, and puts its port at offset 44); then for
// each pre-pipeline data block onPrepipelineDedupeData, for each signature
// record onPrepipelineSignature, for each counters message
// onPrepipelinePerfData, and UpdatePerfCounters whenever the host publishes
// counters; Reinitialize when the archive file changes; Uninitialize;
// destroy. One host thread calls it; the query manager's listener runs
// beside it.
//
// Buffers: AllocateKXArchiveBuffer hands out the data area of a new raw
// archive buffer (96 bytes into it, after the tag header's place). The
// manager knows every data area it handed out until it is written; a write
// fills the tag header of the very buffer that holds the data and refuses
// (kArchiveTagRefused, nothing touched) an area it did not hand out or has
// already written. After a failed write a call frees only a buffer it
// allocated itself: a caller's buffer stays the caller's, who holds its
// release arguments.
//
// Errors: ERROR_PROXY_OPERATION (774) with the texts of each operation.
// The archive is the host's and is not owned.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "CLProxyDedupeQueryMgr.h"
#include "CWqError.h"
#include "ClPrePipelineRecords.h"
#include "ClProxyMsg.h"
#include "ClSignatureRecords.h"
#include "EvDebug.h"
#include "KXArchive.h"

class CProxyPrepipelineMgr {
 public:
  CProxyPrepipelineMgr();
  // A copy is a new, uninitialised manager; assignment changes nothing.
  CProxyPrepipelineMgr(const CProxyPrepipelineMgr&);
  CProxyPrepipelineMgr& operator=(const CProxyPrepipelineMgr&);
  ~CProxyPrepipelineMgr();

  CWqError Initialize(KXArchive* archive, unsigned int jobId, unsigned int archiveFileId);
  CWqError Reinitialize(KXArchive* archive, unsigned int jobId, unsigned int archiveFileId);
  CWqError GetPrePipelineDedupeConfig(_PrePipelineDedupe_Config& config, bool& enabled);

  // The data area of a new raw buffer, or null.
  char* AllocateKXArchiveBuffer(AllocateBufArgs_t* args, AllocateBufRet_t* ret);
  // Writes the buffer whose data area is `data`: 0, -1 (not initialised) or
  // kArchiveTagRefused.
  int WriteKXArchiveBuffer(char* data, WriteBufArgs_t* args, WriteBufRet_t* ret, _PipelineDataHdr* header);

  // `buffer`/`room`: a data area from AllocateKXArchiveBuffer and its room,
  // or null and 0 to have one allocated.
  CWqError onPrepipelineDedupeData(char* data, unsigned int size, _PipelineDataHdr* header, char* buffer,
                                   unsigned int room);
  CWqError onPrepipelineSignature(_PrePipelineDedupe_Signature* signature, char* buffer, unsigned int room);
  CWqError SendSignatureTagData(SIDBQueryAndInsertSignaturesResponseParam* answer, char* buffer, unsigned int room);
  CWqError onPrepipelinePerfData(ClProxyMsg* msg);
  // `collection` is a _JobPerfCounterCollection; the second argument is not used.
  void UpdatePerfCounters(void* collection, unsigned int unused);
  void Uninitialize();

  // For the host's reports and tests.
  bool IsDedupeEnabled() const { return m_bDedupeEnabled; }
  bool IsQueryServerRunning() const { return m_bQueryServerRunning; }
  size_t BuffersHandedOut() const { return m_handedOut.size(); }
  CLProxyDedupeQueryMgr& QueryManager() { return m_queryMgr; }

 private:
  struct HandedOut {
    char* raw = nullptr;
    FreeBufArgs_t release;
  };

  // Frees a buffer this manager allocated for a call that failed.
  void ReleaseOwn(char* data);
  // Copies `size` bytes into `buffer` (allocated here when null) and writes
  // it to the archive as `bufferType`, behind its tag header.
  CWqError WriteRecord(const void* bytes, unsigned int size, unsigned int bufferType, _PipelineDataHdr* header,
                       char* buffer, unsigned int room, const char* writeFailure);

  KXArchive* m_pArchive;
  EvDebug m_debug;
  bool m_bInitialized;
  _stSQueryInitParameters m_params;
  bool m_bDedupeEnabled;
  bool m_bQueryServerRunning;
  unsigned int m_uQueryPort;
  unsigned int m_uJobId;
  std::atomic<unsigned int> m_uArchiveFileId;
  CLProxyDedupeQueryMgr m_queryMgr;
  std::map<char*, HandedOut> m_handedOut;  // by data area
  std::vector<_PrePipelineDedupeperfCounter> m_counters;
};
