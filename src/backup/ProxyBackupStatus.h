// File-stream status codes: how the backup phase (and the DR file stream)
// reports each received item to its host. Success stands for 0; every other
// code comes back as FXErrorUtil::ErrorInt(location, code), read with
// FXErrorUtil::GetInt.
#pragma once

#include <cstdint>

enum ProxyRecvStatus : int32_t {
  RECV_STATUS_INVALID_MESSAGE = 1,  // a message of the wrong class or type; carries a text
  RECV_STATUS_INVALID_REPLY = 4,    // recvData: a type it does not handle
  RECV_STATUS_COLLECT_DONE = 7,     // the collect file is complete; see getStats
  RECV_STATUS_FAILED_FILE = 8,      // a file failed on the client; see getFailedFile
  RECV_STATUS_GOOD_EOF = 10,        // the current file is complete
  RECV_STATUS_BAD_EOF = 11,         // the current file failed part way
  RECV_STATUS_NO_MORE_FILES = 12,   // database variant: no further file
  RECV_STATUS_BAD_COLLECT = 16,     // the client reports a bad collect file
  RECV_STATUS_TAPE_INFO = 19,       // tape information arrived; see getTapeInfo
  RECV_STATUS_TAPE_FULL = 20,       // the tape in m_sTapeBarCode is full
  RECV_STATUS_NEW_LIBRARY = 21,     // the client starts a new library
};
