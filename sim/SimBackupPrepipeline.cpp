// BKP.EXE's pre-pipeline mode: the configuration exchange, the signature
// queries on the query port, and only the new blocks on the backup link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "CWqIPAddr.h"
#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyWire.h"
#include "FXErrorUtil.h"
#include "SimBackupProgram.h"
#include "SimFileTree.h"
#include "SimPeer.h"

namespace SimBackupProgram {

namespace {

const uint32_t kDefaultBatch = 16;

CWqError EndOf(const CWqError& result) {
  const bool gone = FXErrorUtil::IsErrNo(result, ENOTCONN) || FXErrorUtil::IsErrNo(result, ECONNRESET) ||
                    FXErrorUtil::IsErrNo(result, EPIPE) || FXErrorUtil::IsErrNo(result, ECANCELED) ||
                    FXErrorUtil::IsErrNo(result, EBADF);
  return gone ? CWqError::Success() : result;
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(fd);
      return got == 0;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
}

// The query side of the program: one connection to the proxy's query port.
class QueryLink {
 public:
  CWqError Connect(const std::string& host, uint16_t port) {
    CWqIPAddr address;
    CWqError result = CWqIPAddr::GetByName(host.empty() ? "127.0.0.1" : host, address, AF_INET);
    if (!result.IsError()) result = address.SetPortNumber(port);
    if (!result.IsError()) result = m_link.getConnectionSocket().Create(AF_INET);
    if (!result.IsError()) result = m_link.getConnectionSocket().Connect(address);
    if (result.IsError()) result.Push(FX_HERE, "BKP.EXE cannot connect to the query port %u", unsigned(port));
    return result;
  }

  // Queries one batch and collects whether each block is new, by unique id.
  CWqError Ask(const std::vector<_PrePipelineDedupe_Query>& batch, std::map<uint32_t, bool>& isNew) {
    COBPrePipelineDedupeQueryMsg query(batch);
    CWqError result = m_link.sendMessage(&query);
    ClEmptyMsg request(PREPIPELINE_DEDUPE_RESULT_REQ_MSG);
    if (!result.IsError()) result = m_link.sendMessage(&request);
    size_t answered = 0;
    while (!result.IsError() && answered < batch.size()) {
      ClProxyMsg* raw = nullptr;
      result = m_link.recvMessage(raw, std::vector<ClProxyMsgType>{PREPIPELINE_DEDUPE_RESULT_RESP_MSG, DISCONNECT_MSG},
                                  SimScript::kDefaultExpectSeconds);
      std::unique_ptr<ClProxyMsg> message(raw);
      if (result.IsError()) break;
      const COBPrePipelineDedupeResultRespMsg* results =
          dynamic_cast<const COBPrePipelineDedupeResultRespMsg*>(message.get());
      if (!results) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "BKP.EXE: the proxy refused a query batch");
      for (const _PrePipelineDedupe_Result_Resp& one : results->getResults()) {
        isNew[one.uUniqueId] = one.uIsNew != 0;
        ++answered;
      }
    }
    return result;
  }

  void Stop() {
    if (!m_link.getConnectionSocket().IsValid()) return;
    ClEmptyMsg stop(STREAM_STOP_MSG);
    (void)m_link.sendMessage(&stop);
    m_link.getConnectionSocket().Clear();
  }

  bool Open() { return m_link.getConnectionSocket().IsValid(); }

 private:
  ClProxyConnection m_link;
};

struct Run {
  Run(SimPeer& p, const std::string& r, const _PrePipelineDedupe_Config& c, PrepipelineTally& t)
      : peer(p), root(r), config(c), tally(t) {}

  SimPeer& peer;
  std::string root;
  _PrePipelineDedupe_Config config;
  QueryLink query;
  uint32_t nextId = 1;
  PrepipelineTally& tally;
  uint32_t files = 0, failed = 0;
  uint64_t bytes = 0;

