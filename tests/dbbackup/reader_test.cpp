// The local file reader through the phase: what each kind of local entry
// gives the host and what the server hears of it.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DBBackupTestUtil.h"

namespace dbtest {
namespace {

struct ReaderCase {
  const char* name;
  std::function<std::string(ScratchFolder&)> make;  // the path the server names
  std::string expected;                              // Drive's line
  int fileStatusPhase;                               // the phase of the one DBFB_FILE_MSG
  unsigned failed;                                   // getStats
  std::string errorText;                             // part of getFailedFile's text
};

TEST_F(DBBackupTest, LocalEntries) {
  const std::vector<ReaderCase> cases = {
      {"an empty file", [](ScratchFolder& s) { return s.File("empty", 0); }, "H:DB/x@9 E10 S12", 0, 0, ""},
      {"2048 bytes", [](ScratchFolder& s) { return s.File("b2048", 2048); }, "H:DB/x@9 D2048 E10 S12", 0, 0, ""},
      {"5000 bytes", [](ScratchFolder& s) { return s.File("b5000", 5000); }, "H:DB/x@9 D2048 D2048 D904 E10 S12",
       0, 0, ""},
      {"a missing file", [](ScratchFolder& s) { return s.Path("missing"); }, "F8:2 S12", 1, 1, ""},
      {"a directory with a .DIR twin",
       [](ScratchFolder& s) {
         s.File("dir1.DIR", 10);
         return s.Folder("dir1");
       },
       "H:DB/x@9 E10 S12", 0, 0, ""},
      {"a directory without a twin", [](ScratchFolder& s) { return s.Folder("dir2"); }, "F8:2 S12", 1, 1, ""},
      {"a link to a file",
       [](ScratchFolder& s) {
         const std::string target = s.File("target", 100);
         ::symlink(target.c_str(), s.Path("link").c_str());
         return s.Path("link");
       },
       "H:DB/x@9 D100 E10 S12", 0, 0, ""},
      {"a FIFO",
       [](ScratchFolder& s) {
         ::mkfifo(s.Path("fifo").c_str(), 0600);
         return s.Path("fifo");
       },
       "F8:22 S12", 1, 1, "is a FIFO"},
      {"a link to a FIFO",
       [](ScratchFolder& s) {
         ::mkfifo(s.Path("fifo2").c_str(), 0600);
         ::symlink(s.Path("fifo2").c_str(), s.Path("fifolink").c_str());
         return s.Path("fifolink");
       },
       "F8:22 S12", 1, 1, "is a FIFO"},
      {"a directory whose .DIR twin is a FIFO",
       [](ScratchFolder& s) {
         ::mkfifo(s.Path("dir4.DIR").c_str(), 0600);
         return s.Folder("dir4");
       },
       "F8:22 S12", 1, 1, "is a FIFO"},
      {"a character device", [](ScratchFolder&) { return std::string("/dev/zero"); }, "F8:22 S12", 1, 1,
       "is a character device"},
      {"a link to a directory",
       [](ScratchFolder& s) {
         ::symlink(s.Folder("dir3").c_str(), s.Path("dirlink").c_str());
         return s.Path("dirlink");
       },
       "F8:22 S12", 1, 1, "is a directory"},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const std::string path = c.make(folder);
    SimDBFileBackupServer one;
    one.SetScript({Answer::File(path, "DB/x", 9)});
    ASSERT_FALSE(one.Start().IsError());
    std::unique_ptr<TestDBBackup> phase(new TestDBBackup);
    ASSERT_FALSE(phase->init(kVellicon, kApp, kClient, kJob, 1, -5, "ignored", 0).IsError());
    CWqError first = phase->recvNextFile();
    std::string name, text;
    int error = 0;
    phase->getFailedFile(name, error, text);
    if (StatusOf(first) == RECV_STATUS_FAILED_FILE) {
      EXPECT_EQ(path, name);
      EXPECT_NE(std::string::npos, text.find(c.errorText)) << text;
    }
    // Drive the rest of the job from the first answer on.
    std::string line;
    if (StatusOf(first) == RECV_STATUS_FAILED_FILE) {
      line = "F8:" + std::to_string(error) + " " + Drive(*phase);
    } else {
      ASSERT_FALSE(first.IsError()) << first.AsString();
      std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
      ASSERT_FALSE(phase->getCxHeader(*cx).IsError());
      std::ostringstream out;
      out << "H:" << cx->name << "@" << cx->offset;
      for (;;) {
        char* buf = nullptr;
        uint32_t size = 0;
        CWqError result = phase->recvData(buf, size);
        if (!result.IsError()) {
          out << " D" << size;
          std::free(buf);
          continue;
        }
        EXPECT_TRUE(buf == nullptr);
        EXPECT_EQ(0u, size);
        out << " E" << StatusOf(result);
        break;
      }
      line = out.str() + " " + Drive(*phase);
    }
    EXPECT_EQ(c.expected, line);
    unsigned int files = 0, failed = 0;
    unsigned long bytes = 0;
    phase->getStats(files, failed, bytes);
    EXPECT_EQ(1u, files);
    EXPECT_EQ(c.failed, failed);
    phase.reset();
    EXPECT_TRUE(one.WaitForEnd(10));
    std::vector<std::string> statuses;
    for (const Message& m : one.Received())
      if (m.type == DBFB_FILE_MSG) statuses.push_back(m.fileName + ":" + std::to_string(m.phase));
    // One status per file, phase 1 only for a failed file.
    EXPECT_EQ(std::vector<std::string>({path + ":" + std::to_string(c.fileStatusPhase)}), statuses);
  }
}

// What lstat (or, for a link, stat) already shows is not a file to read is
// refused without an open: opening a device can act on it. A FIFO stands
// for them here, as an open of it is seen by inotify. For a directory the
// file read is its .DIR twin, so that is what must never be opened.
TEST_F(DBBackupTest, EntriesNotToReadAreNeverOpened) {
  const std::string fifo = scratch.Path("fifo");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const std::string link = scratch.Path("fifolink");
  ASSERT_EQ(0, ::symlink(fifo.c_str(), link.c_str()));
  const std::string dir = scratch.Folder("dir");
  const std::string twin = dir + ".DIR";
  ASSERT_EQ(0, ::mkfifo(twin.c_str(), 0600));
  const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watcher, 0);
  ASSERT_GE(::inotify_add_watch(watcher, fifo.c_str(), IN_OPEN), 0);
  ASSERT_GE(::inotify_add_watch(watcher, twin.c_str(), IN_OPEN), 0);
  std::unique_ptr<TestDBBackup> phase = Connected(
      {Answer::File(fifo, "DB/f", 1), Answer::File(link, "DB/l", 2), Answer::File(dir, "DB/d", 3)});
  ASSERT_TRUE(phase);
  for (const std::string& path : {fifo, link, dir}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(RECV_STATUS_FAILED_FILE, StatusOf(phase->recvNextFile()));
    std::string name, text;
    int error = 0;
    phase->getFailedFile(name, error, text);
    EXPECT_EQ(EINVAL, error);
    EXPECT_NE(std::string::npos, text.find("is a FIFO")) << text;
  }
  char events[4096];
  EXPECT_EQ(-1, ::read(watcher, events, sizeof events)) << "the FIFO was opened";
  ::close(watcher);
}

TEST_F(DBBackupTest, LinkHeaderDescribesTheLinkAndDataComesFromTheTarget) {
  const std::string target = scratch.File("target", 300);
  const std::string link = scratch.Path("link");
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
  std::unique_ptr<TestDBBackup> phase = Connected({Answer::File(link, "DB/link", 1)});
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->recvNextFile().IsError());
  std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
  ASSERT_FALSE(phase->getCxHeader(*cx).IsError());
  EXPECT_TRUE(S_ISLNK(static_cast<mode_t>(cx->mode)));
  EXPECT_EQ(target.size(), cx->size);
  std::string data;
  std::string line;
  for (;;) {
    char* buf = nullptr;
    uint32_t size = 0;
    CWqError result = phase->recvData(buf, size);
    if (result.IsError()) {
      line += "E" + std::to_string(StatusOf(result));
      break;
    }
    data.append(buf, size);
    line += "D" + std::to_string(size) + " ";
    std::free(buf);
  }
  EXPECT_EQ("D300 E10", line);
  EXPECT_EQ("S12", Drive(*phase));
  ASSERT_EQ(300u, data.size());
  for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(static_cast<char>((i * 7 + 3) & 0xff), data[i]) << i;
}

}  // namespace
}  // namespace dbtest
