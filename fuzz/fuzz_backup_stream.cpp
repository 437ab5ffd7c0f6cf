// The backup phase's stream reception: a real ProxyBackup reads input-chosen
// frames from a socket pair while a host loop drives it as a backup host
// does (recvNextFile; after a header getCxHeader, fillStatBuffer,
// recvReferenceList and recvData until the item ends; the tape, failure and
// statistics getters after their statuses), until a call fails or the input
// ends. The header-payload and control-port decoders are also fed directly.
//
// Input: byte 0 chooses VTL (bit 0), pre-pipeline arguments to recvData
// (bit 1) and a getClientVolumeList before the loop (bit 2). Then frames,
// each: a type index byte (into kTypes; 0xFF: a raw type of two more
// bytes), a length (two bytes, big-endian), that many payload bytes.
//
// Checked: no crash, leak or sanitizer report; every accepted header's name
// is the client's whole name (strlen + 1 == nameLength); every buffer
// recvData hands out is freed by the host; the reference list stays sorted after every
// successful recvReferenceList; the loop ends (the writer's end is closed
// before it starts, so no call can wait).
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CXFileHeader.h"
#include "ClBasicMsgs.h"
#include "ClProxyWire.h"
#include "FXErrorUtil.h"
#include "FuzzSupport.h"
#include "backup/ProxyBackup.h"