  uint32_t BlockBytes() const { return config.uDedupeBlockSizeKB ? config.uDedupeBlockSizeKB * 1024 : kBlockBytes; }
  uint32_t Batch() const { return config.uSignaturesPerBatch ? config.uSignaturesPerBatch : kDefaultBatch; }

  CWqError SendFile(const std::string& clientPath) {
    const std::string local = root + clientPath;
    struct stat st;
    std::vector<uint8_t> content;
    if (::lstat(local.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && !ReadWhole(local, content))) {
      const int errNo = errno ? errno : EIO;
      ++failed;
      return peer.Send(*FailedFile(clientPath, errNo, std::strerror(errNo)));
    }
    const ClProxyFileHeader header = HeaderFromStat(clientPath, st);
    CWqError result = peer.Send(*Header(header));
    if (result.IsError()) return result;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t got = ::readlink(local.c_str(), target, sizeof target);
      if (got > 0) result = peer.Send(*Data(std::vector<uint8_t>(target, target + got)));
    } else if (S_ISREG(st.st_mode)) {
      result = SendBlocks(content);
    }
    if (result.IsError()) return result;
    ++files;
    bytes += content.size();
    return peer.Send(*GoodEof());
  }

  CWqError SendBlocks(const std::vector<uint8_t>& content) {
    const uint32_t blockBytes = BlockBytes();
    for (size_t from = 0; from < content.size();) {
      // One batch of blocks: query, results, then the new blocks.
      std::vector<_PrePipelineDedupe_Query> batch;
      std::vector<std::pair<size_t, size_t>> spans;
      for (; from < content.size() && batch.size() < Batch(); from += blockBytes) {
        const size_t size = std::min<size_t>(blockBytes, content.size() - from);
        _PrePipelineDedupe_Query q;
        BlockSignature(content.data() + from, size, q.signature);
        q.uValue68 = static_cast<uint32_t>(batch.size());
        q.ullValue72 = from;
        q.ullValue80 = size;
        q.uUniqueId = nextId++;
        batch.push_back(q);
        spans.emplace_back(from, size);
      }
      std::map<uint32_t, bool> isNew;
      if (query.Open()) {
        CWqError result = query.Ask(batch, isNew);
        if (result.IsError()) return result;
      }
      tally.blocksQueried += static_cast<uint32_t>(batch.size());
      for (size_t i = 0; i < batch.size(); ++i) {
        // Without a query port every block is new.
        const bool fresh = !query.Open() || isNew[batch[i].uUniqueId];
        if (!fresh) {
          ++tally.blocksFound;
          continue;
        }
        ++tally.blocksNew;
        _PipelineDataHdr header;
        header.uFlags = 1;
        header.uDataSize = static_cast<uint32_t>(spans[i].second);
        header.uSecondSize = static_cast<uint32_t>(spans[i].second);
        std::vector<uint8_t> block(content.begin() + spans[i].first,
                                   content.begin() + spans[i].first + spans[i].second);
        CWqError result = peer.Send(*PipelineData(header, block));
        if (result.IsError()) return result;
        if (!query.Open()) continue;
        _PrePipelineDedupe_Signature signature;
        std::memcpy(signature.carried0, batch[i].signature, sizeof batch[i].signature);
        signature.uUniqueId = batch[i].uUniqueId;
        result = peer.Send(*Signature(&signature));
        if (result.IsError()) return result;
      }
    }
    return CWqError::Success();
  }
};

}  // namespace

void BlockSignature(const uint8_t* data, size_t size, uint8_t signature[64]) {
  for (int lane = 0; lane < 8; ++lane) {
    uint64_t hash = 14695981039346656037ull ^ (0x9E3779B97F4A7C15ull * static_cast<uint64_t>(lane + 1));
    for (size_t i = 0; i < size; ++i) {
      hash ^= data[i];
      hash *= 1099511628211ull;
    }
    hash ^= size;
    ClProxyWire::PutU64(signature + 8 * lane, hash);
  }
}

