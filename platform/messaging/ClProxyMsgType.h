// The 16-bit type code of every message between the proxy and the client side.
// 0x80xx types travel as ClEmptyMsg (the type alone), 0x40xx types as
// ClBlobMsg (one byte block), small values as typed message classes.
#pragma once

#include <cstdint>

enum ClProxyMsgType : uint16_t {
  // Typed messages named by the protocol.
  LAUNCH_RESPONSE_MSG = 0x0003,
  PROCESS_STATUS_RESPONSE_MSG = 0x0005,
  BAD_EOF_MSG = 0x000C,
  BACKUP_STATS_MSG = 0x000E,
  FAILED_FILE_MSG = 0x000F,
  SCAN_RESULT_MSG = 0x0011,
  STREAM_STOP_MSG = 0x0026,
  EVENT_MSG = 0x0048,
  PREPIPELINE_DEDUPE_QUERY_MSG = 0x004D,
  PREPIPELINE_DEDUPE_RESULT_REQ_MSG = 0x004E,
  PROXY_PREPIPELINEDEDUPE_SIGNATURE = 0x0050,
  PROXY_PREPIPELINE_DATA_MSG = 0x0051,
  PREPIPELINE_CONFIG_MSG = 0x0052,
  TAPE_INFO_MSG = 0x0054,
  TAPE_FULL_MSG = 0x0063,

  // Blob messages.
  FILE_HEADER_MSG = 0x4009,
  FILE_DATA_MSG = 0x400A,
  CLIENT_BASE_DIR_MSG = 0x401C,
  CLIENT_VERSION_MSG = 0x402E,
  EXECUTE_COMMAND_MSG = 0x4032,
  PREHEADER_MSG = 0x4036,
  REFOPTHDR2_MSG = 0x4037,
  ITEM_STATUS_MSG = 0x4038,
  BACKUP_CONTROL_PORT_MSG = 0x403C,
  FILE_DATA_NOT_NEEDED_MSG = 0x405A,
  UNMODIFIED_PREHEADER_MSG = 0x405E,
  SOURCE_FILTERS_MSG = 0x4061,
  CLIENT_VOLUME_LIST = 0x4064,

  // Empty messages.
  JOB_COMPLETE_MSG = 0x8006,
  DISCONNECT_MSG = 0x8007,
  GOOD_EOF_MSG = 0x800B,
  COLLECT_FILE_REQUEST_MSG = 0x800D,
  BAD_COLLECT_FILE_MSG = 0x8013,
  SERVICE_CHECK_MSG = 0x8015,
  CLIENT_ERROR_MSG = 0x8016,
  SC_COLLECT_FILE_MSG = 0x801A,
  VERSION_REQUEST_MSG = 0x802D,
  CLIENT_UPDATE_MSG = 0x802F,
  EXECUTE_SUCCESS_MSG = 0x8033,
  EXECUTE_FAILURE_MSG = 0x8034,
  DISABLE_SYNCLIB_MSG = 0x8040,
  DISK_FULL_MSG = 0x8041,
  PREPIPELINE_DEDUPE_CONFIG_REQ_MSG = 0x804B,
  TAPE_CLOSE_MSG = 0x8055,
  NEW_LIBRARY_MSG = 0x8071,

  // Types the messaging library gives its own classes; the system never names
  // them. Kept in 0x01xx, apart from every value above.
  LAUNCH_CMD_MSG = 0x0101,
  LAUNCH_CMD_DIP_MSG = 0x0102,
  GET_PROCESS_STATUS_MSG = 0x0103,
  JOB_START_MSG = 0x0104,
  SCAN_CONFIG_MSG = 0x0105,
  COLLECT_FILE_MSG = 0x0106,
  SYNTHETIC_FULL_COLLECT_FILE_MSG = 0x0107,
  IBM_DR_BACKUP_CLEAN_MSG = 0x0108,
  PREPIPELINE_DEDUPE_INFO_RESP_MSG = 0x0109,
  PREPIPELINE_DEDUPE_RESULT_RESP_MSG = 0x010A,
};

// True for the 0x40xx types, which travel as one byte block.
inline bool ClProxyIsBlobType(uint16_t type) { return (type & 0xFF00) == 0x4000; }
// True for the 0x80xx types, which carry no payload.
inline bool ClProxyIsEmptyType(uint16_t type) { return (type & 0xFF00) == 0x8000; }
