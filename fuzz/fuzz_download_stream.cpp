// The service downloads' receiving side fed arbitrary frames in arbitrary
// chunks through a socket pair, into a scratch folder. The feeder writes all
// and closes its end first, so no receive waits.
//
// Input: byte 0 bit 0 chooses the log download (else the directory-change
// download). Then frames: a type index byte (into kTypes; 0xFF: a raw type
// of two more bytes), a u16 length, that many payload bytes.
//
// The scratch folder holds links that lead out of it: to a folder ("logs"),
// to a file ("f") and to nothing ("d").
//
// Checked: no crash, leak or sanitizer report; nothing is written outside
// the scratch folder (its parent holds only it and the empty folder the link
// leads to, and the empty file another leads to); no temporary file is left;
// every file written is whole (a cut transfer never leaves a file it started).
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ClProxyConnection.h"
#include "ClProxyMsgType.h"
#include "ClProxyWire.h"
#include "FuzzSupport.h"
#include "service/ServiceDownload.h"

namespace {

const uint16_t kTypes[] = {FILE_HEADER_MSG, FILE_DATA_MSG, JOB_COMPLETE_MSG, BAD_EOF_MSG, GOOD_EOF_MSG, EVENT_MSG};
const size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
const size_t kMaxStreamBytes = 64 * 1024;

// Every path below `dir`, relative, folders included.
void Walk(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return;
  while (dirent* entry = ::readdir(handle)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    out.push_back(prefix + name);
    struct stat st;
    if (::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) Walk(dir + "/" + name, prefix + name + "/", out);
  }
  ::closedir(handle);
}

void RemoveTree(const std::string& dir) {
  std::vector<std::string> paths;
  Walk(dir, "", paths);
  for (auto it = paths.rbegin(); it != paths.rend(); ++it) ::remove((dir + "/" + *it).c_str());
}

struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/fuzz-download-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern) != nullptr, "mkdtemp: %s", std::strerror(errno));
    parent = pattern;
    dest = parent + "/dest";
    outside = parent + "/outside";
    FUZZ_CHECK(::mkdir(dest.c_str(), 0755) == 0, "mkdir: %s", std::strerror(errno));
    FUZZ_CHECK(::mkdir(outside.c_str(), 0755) == 0, "mkdir: %s", std::strerror(errno));
    const int file = ::open((parent + "/outside-file").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    FUZZ_CHECK(file >= 0, "open: %s", std::strerror(errno));
    ::close(file);
  }
  // Links inside the destination that lead out of it (a folder, a file, a
  // dangling one), made anew for each input.
  void PlantLinks() const {
    FUZZ_CHECK(::symlink(outside.c_str(), (dest + "/logs").c_str()) == 0, "symlink: %s", std::strerror(errno));
    FUZZ_CHECK(::symlink((parent + "/outside-file").c_str(), (dest + "/f").c_str()) == 0, "symlink: %s",
               std::strerror(errno));
    FUZZ_CHECK(::symlink((parent + "/nowhere").c_str(), (dest + "/d").c_str()) == 0, "symlink: %s",
               std::strerror(errno));
  }
  ~Scratch() {
    RemoveTree(parent);
    ::rmdir(parent.c_str());
  }
  std::string parent, dest, outside;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  static Scratch scratch;
  (void)quiet;
  FuzzBytes in(data, size);
  const bool logFiles = (in.byte() & 1) != 0;
  std::vector<uint8_t> stream;
  while (!in.empty() && stream.size() < kMaxStreamBytes) {
    const uint8_t pick = in.byte();
    const uint16_t type = pick == 0xFF ? in.u16() : kTypes[pick % kTypeCount];
    const std::vector<uint8_t> payload = in.take(in.u16());
    uint8_t head[ClProxyWire::kHeaderSize];
    ClProxyWire::EncodeHeader(type, static_cast<uint32_t>(payload.size()), head);
    stream.insert(stream.end(), head, head + sizeof head);
    stream.insert(stream.end(), payload.begin(), payload.end());
  }

  scratch.PlantLinks();
  const int fed = FuzzFedSocket(stream.data(), stream.size());

  ClProxyConnection link;
  FUZZ_CHECK(!link.getConnectionSocket().AttachConnectedSocket(CWqSocketDescriptor(fed)).IsError(), "attach");
  const std::string target = logFiles ? scratch.dest : scratch.dest + "/dirChange.txt";
  (void)ReceiveDownload(link, logFiles, target, [&link] { link.getConnectionSocket().Close(); });
  link.getConnectionSocket().Close();

  std::vector<std::string> outside;
  Walk(scratch.parent, "", outside);
  for (const std::string& path : outside)
    FUZZ_CHECK(path == "dest" || path.compare(0, 5, "dest/") == 0 || path == "outside" || path == "outside-file", "written outside the folder: %s",
               path.c_str());
  struct stat outsideFile;
  FUZZ_CHECK(::stat((scratch.parent + "/outside-file").c_str(), &outsideFile) == 0 && outsideFile.st_size == 0,
             "the file outside was written");
  std::vector<std::string> inside;
  Walk(scratch.dest, "", inside);
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (const std::string& path : inside) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A temporary: ".receiving-XXXXXX", unless the client itself sent that name.
    const bool temporary = name.size() == 17 && name.compare(0, 11, ".receiving-") == 0;
    FUZZ_CHECK(!temporary || input.find(name) != std::string::npos, "a temporary was left: %s", path.c_str());
  }
  RemoveTree(scratch.dest);
  return 0;
}
