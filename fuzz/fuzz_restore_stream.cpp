// The simulated restore program's file mode on the proxy's stream: frames
// chosen by the input are read from a socket by a ClProxyConnection, as the
// program reads them, and each message is handled by SimRestoreFiles over a
// scratch root (file headers with optional headers, data, ends of file,
// filter chunks, job completion, and types it ignores).
//
// Input: frames, each: a pick byte, then
//   0xFE: a file header made from the input: a kind byte (file, folder,
//         link, other), a name length byte and that many name bytes, each
//         mapped into "/.abc" and NUL, then an optional-header length byte
//         and that many bytes; so names with "." and ".." components, NULs
//         and links pointing anywhere are reached quickly;
//   0xFF: a raw type of two bytes, a length (two bytes), the payload;
//   else: a type index into kTypes, a length (two bytes), the payload.
//
// Checked: no crash, leak or sanitizer report; after every input the scratch
// folder holds the root and the folder "outside" only, "outside" stays
// empty (the root holds a link to it), and every reply is one the program
// may send.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClProxyConnection.h"
#include "ClProxyFileHeader.h"
#include "ClProxyWire.h"
#include "FuzzSupport.h"
#include "SimFileTree.h"
#include "SimRestoreFiles.h"

namespace {

const uint16_t kTypes[] = {
    FILE_HEADER_MSG, FILE_DATA_MSG,   GOOD_EOF_MSG,     BAD_EOF_MSG,       SOURCE_FILTERS_MSG,
    JOB_COMPLETE_MSG, PREHEADER_MSG,  REFOPTHDR2_MSG,   TAPE_RESTORE_DATA_MSG, SERVICE_CHECK_MSG,
};
const size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
const size_t kMaxStreamBytes = 96 * 1024;
const int kMaxMessages = 4000;

struct Scratch {
  std::string parent;
  std::string root;
  std::string outside;
};

void Empty(const std::string& folder);

const Scratch& TheScratch();

// The scratch folder goes with the process.
void RemoveScratch() {
  const Scratch& scratch = TheScratch();
  Empty(scratch.parent);
  ::rmdir(scratch.parent.c_str());
}

const Scratch& TheScratch() {
  // Never destroyed: the removal at exit runs after static destructors.
  static const Scratch* const scratch = [] {
    Scratch* made = new Scratch;
    Scratch& s = *made;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-restore-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    FUZZ_CHECK(::mkdtemp(buffer.data()) != nullptr, "mkdtemp: %s", std::strerror(errno));
    s.parent = buffer.data();
    s.root = s.parent + "/root";
    s.outside = s.parent + "/outside";
    FUZZ_CHECK(::mkdir(s.root.c_str(), 0755) == 0, "mkdir root: %s", std::strerror(errno));
    FUZZ_CHECK(::mkdir(s.outside.c_str(), 0755) == 0, "mkdir outside: %s", std::strerror(errno));
    std::atexit(RemoveScratch);
    return made;
  }();
  return *scratch;
}

// Empties `folder` (links are removed, never followed).
void Empty(const std::string& folder) {
  for (const std::string& name : SimSortedNames(folder)) {
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ::chmod(path.c_str(), 0700);
      Empty(path);
      ::rmdir(path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
}

void AddFrame(std::vector<uint8_t>& stream, uint16_t type, const std::vector<uint8_t>& payload) {
  uint8_t frame[ClProxyWire::kHeaderSize];
  ClProxyWire::EncodeHeader(type, static_cast<uint32_t>(payload.size()), frame);
  stream.insert(stream.end(), frame, frame + sizeof frame);
  stream.insert(stream.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> MadeHeader(FuzzBytes& in) {
  static const uint64_t kKinds[] = {S_IFREG | 0644, S_IFDIR | 0755, S_IFLNK | 0777, 0};
  static const char kAlphabet[] = {'/', '.', 'a', 'b', 'c', '\0'};
  ClProxyFileHeaderSerializer header;
  const uint8_t kind = in.byte();
  header.mode = kKinds[kind % 4] | (kind >= 4 ? kind : 0);
  for (uint8_t byte : in.take(in.byte())) header.name += kAlphabet[byte % sizeof kAlphabet];
  std::vector<uint8_t> bytes(header.getBufSize());
  uint32_t used = 0;
  FUZZ_CHECK(header.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used) == 0, "header serialize");
  const std::vector<uint8_t> optional = in.take(in.byte());
  bytes.insert(bytes.end(), optional.begin(), optional.end());
  return bytes;
}

void CheckScratch(const Scratch& scratch) {
  const std::vector<std::string> names = SimSortedNames(scratch.parent);
  FUZZ_CHECK(names == (std::vector<std::string>{"outside", "root"}), "%zu items beside the root", names.size());
  FUZZ_CHECK(SimSortedNames(scratch.outside).empty(), "something was written outside the root");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  const Scratch& scratch = TheScratch();
  Empty(scratch.root);
  const std::string away = scratch.root + "/away";
  FUZZ_CHECK(::symlink(scratch.outside.c_str(), away.c_str()) == 0, "symlink: %s", std::strerror(errno));

  FuzzBytes in(data, size);
  std::vector<uint8_t> stream;
  while (!in.empty() && stream.size() < kMaxStreamBytes) {
    const uint8_t pick = in.byte();
    if (pick == 0xFE) {
      AddFrame(stream, FILE_HEADER_MSG, MadeHeader(in));
      continue;
    }
    const uint16_t type = pick == 0xFF ? in.u16() : kTypes[pick % kTypeCount];
    const uint16_t length = in.u16();
    AddFrame(stream, type, in.take(length));
  }

  const int descriptor = FuzzFedSocket(stream.data(), stream.size());
  {
    ClProxyConnection link;
    FUZZ_CHECK(!link.getConnectionSocket().AttachConnectedSocket(CWqSocketDescriptor(descriptor)).IsError(),
               "attach failed");
    SimRestoreFiles files(scratch.root);
    std::vector<std::shared_ptr<ClProxyMsg>> replies;
    bool done = false;
    for (int count = 0; count < kMaxMessages && !done; ++count) {
      ClProxyMsg* raw = nullptr;
      bool dropped = false;
      ClProxyMsgHeader header;
      CWqError result = link.recvAnyMessage(raw, 0, dropped, header);
      std::unique_ptr<ClProxyMsg> message(raw);
      if (result.IsError()) {
        if (dropped) continue;
        break;  // the end of the input, or a frame that ends the link
      }
      replies.clear();
      files.Handle(*message, replies, done);
      for (const std::shared_ptr<ClProxyMsg>& reply : replies) {
        const ClProxyMsgType type = reply->getMsgType();
        FUZZ_CHECK(type == FAILED_FILE_MSG || type == DISK_FULL_MSG || type == ITEM_STATUS_MSG ||
                       type == GOOD_EOF_MSG,
                   "reply of type 0x%04x", static_cast<unsigned>(type));
      }
    }
  }  // the program's open item is dropped here, as when its link ends
  CheckScratch(scratch);
  return 0;
}
