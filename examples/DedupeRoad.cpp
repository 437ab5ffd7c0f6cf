#include "ExampleConsole.h"
#include "DedupeRoad.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "ClProxyWire.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "FXErrorUtil.h"
#include "KXArchive.h"
#include "KXJobPerfManager.h"
#include "KXOpenBackupServices/ArchiveTagHeader.h"
#include "KXOpenBackupServices/CProxyPrepipelineMgr.h"
#include "backup/ProxyBackup.h"

namespace {

const unsigned int kArchiveFileId = 1;
const int kMaxItems = 100000;

CWqError Step(CWqError result, const char* step) {
  if (result.IsError()) result.Push(FX_HERE, "Step '%s' of the dedupe backup failed", step);
  else std::printf("  %s: ok\n", step);
  return result;
}

int StatusOf(const CWqError& result) {
  if (!result.IsError()) return 0;
  return FXErrorUtil::IsInt(result) ? FXErrorUtil::GetInt(result) : -1;
}

// A counter the module published, by name; its value is in network order.
uint64_t CounterValue(const _JobPerfCounterCollection& collection, const char* name) {
  uint64_t value = 0;
  for (const _JobPerfCounter& counter : collection.Snapshot())
    if (std::strncmp(counter.name, name, sizeof counter.name) == 0)
      value = ClProxyWire::GetU64(reinterpret_cast<const uint8_t*>(&counter.ullValue));
  return value;
}

CWqError ReceiveCollectFile(ProxyBackup& phase, CProxyPrepipelineMgr& mgr, DedupeOutcome& outcome) {
  char* buf = nullptr;
  unsigned int size = 0;
  CWqError result;
  for (int item = 0; item < kMaxItems; ++item) {
    result = phase.recvNextFile();
    const int status = StatusOf(result);
    if (status == RECV_STATUS_COLLECT_DONE) {
      result = CWqError::Success();
      break;
    }
    if (status == RECV_STATUS_FAILED_FILE) continue;
    if (status != 0) break;
    result = phase.recvReferenceList();
    if (result.IsError()) break;
    for (;;) {
      unsigned int type = 0;
      _PipelineDataHdr header;
      result = phase.recvData(buf, size, &type, &header);
      if (StatusOf(result) != 0) break;
      if (type == 0x51) {
        ++outcome.blocksNew;
        result = mgr.onPrepipelineDedupeData(buf, size, &header, nullptr, 0);
      } else if (type == 0x50) {
        ++outcome.signatureTags;
        result = mgr.onPrepipelineSignature(reinterpret_cast<_PrePipelineDedupe_Signature*>(buf), nullptr, 0);
      }
      if (result.IsError()) break;
    }
    if (StatusOf(result) == RECV_STATUS_GOOD_EOF || StatusOf(result) == RECV_STATUS_BAD_EOF) continue;
    break;
  }
  std::free(buf);
  return result;
}

void ListFiles(const std::string& root, const std::string& clientDir, std::vector<std::string>& out) {
  DIR* dir = ::opendir((root + clientDir).c_str());
  if (!dir) return;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = (clientDir == "/" ? "/" : clientDir + "/") + name;
    struct stat st;
    if (::lstat((root + path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) ListFiles(root, path, out);
    else if (S_ISREG(st.st_mode)) out.push_back(path);
  }
  ::closedir(dir);
}

}  // namespace

CWqError RunDedupeRoad(SimClientDaemon& daemon, const std::string& outputDir, uint32_t blockKB,
                       DedupeOutcome& outcome) {
  (void)daemon;
  CWqError result = MakeFolders(outputDir + "/archive");
  if (result.IsError()) return result;
  outcome.archivePath = outputDir + "/archive/pipeline.dat";
  outcome.blockBytes = blockKB * 1024;
  KXArchive archive(outcome.archivePath);
  _PrePipelineDedupe_Config config;
  config.ullFlags = 1;
  config.uSignatureLocation = 1;
  config.uSignatureScheme = 3;
  config.uDedupeBlockSizeKB = blockKB;
  config.uSignaturesPerBatch = 8;
  archive.SetConfig(config);
  st_SigQueryParams params;
  params.uAppId = ExampleJob::kAppId;
  params.ullJobId = ExampleJob::kJobId;
  params.bUseSIDB = true;
  archive.SetQueryParams(params, ExampleJob::kClientName);

  std::unique_ptr<ProxyBackup> phase(new ProxyBackup());
  result = Step(phase->init(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId, ExampleJob::kJobId,
                            ExampleJob::kLevel, ExampleJob::kJobStartValue, ExampleJob::kHost, 0),
                "init");
  if (!result.IsError()) result = Step(phase->launchClientProcess(), "launchClientProcess");
  if (!result.IsError()) result = Step(phase->acceptClientProcessConnection(), "acceptClientProcessConnection");
  if (!result.IsError()) result = Step(phase->sendJobStart(true), "sendJobStart");
  if (result.IsError()) return result;

  CProxyPrepipelineMgr mgr;
  result = Step(mgr.Initialize(&archive, static_cast<unsigned int>(ExampleJob::kJobId), kArchiveFileId),
                "CProxyPrepipelineMgr::Initialize");
  if (!result.IsError()) result = Step(phase->recvCOBConfigMsg(), "recvCOBConfigMsg");
  if (!result.IsError()) result = Step(phase->recvPrepipelineDedupeConfigRequest(), "recvPrepipelineDedupeConfigRequest");
  _PrePipelineDedupe_Config sent;
  bool enabled = false;
  if (!result.IsError()) result = Step(mgr.GetPrePipelineDedupeConfig(sent, enabled), "GetPrePipelineDedupeConfig");
  if (!result.IsError()) {
    std::printf("  pre-pipeline deduplication %s, signature-query server on port %u\n", enabled ? "on" : "off",
                sent.uQueryPort);
    result = Step(phase->sendPrepipelineDedupeConfigResponse(sent), "sendPrepipelineDedupeConfigResponse");
  }
  if (!result.IsError()) result = Step(phase->getClientVolumeList(), "getClientVolumeList");
  if (!result.IsError()) result = Step(phase->sendCollectFile(1, 0), "sendCollectFile");
  if (!result.IsError()) result = Step(ReceiveCollectFile(*phase, mgr, outcome), "receive the collect file");
  _JobPerfCounterCollection counters;
  mgr.UpdatePerfCounters(&counters, 0);
  outcome.blocksQueried = CounterValue(counters, "Signatures queried");
  outcome.blocksFound = CounterValue(counters, "Signatures found");
  if (!result.IsError()) result = Step(phase->sendJobComplete(), "sendJobComplete");
  mgr.Uninitialize();
  phase.reset();
  if (result.IsError()) return result;
  std::printf("blocks queried %llu, new %llu, found %llu; signature tags %llu; archive %s\n",
              static_cast<unsigned long long>(outcome.blocksQueried), static_cast<unsigned long long>(outcome.blocksNew),
              static_cast<unsigned long long>(outcome.blocksFound),
              static_cast<unsigned long long>(outcome.signatureTags), outcome.archivePath.c_str());
  return result;
}

CWqError VerifyDedupeArchive(const std::string& contentDir, const DedupeOutcome& outcome) {
  std::vector<KXArchive::Record> records;
  std::string error;
  if (!KXArchive::ReadArchiveFile(outcome.archivePath, records, error))
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "The archive file does not read back: %s", error.c_str());
  std::vector<std::string> stored;
  for (size_t i = 0; i < records.size(); ++i) {
    const std::vector<uint8_t>& header = records[i].header;
    if (std::memcmp(header.data(), "TAGHD01", 8) != 0)
      return FXErrorUtil::ErrorInt(FX_HERE, 1, "Record %zu of the archive has no tag header", i);
    const uint32_t type = ClProxyWire::GetU32(header.data() + 32);
    if (type == kArchiveBufferData) {
      if (i + 1 >= records.size() || ClProxyWire::GetU32(records[i + 1].header.data() + 32) != kArchiveBufferSignatureTag)
        return FXErrorUtil::ErrorInt(FX_HERE, 1, "Data block %zu of the archive has no signature tag", i);
      stored.emplace_back(records[i].data.begin(), records[i].data.end());
    } else if (type != kArchiveBufferSignatureTag) {
      return FXErrorUtil::ErrorInt(FX_HERE, 1, "Record %zu of the archive has buffer type %u", i, type);
    }
  }
  std::vector<std::string> files;
  ListFiles(contentDir, "/", files);
  std::set<std::string> distinct;
  for (const std::string& file : files) {
    std::ifstream in(contentDir + file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t at = 0; at < bytes.size(); at += outcome.blockBytes) distinct.insert(bytes.substr(at, outcome.blockBytes));
  }
  std::vector<std::string> sortedStored = stored;
  std::sort(sortedStored.begin(), sortedStored.end());
  if (std::adjacent_find(sortedStored.begin(), sortedStored.end()) != sortedStored.end())
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "A block is stored twice in the archive");
  if (std::set<std::string>(stored.begin(), stored.end()) != distinct)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "The archive holds %zu blocks, the content %zu distinct ones",
                                   stored.size(), distinct.size());
  std::printf("verified: %s, every tag header parses, each of the %s stored once with its signature tag\n",
              Counted(records.size(), "record", "records").c_str(),
              Counted(distinct.size(), "distinct block", "distinct blocks").c_str());
  return CWqError::Success();
}
