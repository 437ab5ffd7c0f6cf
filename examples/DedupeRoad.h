// DedupeRoad: the backup phase of the example job through pre-pipeline
// deduplication, against the running simulated client daemon whose
// "BKP.EXE" runs its pre-pipeline mode over the content folder:
//
//   new ProxyBackup, init, launchClientProcess, acceptClientProcessConnection,
//   sendJobStart; CProxyPrepipelineMgr::Initialize over the archive
//   "<outputDir>/archive/pipeline.dat"; recvCOBConfigMsg,
//   recvPrepipelineDedupeConfigRequest, GetPrePipelineDedupeConfig (which
//   starts the signature-query server), sendPrepipelineDedupeConfigResponse;
//   getClientVolumeList, sendCollectFile, then recvNextFile / recvData until
//   the collect file ends, each new block to onPrepipelineDedupeData and each
//   signature record to onPrepipelineSignature; UpdatePerfCounters,
//   sendJobComplete, Uninitialize.
//
// VerifyDedupeArchive then reads the archive file back: every tag header
// must parse and every distinct block of the content must be stored once,
// followed by its signature tag.
#pragma once

#include <cstdint>
#include <string>

#include "CWqError.h"
#include "SimClientDaemon.h"

struct DedupeOutcome {
  uint64_t blocksQueried = 0;  // as the signature-query module counted them
  uint64_t blocksFound = 0;
  uint64_t blocksNew = 0;      // data blocks the backup phase received
  uint64_t signatureTags = 0;
  std::string archivePath;
  uint32_t blockBytes = 0;
};

// The archive's configuration for the run: signatures on the client, blocks
// of `blockKB` KB.
CWqError RunDedupeRoad(SimClientDaemon& daemon, const std::string& outputDir, uint32_t blockKB,
                       DedupeOutcome& outcome);

CWqError VerifyDedupeArchive(const std::string& contentDir, const DedupeOutcome& outcome);
