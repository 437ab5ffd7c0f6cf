// ClientApplicationList: requests about a client's applications to the
// central server. RecordRegistry holds the answer
// (SetModifiedFileListReply) and keeps every request.
#pragma once

#include <string>

class ClientApplicationList {
 public:
  // Asks for the content added to a subclient since its last backup
  // (App::GetModifiedFileListReq text in, App::GetModifiedFileListResp text
  // out, possibly empty). 0 when the request was answered.
  static int getModifiedFileList(const std::string& request, std::string& response,
                                 std::string* errorText = nullptr);
};
