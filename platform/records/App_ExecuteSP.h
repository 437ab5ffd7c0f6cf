// App_ExecuteSP: runs a stored procedure of the central server. The request
// and the reply are CNMessageBase texts; RecordRegistry holds the reply of
// each procedure (SetStoredProcedureReply) and keeps every request.
#pragma once

#include <string>

// Base of the platform's request adapters.
class AdaptersBase {
 public:
  virtual ~AdaptersBase() {}
};

// Stored-procedure ids.
enum App_StoredProcedureTag {
  Tag_GetLibInfoForSubClientReq = 1,
};

class App_ExecuteSP : public AdaptersBase {
 public:
  // The configured result (0 = success) with the configured reply text; a
  // procedure nobody configured answers KXR_NOT_CONFIGURED and leaves
  // `reply` untouched.
  static int executeStoredProcedure(int tag, const std::string& request, std::string& reply,
                                    std::string* errorText = nullptr);
};
