// Removal of the client software: an OpenVMS client is stopped and its
// installation tree deleted with DCL over ssh; an IBM i client runs the
// package's own uninstall command. The client's settings section goes last,
// only when every remote step went through.
#include <string>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "ProxyEventIds.h"

namespace {

const long long kUninstallJobId = -123456;
const char kRemoteFailure[] = "Can't execute on the remote client";

// Whether `base` names a folder whose tree may go: DEVICE:[A.B] with named
// folders only. The device's top directory (DKA0:[000000], whose file list
// is the whole disk), a parent ("-") or relative (leading ".") form, or
// anything without its brackets would reach above the client's tree.
bool DeletableBase(const std::string& base) {
  const size_t open = base.find('[');
  if (open == std::string::npos || base.empty() || base.back() != ']' || open + 2 > base.size() - 1) return false;
  const std::string inside = base.substr(open + 1, base.size() - open - 2);
  bool allTop = true;
  size_t start = 0;
  for (;;) {
    const size_t dot = inside.find('.', start);
    const std::string component = inside.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (component.empty() || component.find_first_of("[]") != std::string::npos ||
        PlatformDefine::IsParentOrSelf(component))
      return false;
    allTop = allTop && component == "000000";
    if (dot == std::string::npos) return !allTop;
    start = dot + 1;
  }
}

}  // namespace

clientCommand_t ClClientManager::client_delete_tree() const {
  std::string list = platform->getBase();
  if (!list.empty()) list.pop_back();
  // The sticky defaults repeat the list: each pass removes the directory
  // files that the previous one emptied.
  list += "...]*.*;*,;,;,;,;,;";
  return clientCommand_t("DELETE " + list, "", "");
}

CWqError ClClientManager::client_directory_file(std::string& directoryFile) const {
  std::string folder = platform->getBase();
  if (!folder.empty()) folder.pop_back();
  const size_t open = folder.find('[');
  if (open == std::string::npos)
    return FXErrorUtil::ErrorInt(FX_HERE, 3, "Client '%s' has invalid base directory '%s'", clientName.c_str(),
                                 folder.c_str());
  const size_t dot = folder.rfind('.');
  if (dot == std::string::npos || dot < open)
    folder.replace(open, 1, "[000000]");
  else
    folder[dot] = ']';
  directoryFile = folder + ".DIR;1";
  return CWqError::Success();
}

clientCommand_t ClClientManager::client_delete_directory_file(const std::string& directoryFile) const {
  return clientCommand_t("IF (F$SEARCH(\"" + directoryFile + "\") .NES. \"\") THEN DELETE " + directoryFile, "",
                         "-RMS-E-");
}

clientCommand_t ClClientManager::client_uninstall() const {
  return clientCommand_t("system \"KXLIB/TELDRON UNINSTALL\"  ", "", "");
}

CWqError ClClientManager::uninstall(unsigned long proxyClientId) {
  CWqError result = initData();
  if (result.IsError()) return result.Push(FX_HERE);

  const unsigned long long own = static_cast<unsigned long long>(static_cast<long long>(this->proxyClientId));
  if (own != static_cast<unsigned long long>(proxyClientId))
    return FXErrorUtil::ErrorInt(FX_HERE, 3, "Client '%s' is not register with this proxy client id:%lu",
                                 clientName.c_str(), proxyClientId);

  std::string line, output;
  if (osId == CLIENT_OS_OPENVMS) {
    if (!DeletableBase(platform->getBase()))
      return FXErrorUtil::ErrorInt(FX_HERE, 3, "Client '%s' has invalid base directory '%s'", clientName.c_str(),
                                   platform->getBase().c_str());

    CWqError checked = isClientInstalledAndUptodate(nullptr, kUninstallJobId);
    FX_LOG(0, "isClientInstalledAndUptodate is :%s", checked.AsString().c_str());
    // A check that never reached the client says nothing about it.
    if (FXErrorUtil::IsEventMessage(checked, EV_CLIENT_CONNECT_FAILED)) return checked.Push(FX_HERE);
    if (!FXErrorUtil::IsEventMessage(checked, EV_CLIENT_NOT_INSTALLED)) {
      CWqError stopped = stopClient();
      if (FXErrorUtil::IsEventMessage(stopped, EV_CLIENT_STOP_FAILED)) return stopped;
      if (FXErrorUtil::IsEventMessage(stopped, EV_CLIENT_CONNECT_FAILED)) return stopped.Push(FX_HERE);
    }

    const clientCommand_t tree = client_delete_tree();
    result = remoteShellLine(tree.command, line);
    if (result.IsError()) return result.Push(FX_HERE);
    result = executeAndCheck(line.c_str(), tree, output, EV_CLIENT_PROCESS_FAILED, kRemoteFailure);
    if (result.IsError()) return result.Push(FX_HERE);

    std::string directoryFile;
    result = client_directory_file(directoryFile);
    if (result.IsError()) return result;
    const clientCommand_t directory = client_delete_directory_file(directoryFile);
    result = remoteShellLine(directory.command, line);
    if (result.IsError()) return result.Push(FX_HERE);
    output.clear();
    result = executeAndCheck(line.c_str(), directory, output, EV_CLIENT_PROCESS_FAILED, kRemoteFailure);
    if (result.IsError()) return result.Push(FX_HERE);
  } else {
    const clientCommand_t remove = client_uninstall();
    result = remoteShellLine(remove.command, line);
    if (result.IsError()) return result.Push(FX_HERE);
    result = executeAndCheck(line.c_str(), remove, output, EV_CLIENT_PROCESS_FAILED, kRemoteFailure);
    if (result.IsError()) return result.Push(FX_HERE);
  }

  KXPlatformInfo().deleteSection("ProxyClients/" + clientName);
  return CWqError::Success();
}
