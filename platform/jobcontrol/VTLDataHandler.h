// VTLDataHandler: the host's handler of a restore's next-volume requests.
//
// The restore calls mountNextVolume on its receiver thread with the client's
// TAPE_INFO_MSG; success means the next volume is ready and the request (as
// the handler left it, arguments changed or not) goes back to the client as
// the mount reply. A failure is answered with BAD_EOF_MSG carrying its text.
// The request stays the restore's; the handler must not keep it.
#pragma once

#include "CWqError.h"

class ClTapeInfoMsg;

class VTLDataHandler {
 public:
  virtual ~VTLDataHandler() {}
  virtual CWqError mountNextVolume(ClTapeInfoMsg* request) = 0;
};
