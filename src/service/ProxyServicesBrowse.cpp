// Machine browse: one directory of the client listed into the requester's
// response or streamed back to the requester.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AppMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "ClServiceMsgs.h"
#include "CWqSocket.h"
#include "EvRestoreReturn.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyServicesPrivate.h"
#include "ServiceBrowse.h"

namespace {

const int kBrowseStreamType = 1025;
// Field numbers and check values of the browse response and its items.
const uint32_t kRespTag = 0x1ea21501;
const uint32_t kItemTag = 0x1e9e3444;
// The kind of App::MachineBrowseItem.
const int kItemNamespace = 30;
const int kItemId = 270;
// At most what one item takes packed beside its name: four fields of three
// small numbers and a value each, and its kind.
const size_t kPackedItemBytes = 4 * (3 + 10) + 16;

// The code a failed browse ends the requester's stream with: never 0, which
// the requester would take for an empty folder.
long long FailureCode(const CWqError& error) {
  const int errNo = FXErrorUtil::IsErrNo(error) ? FXErrorUtil::GetErrNo(error) : 0;
  return errNo != 0 ? errNo : EIO;
}

// Ends a failed browse where the requester looks for it.
CWqError EndFailed(bool fillResponse, EvRestoreReturn& stream, App::MachineBrowseResp* response,
                   const std::string& text, CWqError error) {
  if (fillResponse) response->setLastErrorEnglishA("%s", text.c_str());
  else stream.end(FailureCode(error));
  return error;
}

}  // namespace

void DeliverBrowseEntries(const ClClientBrowseRepMsg& listing, App::MachineBrowseResp* response,
                          EvRestoreReturn& stream) {
  if (response) {
    // Room for the packed list at once: growing it by copies would hold it
    // twice, and room never written costs no memory.
    response->reservelistobject(2, 5, kRespTag, 0x99d756,
                                listing.nameBytes() + listing.entryCount() * kPackedItemBytes);
  }
  // Entries are read in place from the reply; one name at a time is copied
  // out, into a buffer that is reused.
  std::string name;
  ClClientBrowseRepMsg::EntryView entry;
  ClClientBrowseRepMsg::Cursor cursor(listing);
  while (cursor.next(entry)) {
    name.assign(entry.name, entry.nameSize);
    if (name == "." || name == "..") continue;
    const int64_t directory = entry.type == 1 ? 1 : 0;
    if (!response) {
      if (stream.failure().IsError()) return;  // the requester is gone: the rest has nowhere to go
      stream.returnItem(static_cast<unsigned long>(directory), name.c_str(), entry.value, entry.size, 0, 0, 0, 0);
      continue;
    }
    // Appended packed: a listing of millions of entries must not cost a
    // message object each.
    const CNMessageBase::PackedField fields[] = {
        {1, 1, directory, nullptr},
        {5, 5, 0, &name},
        {2, 2, static_cast<int64_t>(entry.value), nullptr},
        {3, 3, entry.size, nullptr},
    };
    response->appendlistobject(2, 5, kRespTag, 0x99d756, kItemNamespace, kItemId, fields, 4);
  }
}

CWqError ProxyServicesPrivate::machineBrowse(char* path, CWqSocket socket, long sequenceNumber,
                                             unsigned long requestedDriveTypes, bool fillResponse,
                                             App::MachineBrowseResp* machineBrowseResp, App::GenericResp* genericResp,
                                             CKxNetwork* network) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "MachineBrowseResp::machineBrowse failed");
  if (!path) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No path to browse given");
  if (fillResponse) {
    if (!machineBrowseResp || !genericResp)
      return FXErrorUtil::ErrorErrNo(
          FX_HERE, EINVAL,
          "Invalid argument pass to remoteMachineBrowse (machineBrowseResp==NULL || genericResp==NULL)");
    machineBrowseResp->setstring(1, 1, path, kRespTag, 0x346425);
    if (!machineBrowseResp->getlistobject(2, 5, kRespTag, 0x99d756, true)) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "MachineBrowseResp::getBrowseItems failed");
  }
  FX_LOG(2, "Starting MachineBrowse -- Path = %s, SequenceNumber = %lld, requestedDriveTypes = %lX", path,
         static_cast<long long>(sequenceNumber), requestedDriveTypes);

  EvRestoreReturn stream(sequenceNumber, kBrowseStreamType, true, &socket, network);
  stream.setSourcePath("");

  ClClientBrowseReqMsg request(path);
  CWqError result = send(request);
  if (result.IsError()) return EndFailed(fillResponse, stream, machineBrowseResp, result.AsString(), result.Push(FX_HERE));
  ClProxyMsg* received = nullptr;
  result = receive(received, {}, getTimeOutValue(TIMEOUT_BROWSE_REPLY));
  std::unique_ptr<ClProxyMsg> reply(received);
  if (result.IsError()) {
    FX_LOG(-1, "%s", result.AsString().c_str());
    return EndFailed(fillResponse, stream, machineBrowseResp, result.AsString(), result);
  }

  switch (reply->getMsgType()) {
    case FAILED_FILE_MSG: {
      std::string text = "Browse request failed on a client.";
      if (const ClFailedFileMsg* failed = dynamic_cast<const ClFailedFileMsg*>(reply.get())) {
        std::string name;
        int code = 0;
        failed->get(name, code, text);
      }
      FX_LOG(0, "got failure message:%s", text.c_str());
      return EndFailed(fillResponse, stream, machineBrowseResp, text,
                       FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "%s", text.c_str()));
    }
    case BROWSE_REPLY_MSG: {
      ClClientBrowseRepMsg* listing = dynamic_cast<ClClientBrowseRepMsg*>(reply.get());
      if (!listing) {
        closeLink();  // an answer it cannot use: a later one must not answer the next request
        return EndFailed(fillResponse, stream, machineBrowseResp, "Invalid message for browse request.",
                         FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Invalid message for browse request."));
      }
      DeliverBrowseEntries(*listing, fillResponse ? machineBrowseResp : nullptr, stream);
      if (!fillResponse) {
        stream.end(0);
        if (stream.failure().IsError()) {
          CWqError failed = stream.failure();
          FX_LOG(-1, "MachineBrowse could not stream to the requester: %s", failed.AsString().c_str());
          return failed.Push(FX_HERE, "MachineBrowse of [%s] could not reach its requester", path);
        }
      }
      FX_LOG(2, "MachineBrowse Finished -- Path = %s, SequenceNumber = %lld", path,
             static_cast<long long>(sequenceNumber));
      return CWqError::Success();
    }
    default: {
      const unsigned type = reply->getMsgType();
      FX_LOG(0, "unexpected message %x", type);
      closeLink();
      char text[64];
      std::snprintf(text, sizeof text, "Unexpected message [%d] from client.", type);
      return EndFailed(fillResponse, stream, machineBrowseResp, text,
                       FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Unexpected message [%d] from client.", type));
    }
  }
}