SimScript Prepipeline(const std::string& root, const PrepipelineOptions& options,
                      std::shared_ptr<PrepipelineTally> tally) {
  if (!tally) tally = std::make_shared<PrepipelineTally>();
  return SimScript().Call([root, options, tally](SimPeer& peer) {
    std::shared_ptr<ClProxyMsg> start;
    CWqError result = peer.Receive(std::vector<ClProxyMsgType>{JOB_START_MSG}, SimScript::kDefaultExpectSeconds,
                                   &start);
    if (result.IsError()) return EndOf(result);
    ClBlobMsg baseDir(CLIENT_BASE_DIR_MSG, ClBlobMsg::Copy, options.base.baseDir.data(),
                      static_cast<uint32_t>(options.base.baseDir.size()));
    result = peer.Send(baseDir);
    COBClientConfig capability;
    capability.uCapabilities = options.capabilities;
    COBConfigMsg capabilityMsg(capability);
    if (!result.IsError()) result = peer.Send(capabilityMsg);
    ClEmptyMsg request(PREPIPELINE_DEDUPE_CONFIG_REQ_MSG);
    if (!result.IsError()) result = peer.Send(request);
    std::shared_ptr<ClProxyMsg> answer;
    if (!result.IsError())
      result = peer.Receive(std::vector<ClProxyMsgType>{PREPIPELINE_DEDUPE_INFO_RESP_MSG},
                            SimScript::kDefaultExpectSeconds, &answer);
    if (result.IsError()) return EndOf(result);
    const COBPrePipelineDedupeInfoRespMsg* info = dynamic_cast<const COBPrePipelineDedupeInfoRespMsg*>(answer.get());
    if (!info) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "BKP.EXE: configuration of an unexpected class");

    Run run(peer, root, info->getConfig(), *tally);
    tally->config = run.config;
    tally->gotConfig = true;
    if (run.config.uSignatureLocation == 1) {
      result = run.query.Connect(peer.Connection().remoteHost(), static_cast<uint16_t>(run.config.uQueryPort));
      if (result.IsError()) return result;
    }
    if (options.base.sendVolumeList) {
      std::vector<std::string> top;
      DIR* dir = ::opendir(root.c_str());
      while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        struct stat st;
        if (name != "." && name != ".." && ::lstat((root + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
          top.push_back("/" + name);
      }
      if (dir) ::closedir(dir);
      std::sort(top.begin(), top.end());
      std::string text;
      for (const std::string& path : top) text += path + ";";
      result = peer.Send(*VolumeList(text + "/"));
      if (result.IsError()) return EndOf(result);
    }
    for (;;) {
      result = peer.Send(*CollectRequest());
      std::shared_ptr<ClProxyMsg> announcement;
      while (!result.IsError()) {
        result = peer.Receive(std::vector<ClProxyMsgType>(), SimScript::kDefaultExpectSeconds, &announcement);
        if (result.IsError() || announcement->getMsgType() != TAPE_INFO_MSG) break;
      }
      if (result.IsError()) break;
      if (announcement->getMsgType() == JOB_COMPLETE_MSG) break;
      if (announcement->getMsgType() != COLLECT_FILE_MSG && announcement->getMsgType() != SC_COLLECT_FILE_MSG) {
        result = FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "BKP.EXE: message type 0x%04x where a collect file belongs",
                                         static_cast<unsigned>(announcement->getMsgType()));
        break;
      }
      std::vector<std::string> items;
      SimListTree(root, "/", items);
      run.files = run.failed = 0;
      run.bytes = 0;
      for (const std::string& item : items) {
        result = run.SendFile(item);
        if (result.IsError()) break;
      }
      if (!result.IsError()) result = peer.Send(*Stats(run.files, run.failed, run.bytes));
      if (result.IsError()) break;
    }
    run.query.Stop();
    return EndOf(result);
  });
}

}  // namespace SimBackupProgram
