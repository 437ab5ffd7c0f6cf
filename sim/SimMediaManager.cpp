#include "SimMediaManager.h"

#include "MediaManagerMsgs.h"

std::string SimLibraryReply(bool vtl) {
  MediaManager::GetLibInfoForSubClientResp reply;
  for (int type : {0, 4}) {
    if (type == 4 && !vtl) break;
    MediaManager::LibraryInfo info;
    info.setint64(1, 1, 10 + type);
    info.setint64(4, 4, type);
    reply.getlistobject(1, 1, 0, 0, true)->push_back(info);
  }
  std::string text;
  reply.serialize(text, false);
  return text;
}