namespace {

const uint16_t kTypes[] = {
    FILE_HEADER_MSG,    FILE_DATA_MSG,       GOOD_EOF_MSG,           BAD_EOF_MSG,
    FAILED_FILE_MSG,    BACKUP_STATS_MSG,    BAD_COLLECT_FILE_MSG,   NEW_LIBRARY_MSG,
    TAPE_FULL_MSG,      TAPE_INFO_MSG,       EVENT_MSG,              PROXY_PREPIPELINE_DATA_MSG,
    PROXY_PREPIPELINEDEDUPE_SIGNATURE,       REFOPTHDR2_MSG,         CLIENT_VOLUME_LIST,
    FILE_DATA_NOT_NEEDED_MSG,                COLLECT_FILE_REQUEST_MSG, JOB_COMPLETE_MSG,
};
const size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
// Frames beyond this many are not read: the socket pair's buffer must hold
// the whole stream before the loop starts.
const size_t kMaxStreamBytes = 96 * 1024;
const int kMaxCalls = 2000;

class FuzzBackup : public ProxyBackup {
 public:
  bool Attach(int descriptor) {
    m_pSrvConnection.reset(new ClProxySrvConnection);
    return !m_pSrvConnection->getConnectionSocket().AttachConnectedSocket(CWqSocketDescriptor(descriptor)).IsError();
  }
  bool ReferencesSorted() const { return std::is_sorted(m_references.begin(), m_references.end()); }
};

int StatusOf(const CWqError& result) {
  if (!result.IsError()) return 0;
  return FXErrorUtil::IsInt(result) ? FXErrorUtil::GetInt(result) : -1;
}

void WriteAll(int descriptor, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(descriptor, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    FUZZ_CHECK(n > 0, "write to the socket pair: %s", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

// The decoders on their own, with the input's rest as one payload.
void Decoders(const std::vector<uint8_t>& payload, bool vtl) {
  ProxyBackup::HeaderPayload header;
  CWqError result = ProxyBackup::DecodeHeaderPayload(payload.data(), static_cast<uint32_t>(payload.size()), vtl, header);
  if (!result.IsError())
    FUZZ_CHECK(header.optHeaderOffset <= payload.size(), "optional header at %u of %zu bytes",
               static_cast<unsigned>(header.optHeaderOffset), payload.size());
  ClBlobMsg port(BACKUP_CONTROL_PORT_MSG, ClBlobMsg::Borrow, payload.data(), static_cast<uint32_t>(payload.size()));
  uint32_t value = 0;
  result = ProxyBackup::DecodeControlPort(port, value);
  FUZZ_CHECK(result.IsError() == (payload.size() < 4), "control port of %zu bytes: %s", payload.size(),
             result.AsString().c_str());
}

// One item's data; false when the loop is to end.
bool DrainItem(FuzzBackup& phase, bool pipelineArguments, char*& buf) {
  unsigned int size = 0;
  unsigned int type = 0;
  _PipelineDataHdr header;
  for (int call = 0; call < kMaxCalls; ++call) {
    CWqError result = pipelineArguments ? phase.recvData(buf, size, &type, &header)
                                        : phase.recvData(buf, size, nullptr, nullptr);
    const int status = StatusOf(result);
    if (status == 0) {
      FUZZ_CHECK(size == 0 || buf != nullptr, "%u bytes handed out without a buffer", size);
      continue;
    }
    return status == RECV_STATUS_GOOD_EOF || status == RECV_STATUS_BAD_EOF || status == RECV_STATUS_FAILED_FILE;
  }
  return false;
}

void HostLoop(FuzzBackup& phase, bool pipelineArguments) {
  char* buf = nullptr;
  for (int call = 0; call < kMaxCalls; ++call) {
    CWqError result = phase.recvNextFile();
    const int status = StatusOf(result);
    if (status == RECV_STATUS_FAILED_FILE) {
      std::string name, text;
      int error = 0;
      phase.getFailedFile(name, error, text);
      continue;
    }
    if (status == RECV_STATUS_TAPE_INFO) {
      std::string barcode, serial;
      phase.getTapeInfo(barcode, serial);
      continue;
    }
    if (status == RECV_STATUS_TAPE_FULL || status == RECV_STATUS_NEW_LIBRARY) continue;
    if (status == RECV_STATUS_COLLECT_DONE) {
      unsigned int files = 0, failed = 0;
      unsigned long bytes = 0;
      phase.getStats(files, failed, bytes);
      continue;
    }
    if (status != 0) break;

    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    if (!phase.getCxHeader(*cx).IsError()) {
      FUZZ_CHECK(cx->name[CXFileHeader::kNameCapacity - 1] == '\0', "header name not terminated");
      // One client name, one archive name: nothing cut at an inner NUL.
      FUZZ_CHECK(std::strlen(cx->name) + 1 == cx->nameLength, "name of %zu characters with nameLength %u",
                 std::strlen(cx->name), static_cast<unsigned>(cx->nameLength));
      FUZZ_CHECK(phase.getFileName() == cx->name, "archive name differs from the client's");
      struct stat st;
      phase.fillStatBuffer(&st);
      (void)phase.isProxyFile(cx->name);
      (void)phase.getComponentGUID(cx->name);
    }
    char* opt = nullptr;
    unsigned int optSize = 0;
    phase.getOptHeader(opt, optSize);
    result = phase.recvReferenceList();
    if (!result.IsError()) FUZZ_CHECK(phase.ReferencesSorted(), "references out of order");
    else if (StatusOf(result) != RECV_STATUS_FAILED_FILE) break;
    if (!DrainItem(phase, pipelineArguments, buf)) break;
  }
  std::free(buf);  // the host's
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  FuzzBytes in(data, size);
  const uint8_t control = in.byte();
  const bool vtl = (control & 1) != 0;
  const bool pipelineArguments = (control & 2) != 0;
  const bool volumes = (control & 4) != 0;

  std::vector<uint8_t> stream;
  std::vector<uint8_t> lastPayload;
  while (!in.empty() && stream.size() < kMaxStreamBytes) {
    const uint8_t pick = in.byte();
    const uint16_t type = pick == 0xFF ? in.u16() : kTypes[pick % kTypeCount];
    const uint16_t length = in.u16();
    lastPayload = in.take(length);
    uint8_t frame[ClProxyWire::kHeaderSize];
    ClProxyWire::EncodeHeader(type, static_cast<uint32_t>(lastPayload.size()), frame);
    stream.insert(stream.end(), frame, frame + sizeof frame);
    stream.insert(stream.end(), lastPayload.begin(), lastPayload.end());
  }
  Decoders(lastPayload, vtl);

  int pair[2];
  FuzzSocketPair(pair);
  FuzzBackup phase;
  phase.m_bVTLBackup = vtl;
  FUZZ_CHECK(phase.Attach(pair[0]), "attach failed");
  WriteAll(pair[1], stream);
  ::shutdown(pair[1], SHUT_WR);  // the end of the input: nothing waits

  if (volumes) (void)phase.getClientVolumeList();
  HostLoop(phase, pipelineArguments);
  ::close(pair[1]);
  return 0;
}
