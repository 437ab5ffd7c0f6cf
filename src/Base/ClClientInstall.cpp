// OpenVMS installation file by file, the daemon's start and stop, and the
// software check entry that every managed connect runs.
#include <unistd.h>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "KXPlatformInfo.h"
#include "ProxyEventIds.h"

CWqError ClClientManager::checkAndStart(EvEvent* event, long long jobId) {
  if (m_hooks) return m_hooks->checkAndStart(*this, jobId);
  CWqError r = isClientInstalledAndUptodate(event, jobId);
  const unsigned long eventId = FXErrorUtil::GetEventMessage(r);
  FX_LOG(2, "isClientInstalledAndUptodate return [%lX] %lX/%lX", eventId, 0x060000a0UL, 0x060000a1UL);
  if (r.IsError()) {
    const bool notInstalled = FXErrorUtil::IsEventMessage(r, EV_CLIENT_NOT_INSTALLED);
    if (notInstalled || FXErrorUtil::IsEventMessage(r, EV_CLIENT_OUT_OF_DATE)) {
      CWqError info = FXErrorUtil::ErrorEventMessage(FX_HERE, notInstalled ? EV_CLIENT_NOT_INSTALLED
                                                                           : EV_CLIENT_OUT_OF_DATE);
      info << host.c_str();
      sendEvent(info, jobId, false);
      CWqError installed = installClinet(notInstalled);
      if (installed.IsError()) {
        // The caller sees only the operation failed; the cause stays in the log.
        FX_LOG(-1, "%s", installed.AsString().c_str());
        CWqError failed = FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED);
        sendEvent(failed, jobId, true);
        return failed.Push(FX_HERE);
      }
    } else if (FXErrorUtil::IsEventMessage(r, EV_CLIENT_CONNECT_FAILED)) {
      CWqError info = r;
      info << host.c_str() << boost::any(port);
      sendEvent(info, jobId, false);
      return FXErrorUtil::ErrorWin32(FX_HERE, 1627, "Failed to connect to client.");
    } else if (FXErrorUtil::IsEventMessage(r, EV_CLIENT_INSTALL_FAILED)) {
      sendEvent(r, jobId, true);
      return r.Push(FX_HERE);
    } else {
      sendEvent(r, jobId, true);
      FX_LOG(-1, "%s", r.AsString().c_str());
      FX_LOG(-1, "isClientInstalledAndUptodate return [%lX] %lX/%lX", eventId, 0x060000a0UL, 0x060000a1UL);
      return r.Push(FX_HERE);
    }
  }
  // The cleanup connects without a software check, so it cannot come back
  // here; whatever it finds, the connect goes ahead.
  if (osId == CLIENT_OS_IBMI) CheckAndCleanupDRFolder(true);
  return CWqError::Success();
}

CWqError ClClientManager::installClinet(bool fresh) {
  CWqError result = initData();
  if (result.IsError()) return result.Push(FX_HERE);
  std::string line, output;
  if (fresh) {
    clientCommand_t create = client_create_bin();
    result = remoteShellLine(create.command, line);
    if (result.IsError()) return result.Push(FX_HERE);
    result = executeAndCheck(line.c_str(), create, output, EV_CLIENT_FILE_OPERATION_FAILED,
                             "Can't create BIN folder on the client host");
  } else {
    result = stopClient();
  }
  if (result.IsError()) return result.Push(FX_HERE);

  result = updateClientBinaryList();
  if (result.IsError() && !FXErrorUtil::IsEventMessage(result, EV_CLIENT_OUT_OF_DATE)) return result.Push(FX_HERE);

  for (auto& entry : binaries) {
    const std::string& key = entry.first;
    eBinaryStatus& state = entry.second.second;
    if (state == FILE_ONLY_ON_CLIENT) {
      FX_LOG(0, "Will remove old binary '%s'", key.c_str());
      clientCommand_t remove = client_remove_file("/bin/" + key);
      result = remoteShellLine(remove.command, line);
      if (result.IsError()) return result.Push(FX_HERE);
      output.clear();
      result = executeAndCheck(line.c_str(), remove, output, EV_CLIENT_FILE_OPERATION_FAILED,
                               "Can't remove old file on the client host");
      if (result.IsError()) return result.Push(FX_HERE);
      state = FILE_GOOD;
    } else if (state == FILE_MISSING_ON_CLIENT || state == FILE_CRC_DIFFERS) {
      FX_LOG(0, "Will copy binary '%s'", key.c_str());
      // The file is read under its own name; the key is only its upper case.
      auto named = localNames.find(key);
      const std::string localFile =
          FXPath::Append(localPackageFolder, named != localNames.end() ? named->second : key, 0);
      if (::access(localFile.c_str(), R_OK) != 0)
        return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED,
                                              "Can't copy file to the client host: [%s] cannot be read",
                                              localFile.c_str());
      clientCommand_t copy = client_copy_file("/bin/" + key);
      result = wrappedCopyLine(localFile, copy.command, line);
      if (result.IsError()) return result.Push(FX_HERE);
      output.clear();
      result = executeAndCheck(line.c_str(), copy, output, EV_CLIENT_OPERATION_FAILED,
                               "Can't copy file to the client host");
      if (result.IsError()) return result.Push(FX_HERE);
      state = FILE_GOOD;
    }
  }
  return CWqError::Success();
}

CWqError ClClientManager::startClient() {
  if (m_hooks) return m_hooks->startClient(*this);
  CWqError result = initData();
  if (result.IsError()) return result.Push(FX_HERE);
  if (!platform->isStartSvcSupported())
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_CONNECT_FAILED, "Start/Stop not supported");
  clientCommand_t start = client_start();
  std::string line, output;
  result = remoteShellLine(start.command, line);
  if (!result.IsError())
    result = executeAndCheck(line.c_str(), start, output, EV_CLIENT_START_FAILED,
                             "Can't start launch daemon on remote client");
  if (!result.IsError()) {
    FX_LOG(0, "Start Client Succeeded....");
    return CWqError::Success();
  }
  KXPlatformInfo().setNumber("ProxyClients/" + clientName, "updateBinary", 1);
  FX_LOG(-1, "%s", result.AsString().c_str());
  return result.Push(FX_HERE);
}

CWqError ClClientManager::stopClient() {
  if (m_hooks) return m_hooks->stopClient(*this);
  CWqError result = initData();
  if (result.IsError()) return result.Push(FX_HERE);
  clientCommand_t stop = client_stop();
  std::string line, output;
  result = remoteShellLine(stop.command, line);
  if (result.IsError()) return result.Push(FX_HERE);
  result = executeAndCheck(line.c_str(), stop, output, EV_CLIENT_STOP_FAILED,
                           "Can't stop launch daemon on remote client");
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}
