#include "IBMiDRStagingCheck.h"

#include <mutex>

#include "ClClientManager.h"

namespace {

std::mutex g_mutex;
std::function<CWqError(ClClientManager&, bool)> g_hook;

}  // namespace

namespace IBMiDRStagingCheck {

CWqError Run(ClClientManager& manager, bool noManage) {
  std::function<CWqError(ClClientManager&, bool)> hook;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    hook = g_hook;
  }
  if (hook) return hook(manager, noManage);
  return manager.CheckAndCleanupDRFolder(noManage);
}

void SetHook(std::function<CWqError(ClClientManager&, bool)> hook) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_hook = std::move(hook);
}

}  // namespace IBMiDRStagingCheck
