// Source filters: taken from the restore task, matched against a path and
// sent to the client as SOURCE_FILTERS_MSG chunks.
#include <cerrno>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "ProxyRestore.h"

namespace {

const size_t kChunkBuffer = 65536;
// A filter must fit the chunk buffer with a terminating NUL.
const size_t kLongestFilter = kChunkBuffer - 1;
// A filter that would take a non-empty chunk above this starts a new one.
const size_t kChunkFill = 65530;

// The filter cut before its wildcard components.
std::string FilterPrefix(const std::string& filter) {
  std::string prefix = filter;
  for (size_t wildcard = prefix.find_last_of("*?"); wildcard != std::string::npos;
       wildcard = prefix.find_last_of("*?")) {
    prefix.erase(wildcard);
    const size_t slash = prefix.rfind('/');
    if (slash != std::string::npos) prefix.erase(slash);
  }
  return prefix;
}

}  // namespace

CWqError ProxyRestore::prepareWithRestoreTask(boost::shared_ptr<EvRstTask> task) {
  if (!task) return CWqError::Success();
  FX_LOG(0, "ptrRstTask->lookup() = %d", task->lookup(0));
  const TaskFileList* paths = task->getFilterPaths();
  FX_LOG(0, "Filters:");
  if (paths) {
    for (const TaskFile* file : *paths) {
      FX_LOG(0, "  [%s]", file->getValue());
      filters.push_back(file->getValue());
    }
  }
  FX_LOG(0, "Found %zu filters.", filters.size());
  return CWqError::Success();
}

CWqError ProxyRestore::getFiltersFor(const std::string& path, std::list<std::string>* result) {
  if (result) result->clear();
  for (const std::string& filter : filters) {
    const std::string prefix = FilterPrefix(filter);
    FX_LOG(1, "Using filter [%s] against [%s]", prefix.c_str(), path.c_str());
    if (FXString::CompareLeft(prefix, path) != 0) continue;
    if (result) result->push_back(filter);
    FX_LOG(1, "   < using filter [%s] for [%s]", filter.c_str(), path.c_str());
  }
  return CWqError::Success();
}

CWqError ProxyRestore::sendSourceFilters() {
  if (!programConnected())
    return FXErrorUtil::ErrorWin32(FX_HERE, 2250 /* ERROR_NOT_CONNECTED */,
                                   "The restore program is not connected: source filters not sent");
  // Checked before anything goes out: the client splits on ";" and reads
  // into a buffer of the chunk's size.
  for (const std::string& filter : filters) {
    // An empty filter would vanish from the joined chunk.
    if (filter.empty()) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "A source filter is empty");
    if (filter.size() > kLongestFilter)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Source filter of %zu bytes is above %zu bytes: [%.64s...]",
                                     filter.size(), kLongestFilter, filter.c_str());
    if (filter.find(';') != std::string::npos)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Source filter [%s] holds the separator \";\"",
                                     filter.c_str());
  }
  std::string chunk;
  chunk.reserve(kChunkBuffer);
  int inChunk = 0;
  int total = 0;
  auto flush = [&]() -> CWqError {
    ClBlobMsg message(SOURCE_FILTERS_MSG, ClBlobMsg::Borrow, chunk.data(), static_cast<uint32_t>(chunk.size()));
    CWqError result = sendToProgram(message);
    if (result.IsError()) return result.Push(FX_HERE);
    FX_LOG(4, "Sent %d source filters.", inChunk);
    chunk.clear();
    inChunk = 0;
    return CWqError::Success();
  };
  for (const std::string& filter : filters) {
    if (!chunk.empty() && chunk.size() + filter.size() > kChunkFill) {
      CWqError result = flush();
      if (result.IsError()) return result;
    }
    if (!chunk.empty()) chunk += ';';
    chunk += filter;
    ++inChunk;
    ++total;
  }
  if (!chunk.empty()) {
    CWqError result = flush();
    if (result.IsError()) return result;
  }
  ClEmptyMsg end(GOOD_EOF_MSG);
  CWqError result = sendToProgram(end);
  if (result.IsError()) return result.Push(FX_HERE);
  FX_LOG(4, "Sent total of %d source filters.", total);
  return CWqError::Success();
}
