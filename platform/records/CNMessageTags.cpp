#include "CNMessageTags.h"

#include "MediaManagerMsgs.h"

namespace {

const CNMessageTag kTags[] = {
    {10, MediaManager::kQErrorMsgId, MediaManager::Tag_QErrorMsg, "QErrorMsg"},
    {10, MediaManager::kInitializeIBMTapeId, MediaManager::Tag_InitializeIBMTape, "InitializeIBMTape"},
    {10, MediaManager::kGetChunkSizeOnMediaReqId, MediaManager::Tag_GetChunkSizeOnMediaReq, "GetChunkSizeOnMediaReq"},
    {10, MediaManager::kGetChunkSizeOnMediaRespId, MediaManager::Tag_GetChunkSizeOnMediaResp,
     "GetChunkSizeOnMediaResp"},
    {10, MediaManager::kGetTapeSizeRespId, MediaManager::Tag_GetTapeSizeResp, "GetTapeSizeResp"},
};

}  // namespace

const CNMessageTag* CNMessageTags::Find(int nameSpace, int messageId) {
  for (const CNMessageTag& tag : kTags)
    if (tag.nameSpace == nameSpace && tag.messageId == messageId) return &tag;
  return nullptr;
}
