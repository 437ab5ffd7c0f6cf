#include "ClProxyMsgFactory.h"

#include <cerrno>
#include <cstring>

#include "ClProxyMessages.h"
#include "FXErrorUtil.h"

namespace {

// A decoder for one class; null means the payload did not decode.
template <typename Msg>
std::unique_ptr<ClProxyMsg> Decode(const uint8_t* payload, uint32_t length) {
  return Msg::decode(payload, length);
}

typedef std::unique_ptr<ClProxyMsg> (*Decoder)(const uint8_t*, uint32_t);

Decoder DecoderFor(uint16_t type) {
  switch (type) {
    case LAUNCH_RESPONSE_MSG: return &Decode<ClLaunchCmdResponseMsg>;
    case PROCESS_STATUS_RESPONSE_MSG: return &Decode<ClProcessStatusResponseMsg>;
    case BAD_EOF_MSG: return &Decode<ClBadEofMsg>;
    case BACKUP_STATS_MSG: return &Decode<ClBackupStatsMsg>;
    case FAILED_FILE_MSG: return &Decode<ClFailedFileMsg>;
    case SCAN_RESULT_MSG: return &Decode<ClScanResultMsg>;
    case EVENT_MSG: return &Decode<ClEventMsg>;
    case PREPIPELINE_DEDUPE_QUERY_MSG: return &Decode<COBPrePipelineDedupeQueryMsg>;
    case PROXY_PREPIPELINEDEDUPE_SIGNATURE: return &Decode<ClPipelineSignatureMsg>;
    case PREPIPELINE_CONFIG_MSG: return &Decode<COBConfigMsg>;
    case TAPE_INFO_MSG: return &Decode<ClTapeInfoMsg>;
    case TAPE_FULL_MSG: return &Decode<ClTapeFullMsg>;
    case LAUNCH_CMD_MSG: return &Decode<ClLaunchCmdMsg>;
    case LAUNCH_CMD_DIP_MSG: return &Decode<ClLaunchCmdDIPMsg>;
    case GET_PROCESS_STATUS_MSG: return &Decode<ClGetProcessStatusMsg>;
    case JOB_START_MSG: return &Decode<ClJobStartMsg>;
    case SCAN_CONFIG_MSG: return &Decode<ClScanConfigMsg>;
    case COLLECT_FILE_MSG: return &Decode<ClCollectFileMsg>;
    case SYNTHETIC_FULL_COLLECT_FILE_MSG: return &Decode<ClSyntheticFullCollectFileMsg>;
    case IBM_DR_BACKUP_CLEAN_MSG: return &Decode<ClIBMDRBackupCleanMsg>;
    case PREPIPELINE_DEDUPE_INFO_RESP_MSG: return &Decode<COBPrePipelineDedupeInfoRespMsg>;
    case PREPIPELINE_DEDUPE_RESULT_RESP_MSG: return &Decode<COBPrePipelineDedupeResultRespMsg>;
    case PREPIPELINE_PERF_COUNTERS_MSG: return &Decode<COBPrePipelinePerfCountersMsg>;
    case CREATE_INDEX_FLAG_MSG: return &Decode<ClCreateIndexFlagMsg>;
    case COMMIT_BACKUP_JOB_MSG: return &Decode<ClCommitBackupJobMsg>;
    case CLIENT_BROWSE_REQ_MSG: return &Decode<ClClientBrowseReqMsg>;
    case DOWNLOAD_LOG_FILE_MSG: return &Decode<ClDownloadLogFile>;
    case DOWNLOAD_DIR_CHANGE_FILE_MSG: return &Decode<ClDownloadDirChangeFile>;
    case IBM_DR_BACKUP_JOB_MSG: return &Decode<ClIBMDRBackupJobMsg>;
    case CLIENT_BACKUP_SIZE_MSG: return &Decode<ClClientBackupSize>;
    case INITIALIZE_TAPE_MLB_MODE_MSG: return &Decode<ClInitializeTapeMLBMode>;
    case PROCESS_OUTFILE_MSG: return &Decode<ClProcessOutFileMsg>;
    case VTL_DR_CLEANUP_MSG: return &Decode<ClVTLDRCleanupMsg>;
    case TAPE_RESTORE_DATA_MSG: return &Decode<ClTapeRestoreDataMsg>;
    default: return nullptr;
  }
}

// Small types that carry no payload of their own: the receiver only looks at
// the type, so they come back as ClEmptyMsg and any payload is not read.
bool IsTypeOnly(uint16_t type) {
  return type == STREAM_STOP_MSG || type == PREPIPELINE_DEDUPE_RESULT_REQ_MSG;
}

}  // namespace

CWqError ClProxyMsgFactory::Create(uint16_t type, std::unique_ptr<uint8_t[]> payload,
                                   uint32_t length, ClProxyMsg*& msg) {
  msg = nullptr;
  ClMallocBlock block;
  if (payload) {
    block = ClMallocBlockOf(length);
    if (!block)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for %u payload bytes of message type 0x%04x",
                                     length, type);
    if (length) std::memcpy(block.get(), payload.get(), length);
  }
  return Create(type, std::move(block), length, msg);
}

CWqError ClProxyMsgFactory::Create(uint16_t type, ClMallocBlock payload, uint32_t length, ClProxyMsg*& msg) {
  msg = nullptr;
  if (ClProxyIsBlobType(type)) {
    msg = new ClBlobMsg(type, std::move(payload), length);
    return CWqError::Success();
  }
  if (ClProxyIsEmptyType(type) || IsTypeOnly(type)) {
    // Any payload of an empty type is not read.
    msg = new ClEmptyMsg(type);
    return CWqError::Success();
  }
  if (length && !payload)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Message type 0x%04x has no payload bytes",
                                   type);
  std::unique_ptr<ClProxyMsg> decoded;
  if (type == PROXY_PREPIPELINE_DATA_MSG) {
    // Keeps the payload buffer for its data block.
    decoded = ClPipelineBlobMsg::decode(std::move(payload), length);
  } else if (type == BROWSE_REPLY_MSG) {
    // Keeps the payload and reads its entries in place.
    decoded = ClClientBrowseRepMsg::decode(std::move(payload), length);
  } else {
    Decoder decoder = DecoderFor(type);
    if (!decoder)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Unknown message type 0x%04x", type);
    decoded = decoder(payload.get(), length);
  }
  if (!decoded)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO,
                                   "Malformed payload of message type 0x%04x (%u bytes)", type,
                                   length);
  msg = decoded.release();
  return CWqError::Success();
}
