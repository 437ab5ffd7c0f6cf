// Machine browse into a response and back to a requester's socket, and the
// log and directory-change downloads, against the simulated daemon.
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "AppMsgs.h"
#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyWire.h"
#include "ClServiceMsgs.h"
#include "FXPath.h"
#include "ServicesTestUtil.h"
#include "service/EvRestoreReturn.h"
#include "service/ServiceDownload.h"

using namespace servicetest;

namespace {

std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }
std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::string& bytes) {
  return std::make_shared<ClBlobMsg>(type, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The names in a folder, hidden ones included, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The requester's end of the result stream, read while the call runs (a
// listing larger than the socket's buffer must not stall the browse); its
// records after the call, as "I:<dir>:<name>:<size>" per item, "C:<count>"
// and "E:<code>". A requester made with `reads` false never reads;
// one made with `keepsItems` false only counts the items (ItemCount,
// LastItemName), so that a long listing costs it no memory.
class Requester {
 public:
  explicit Requester(bool reads = true, bool keepsItems = true) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
    m_socket.AttachConnectedSocket(CWqSocketDescriptor(pair[0]));
    m_iRead = pair[1];
    if (reads) m_reader = std::thread([this, keepsItems] {
        char block[65536];
        ssize_t n;
        while ((n = ::read(m_iRead, block, sizeof block)) > 0) {
          if (keepsItems) m_bytes.append(block, static_cast<size_t>(n));
          else CountItems(block, static_cast<size_t>(n));
        }
      });
  }
  // Read them after Records().
  size_t ItemCount() const { return m_items; }
  const std::string& LastItemName() const { return m_lastItemName; }
  ~Requester() {
    m_socket.Close();
    StopReading();
    if (m_iRead >= 0) ::close(m_iRead);
  }
  CWqSocket& socket() { return m_socket; }
  // Bytes written to the requester and not read yet.
  int Pending() const {
    int pending = 0;
    return ::ioctl(m_iRead, FIONREAD, &pending) == 0 ? pending : -1;
  }
  // The requester goes away: a write to it fails from now on.
  void Leave() {
    StopReading();
    if (m_iRead >= 0) ::close(m_iRead);
    m_iRead = -1;
  }
  std::vector<std::string> Records() {
    m_socket.Shutdown(SHUT_WR);
    StopReading();
    std::vector<EvReturnRecord> parsed;
    EXPECT_TRUE(ParseReturnRecords(std::vector<uint8_t>(m_bytes.begin(), m_bytes.end()), parsed));
    std::vector<std::string> records;
    for (const EvReturnRecord& record : parsed) {
      EvRestoreReturn::Item item;
      if (record.tag == EvReturnData::kItemTag && EvRestoreReturn::DecodeItem(record.payload, item)) {
        records.push_back("I:" + std::to_string(item.directory) + ":" + item.name + ":" + std::to_string(item.size));
      } else if (record.tag == EvRestoreReturn::kCountTag && record.payload.size() == 4) {
        uint32_t count = 0;
        std::memcpy(&count, record.payload.data(), 4);  // the host's byte order
        records.push_back("C:" + std::to_string(count));
      } else if (record.tag == EvReturnData::kEndTag && record.payload.size() == 8) {
        records.push_back("E:" + std::to_string(static_cast<int64_t>(ClProxyWire::GetU64(record.payload.data()))));
      } else {
        records.push_back("?" + std::to_string(record.tag));
      }
    }
    return records;
  }

 private:
  // The reader ends when the library's side is shut down or closed.
  void StopReading() {
    if (!m_reader.joinable()) return;
    if (m_socket.IsValid()) m_socket.Shutdown(SHUT_RDWR);
    m_reader.join();
  }

  // Keeps the records that are no items; of the items only their number
  // and the last one's name.
  void CountItems(const char* data, size_t size) {
    m_pending.append(data, size);
    size_t at = 0;
    while (m_pending.size() - at >= 8) {
      const uint8_t* head = reinterpret_cast<const uint8_t*>(m_pending.data() + at);
      const uint32_t length = ClProxyWire::GetU32(head + 4);
      if (m_pending.size() - at - 8 < length) break;
      EvRestoreReturn::Item item;
      if (ClProxyWire::GetU32(head) == EvReturnData::kItemTag &&
          EvRestoreReturn::DecodeItem(std::vector<uint8_t>(head + 8, head + 8 + length), item)) {
        ++m_items;
        m_lastItemName = item.name;
      } else {
        m_bytes.append(m_pending, at, 8 + length);
      }
      at += 8 + length;
    }
    m_pending.erase(0, at);
  }

  CWqSocket m_socket;
  int m_iRead = -1;
  std::thread m_reader;
  std::string m_bytes;
  std::string m_pending;
  size_t m_items = 0;
  std::string m_lastItemName;
};

class BrowseDownloadTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    root = MakeScratchFolder("proxy-services-client-");
    ASSERT_FALSE(root.empty());
    daemon.SetClientFolder(root + "/fs");
    ASSERT_TRUE(CWqDirectory::Create(root + "/fs/lib/sub", true));
    ASSERT_TRUE(CWqDirectory::Create(root + "/fs/empty", true));
    WriteFile(root + "/fs/lib/a.txt", "abc");
    WriteFile(root + "/fs/lib/...x", "12345");
    SetTimeout("TIMEOUT_BROWSE_REPLY", 1);
    SetTimeout("TIMEOUT_DOWNLOAD", 1);
    handle = ProxyServices::instanceForClient(kClient);
    ASSERT_TRUE(handle);
  }
  void TearDown() override {
    handle.reset();
    ServicesTest::TearDown();
    RemoveScratchFolder(root);
  }
  CWqError Browse(const char* path, bool fill, App::MachineBrowseResp* resp, App::GenericResp* generic,
                  Requester& requester) {
    std::string copy = path;
    return handle->machineBrowse(&copy[0], requester.socket(), 77, 0x3, fill, resp, generic, nullptr);
  }
  static std::vector<std::string> Items(App::MachineBrowseResp& resp) {
    std::vector<std::string> items;
    std::vector<CNMessageBase>* list = resp.getlistobject(2, 5, 0, 0, false);
    if (!list) return items;
    for (const CNMessageBase& item : *list)
      items.push_back(std::to_string(item.getint64(1)) + ":" + item.getstring(5) + ":" +
                      std::to_string(item.getint64(3)) + ":" + std::to_string(item.getint64(2)));
    return items;
  }

  std::string root;
  ProxyServicesPtr handle;
};

TEST_F(BrowseDownloadTest, BrowseIntoTheResponse) {
  App::MachineBrowseResp resp;
  App::GenericResp generic;
  Requester requester;
  ASSERT_FALSE(Browse("lib", true, &resp, &generic, requester).IsError());
  EXPECT_EQ("lib", resp.getstring(1));
  // Only "." and ".." are left out; a name beginning with dots stays.
  EXPECT_EQ((std::vector<std::string>{"0:...x:5:420", "0:a.txt:3:420", "1:sub:0:420"}), Items(resp));
  EXPECT_EQ(std::vector<std::string>{}, requester.Records());  // nothing streamed in response mode

  App::MachineBrowseResp empty;
  Requester other;
  ASSERT_FALSE(Browse("empty", true, &empty, &generic, other).IsError());
  EXPECT_EQ("empty", empty.getstring(1));
  EXPECT_EQ(std::vector<std::string>{}, Items(empty));
  EXPECT_EQ(2u, LogCount("requestedDriveTypes = 3"));  // logged, not sent
}

TEST_F(BrowseDownloadTest, BrowseStreamedToTheRequester) {
  Requester requester;
  ASSERT_FALSE(Browse("lib", false, nullptr, nullptr, requester).IsError());
  EXPECT_EQ((std::vector<std::string>{"I:0:...x:5", "I:0:a.txt:3", "I:1:sub:0", "C:3", "E:0"}), requester.Records());
  Requester empty;
  ASSERT_FALSE(Browse("empty", false, nullptr, nullptr, empty).IsError());
  EXPECT_EQ(std::vector<std::string>{"E:0"}, empty.Records());  // no count record without items
}

TEST_F(BrowseDownloadTest, BrowseFailures) {
  App::GenericResp generic;
  {
    // The client's failure: its text for the requester, the link kept.
    App::MachineBrowseResp resp;
    Requester requester;
    CWqError result = Browse("missing", true, &resp, &generic, requester);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
    EXPECT_EQ(std::strerror(ENOENT), resp.lastErrorEnglish());
    EXPECT_TRUE(handle->instance()->isConnected());
    Requester streamed;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(Browse("missing", false, nullptr, nullptr, streamed), EPROTO));
    // Not 0: the requester must not take a failed listing for an empty folder.
    EXPECT_EQ(std::vector<std::string>{"E:71"}, streamed.Records());
  }
  {
    // A null path, or a response without its generic answer: nothing is sent.
    const size_t before = daemon.GetRequests().size();
    Requester requester;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(handle->machineBrowse(nullptr, requester.socket(), 1, 0, false, nullptr, nullptr,
                                                           nullptr),
                                     EINVAL));
    EXPECT_EQ(before, daemon.GetRequests().size());
  }
  {
    const size_t before = daemon.GetRequests().size();
    App::MachineBrowseResp resp;
    Requester requester;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(Browse("lib", true, &resp, nullptr, requester), EINVAL));
    EXPECT_TRUE(handle->instance()->isConnected());
    EXPECT_EQ(before, daemon.GetRequests().size());
  }
  {
    // An answer of another type: EPROTO with its number, and the link closed.
    daemon.ScriptNext(CLIENT_BROWSE_REQ_MSG, SimScript().Reply(Empty(GOOD_EOF_MSG)));
    App::MachineBrowseResp resp;
    Requester requester;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(Browse("lib", true, &resp, &generic, requester), EPROTO));
    EXPECT_EQ("Unexpected message [32779] from client.", resp.lastErrorEnglish());
    EXPECT_FALSE(handle->instance()->isConnected());
    EXPECT_TRUE(FXErrorUtil::IsWin32(Browse("lib", true, &resp, &generic, requester), 2250));
  }
}

TEST_F(BrowseDownloadTest, BrowseTimeOutStillEndsTheStream) {
  daemon.ScriptNext(CLIENT_BROWSE_REQ_MSG, SimScript().Silent(1500));
  Requester requester;
  CWqError result = Browse("lib", false, nullptr, nullptr, requester);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_EQ(std::vector<std::string>{"E:62"}, requester.Records());
  EXPECT_FALSE(handle->instance()->isConnected());
}

// Resident memory of this process, in KiB: now, and the peak since the last
// ResetPeakKiB.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, std::strlen(field), field) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}
bool ResetPeakKiB() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

// A long listing costs at most three times the reply's size in either mode:
// no object per entry, neither in decoding the reply nor in the response.
TEST_F(BrowseDownloadTest, LongListingPeaksWithinThreeTimesTheReply) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own memory hides the browse's";
#endif
  SetTimeout("TIMEOUT_BROWSE_REPLY", 30);
  const size_t entries = 50000;
  const long replyKiB = static_cast<long>(daemon.SetGeneratedListing(entries) / 1024);
  ASSERT_GT(replyKiB, 1000);
  for (bool response : {false, true}) {
    SCOPED_TRACE(response ? "response" : "stream");
    App::MachineBrowseResp resp;
    App::GenericResp generic;
    Requester requester(true, false);
    ::malloc_trim(0);
    const long before = StatusKiB("VmRSS:");
    if (!ResetPeakKiB()) GTEST_SKIP() << "no way to reset the peak resident size";
    ASSERT_FALSE(Browse("/", response, &resp, &generic, requester).IsError());
    const long growth = StatusKiB("VmHWM:") - before;
    EXPECT_LE(growth, 3 * replyKiB) << "KiB: peak growth " << growth << ", reply " << replyKiB;
    if (response) {
      std::vector<CNMessageBase>* items = resp.getlistobject(2, 5, 0, 0, false);
      ASSERT_NE(nullptr, items);
      ASSERT_EQ(entries, items->size());
      EXPECT_EQ("entry-49999xxxxxxxxx", items->back().getstring(5));
    } else {
      EXPECT_EQ((std::vector<std::string>{"C:" + std::to_string(entries), "E:0"}), requester.Records());
      EXPECT_EQ(entries, requester.ItemCount());
      EXPECT_EQ("entry-49999xxxxxxxxx", requester.LastItemName());
    }
  }
}

// A requester that stops reading: the write gives up after its time-out, the
// browse fails and its instance is free again. Before, the browse held the
// instance for good; the release thread, scanning under the cache lock, then
// waited for it, and so did every lookup of the process.
TEST_F(BrowseDownloadTest, RequesterThatStopsReading) {
  SetTimeout("TIMEOUT_REQUESTER_WRITE", 2);
  daemon.SetGeneratedListing(100000);  // some MiB: far more than the socket holds
  FillRecords(kClient + 1, "127.0.0.1", daemon.GetPort(), false);
  Requester stuck(false);
  std::atomic<bool> browsed{false};
  CWqError result;
  const auto start = std::chrono::steady_clock::now();
  std::thread browse([&] {
    result = Browse("/", false, nullptr, nullptr, stuck);
    browsed = true;
  });
  // The browse thread runs from here on: a failed check frees it and joins
  // before returning, so that no joinable thread is left behind.
  const bool pending = Eventually([&] { return stuck.Pending() > 0; });
  EXPECT_TRUE(pending);
  if (!pending) {
    stuck.Leave();
    browse.join();
    return;
  }
  // A second instance of the client dropped: the release thread wakes and
  // scans while the browse writes.
  ProxyServicesPtr second = ProxyServices::instanceForClient(kClient);
  EXPECT_TRUE(second);
  if (!second) {
    stuck.Leave();
    browse.join();
    return;
  }
  second.reset();
  std::atomic<bool> looked{false}, found{false};
  std::thread lookup([&] {
    found = ProxyServices::instanceForClient(kClient + 1) != nullptr;
    looked = true;
  });
  const bool ended = Eventually([&] { return browsed.load(); }, 10);
  if (!ended) stuck.Leave();  // frees the browse so that the test can end
  browse.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(ended);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_LT(seconds, 8.0);
  EXPECT_TRUE(Eventually([&] { return looked.load(); }, 3));
  lookup.join();
  EXPECT_TRUE(found);
  // The instance is usable again.
  daemon.SetGeneratedListing(0);
  Requester requester;
  EXPECT_FALSE(Browse("empty", false, nullptr, nullptr, requester).IsError());
  EXPECT_EQ(std::vector<std::string>{"E:0"}, requester.Records());
}

// A stream that cannot be written is no success.
TEST_F(BrowseDownloadTest, FailedStreamIsReported) {
  {
    Requester gone;
    gone.Leave();
    CWqError result = Browse("lib", false, nullptr, nullptr, gone);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPIPE)) << result.AsString();
  }
  {
    CWqSocket none;  // no requester socket at all
    std::string path = "lib";
    CWqError result = handle->machineBrowse(&path[0], none, 77, 0, false, nullptr, nullptr, nullptr);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EBADF)) << result.AsString();
  }
  EXPECT_TRUE(handle->instance()->isConnected());
}

TEST_F(BrowseDownloadTest, LogFiles) {
  ASSERT_TRUE(CWqDirectory::Create(root + "/logs", true));
  std::string big(150000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13);
  WriteFile(root + "/logs/agent.log", big);
  WriteFile(root + "/logs/job.log", "job\n");
  daemon.SetLogFolder(root + "/logs");
  const std::string dest = root + "/out/logs";  // made on the first file
  WriteFile(root + "/stale", "");
  ASSERT_FALSE(handle->downloadLogFiles(dest, 0x100000007ul).IsError());
  EXPECT_EQ(std::vector<std::string>{"7,0"}, daemon.GetLogRequests());  // the low 32 bits only
  EXPECT_TRUE(big == ReadAll(dest + "/agent.log"));
  EXPECT_EQ("job\n", ReadAll(dest + "/job.log"));
  EXPECT_EQ(1u, LogCount("All done"));

  // Nothing to send: no file, success.
  daemon.SetLogFolder(root + "/none");
  ASSERT_FALSE(handle->downloadLogFiles(root + "/out/none", 1).IsError());
  EXPECT_FALSE(FXPath::DoesPathExist(root + "/out/none"));
}

TEST_F(BrowseDownloadTest, LogFileSequences) {
  const std::string dest = root + "/seq";
  ASSERT_TRUE(CWqDirectory::Create(dest, true));
  WriteFile(dest + "/a", "old content that is longer");
  daemon.ScriptNext(DOWNLOAD_LOG_FILE_MSG, SimScript()
                                               .Reply(Blob(FILE_HEADER_MSG, "a"))
                                               .Reply(Blob(FILE_DATA_MSG, "111"))
                                               .Reply(Blob(FILE_HEADER_MSG, "a"))
                                               .Reply(Blob(FILE_DATA_MSG, "22"))
                                               .Reply(Empty(GOOD_EOF_MSG))
                                               .Reply(Blob(FILE_HEADER_MSG, "sub/b.log"))
                                               .Reply(Blob(FILE_DATA_MSG, "b"))
                                               .Reply(Empty(JOB_COMPLETE_MSG)));
  ASSERT_FALSE(handle->downloadLogFiles(dest, 1).IsError());
  EXPECT_EQ("22", ReadAll(dest + "/a"));  // replaced, the second header's bytes only
  EXPECT_EQ("b", ReadAll(dest + "/sub/b.log"));
  EXPECT_EQ(1u, LogCount(dest + "/a:unknown message:32779"));
  EXPECT_EQ(std::vector<std::string>({"a", "sub"}), Names(dest));  // no temporary left
  EXPECT_TRUE(handle->instance()->isConnected());

  // The client reports one file failed: it is dropped, the others come, the call fails.
  WriteFile(dest + "/c", "older");
  daemon.ScriptNext(DOWNLOAD_LOG_FILE_MSG, SimScript()
                                               .Reply(Blob(FILE_HEADER_MSG, "c"))
                                               .Reply(Blob(FILE_DATA_MSG, "cut"))
                                               .Reply(std::make_shared<ClBadEofMsg>("disk error"))
                                               .Reply(Blob(FILE_DATA_MSG, "more of c"))
                                               .Reply(Blob(FILE_HEADER_MSG, "d"))
                                               .Reply(Blob(FILE_DATA_MSG, "dd"))
                                               .Reply(Empty(JOB_COMPLETE_MSG)));
  CWqError result = handle->downloadLogFiles(dest, 1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EIO)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("disk error"));
  EXPECT_EQ("older", ReadAll(dest + "/c"));
  EXPECT_EQ("dd", ReadAll(dest + "/d"));
  EXPECT_EQ(std::vector<std::string>({"a", "c", "d", "sub"}), Names(dest));
  EXPECT_TRUE(handle->instance()->isConnected());
}

// Transfers that are cut: the link closes, complete files stay, an older
// file of the cut one's name is left as it was, no temporary remains.
TEST_F(BrowseDownloadTest, CutLogTransfers) {
  const std::string dest = root + "/cut";
  ASSERT_TRUE(CWqDirectory::Create(dest, true));
  WriteFile(dest + "/b", "older b");
  WriteFile(dest + "/plain", "");
  // Links inside the destination lead out of it; none may be followed.
  ASSERT_TRUE(CWqDirectory::Create(root + "/outside", true));
  WriteFile(root + "/outside-file", "outside");
  ASSERT_EQ(0, ::symlink((root + "/outside").c_str(), (dest + "/logs").c_str()));
  ASSERT_EQ(0, ::symlink((root + "/outside-file").c_str(), (dest + "/linkfile").c_str()));
  ASSERT_EQ(0, ::symlink((root + "/nowhere").c_str(), (dest + "/dangling").c_str()));
  const struct {
    const char* name;
    SimScript script;
    int errNo;
  } cases[] = {
      {"data before any header", SimScript().Reply(Blob(FILE_DATA_MSG, "lost")), EPROTO},
      {"a name with ..", SimScript().Reply(Blob(FILE_HEADER_MSG, "../escape")), EPROTO},
      {"an absolute name", SimScript().Reply(Blob(FILE_HEADER_MSG, "/tmp/abs")), EPROTO},
      {"an empty name", SimScript().Reply(Blob(FILE_HEADER_MSG, "")), EPROTO},
      {"a name climbing out", SimScript().Reply(Blob(FILE_HEADER_MSG, "a/../../b")), EPROTO},
      {"an embedded NUL", SimScript().Reply(Blob(FILE_HEADER_MSG, std::string("a\0b", 3))), EPROTO},
      {"a parent that is a regular file", SimScript().Reply(Blob(FILE_HEADER_MSG, "plain/x")), -1},
      {"a link to a folder", SimScript().Reply(Blob(FILE_HEADER_MSG, "logs/planted.txt")).Reply(Blob(FILE_DATA_MSG, "x")),
       EPROTO},
      {"a link to a file", SimScript().Reply(Blob(FILE_HEADER_MSG, "linkfile")).Reply(Blob(FILE_DATA_MSG, "x")),
       EPROTO},
      {"a dangling link", SimScript().Reply(Blob(FILE_HEADER_MSG, "dangling")).Reply(Blob(FILE_DATA_MSG, "x")), EPROTO},
      {"a folder under a dangling link", SimScript().Reply(Blob(FILE_HEADER_MSG, "dangling/x")), EPROTO},
      {"a whole file",
       SimScript().Reply(Blob(FILE_HEADER_MSG, "a")).Reply(Blob(FILE_DATA_MSG, "ok")).Reply(Empty(JOB_COMPLETE_MSG)),
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(ReconnectIfClosed(handle));
    SimScript script = c.script;
    daemon.ScriptNext(DOWNLOAD_LOG_FILE_MSG, script);
    CWqError result = handle->downloadLogFiles(dest, 1);
    if (c.errNo) {
      if (c.errNo > 0) {
        EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
      }
      EXPECT_TRUE(result.IsError());
      EXPECT_FALSE(handle->instance()->isConnected());
    } else {
      EXPECT_FALSE(result.IsError()) << result.AsString();
    }
  }
  daemon.ScriptNext(DOWNLOAD_LOG_FILE_MSG,
                    SimScript().Reply(Blob(FILE_HEADER_MSG, "b")).Reply(Blob(FILE_DATA_MSG, "new")).Silent(1500));
  CWqError result = handle->downloadLogFiles(dest, 1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_EQ("older b", ReadAll(dest + "/b"));
  EXPECT_EQ("ok", ReadAll(dest + "/a"));
  EXPECT_FALSE(FXPath::DoesPathExist(root + "/escape"));
  EXPECT_EQ(std::vector<std::string>({"a", "b", "dangling", "linkfile", "logs", "plain"}), Names(dest));
  EXPECT_EQ(std::vector<std::string>{}, Names(root + "/outside"));
  EXPECT_EQ("outside", ReadAll(root + "/outside-file"));
  EXPECT_FALSE(FXPath::DoesPathExist(root + "/nowhere"));
}

// Names up to the file system's limit of 255 bytes arrive whole; a longer
// one fails without leaving anything behind.
TEST_F(BrowseDownloadTest, LongLogFileNames) {
  const std::string dest = root + "/long";
  const struct {
    std::string name;
    int errNo;
  } cases[] = {
      {std::string(237, 'a'), 0},
      {std::string(238, 'b'), 0},
      {std::string(255, 'c'), 0},
      {"sub/" + std::string(255, 'd'), 0},
      {std::string(256, 'e'), ENAMETOOLONG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size());
    ASSERT_NO_FATAL_FAILURE(ReconnectIfClosed(handle));
    daemon.ScriptNext(DOWNLOAD_LOG_FILE_MSG, SimScript()
                                                 .Reply(Blob(FILE_HEADER_MSG, c.name))
                                                 .Reply(Blob(FILE_DATA_MSG, "long"))
                                                 .Reply(Empty(JOB_COMPLETE_MSG)));
    CWqError result = handle->downloadLogFiles(dest, 1);
    if (c.errNo) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
    } else {
      EXPECT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ("long", ReadAll(dest + "/" + c.name));
    }
  }
  EXPECT_EQ(std::vector<std::string>({std::string(237, 'a'), std::string(238, 'b'), std::string(255, 'c'), "sub"}),
            Names(dest));
  EXPECT_EQ(std::vector<std::string>{std::string(255, 'd')}, Names(dest + "/sub"));
}

TEST_F(BrowseDownloadTest, DirChangeFile) {
  WriteFile(root + "/dc.txt", "D\t0\t1\t/lib\n");
  daemon.SetDirChangeFile(root + "/dc.txt");
  const std::string dest = root + "/jobs/1001/dirChange.tmp";  // its folder is made
  ASSERT_FALSE(handle->downloadDirChangeFile(dest, 2, 10, 1001).IsError());
  EXPECT_EQ("D\t0\t1\t/lib\n", ReadAll(dest));
  EXPECT_EQ(1u, LogCount("Dir Change file download completed."));

  // Several headers: only what follows the last one remains.
  daemon.ScriptNext(DOWNLOAD_DIR_CHANGE_FILE_MSG, SimScript()
                                                      .Reply(Blob(FILE_HEADER_MSG, "x"))
                                                      .Reply(Blob(FILE_DATA_MSG, "first"))
                                                      .Reply(Blob(FILE_HEADER_MSG, "y"))
                                                      .Reply(Blob(FILE_DATA_MSG, "second"))
                                                      .Reply(Empty(JOB_COMPLETE_MSG)));
  ASSERT_FALSE(handle->downloadDirChangeFile(dest, 2, 10, 1001).IsError());
  EXPECT_EQ("second", ReadAll(dest));

  daemon.SetDirChangeFile(root + "/absent");
  CWqError result = handle->downloadDirChangeFile(dest, 2, 10, 1001);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOENT)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("DCTmp was found missing in Client"));
  EXPECT_EQ(1u, LogCount("Client failed to send DCTmp file"));
  EXPECT_TRUE(handle->instance()->isConnected());

  // The end with no file is no success either; the caller's path is untouched.
  daemon.ScriptNext(DOWNLOAD_DIR_CHANGE_FILE_MSG, SimScript().Reply(Empty(JOB_COMPLETE_MSG)));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(handle->downloadDirChangeFile(dest, 2, 10, 1001), ENOENT));
  EXPECT_EQ("second", ReadAll(dest));

  // The client stops sending: the time-out, the earlier file left whole, the link closed.
  daemon.ScriptNext(DOWNLOAD_DIR_CHANGE_FILE_MSG,
                    SimScript().Reply(Blob(FILE_HEADER_MSG, "x")).Reply(Blob(FILE_DATA_MSG, "part")).Silent(1500));
  result = handle->downloadDirChangeFile(dest, 2, 10, 1001);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_EQ("second", ReadAll(dest));
  EXPECT_EQ(std::vector<std::string>({"dirChange.tmp"}), Names(root + "/jobs/1001"));
  EXPECT_FALSE(handle->instance()->isConnected());
  EXPECT_TRUE(FXErrorUtil::IsWin32(handle->downloadDirChangeFile(dest, 2, 10, 1001), 2250));
}

// A write the file-size limit stops (CI runs as root, so no permission trick
// can fail a write): the download fails with EFBIG and cuts the link, the
// older file stays and no temporary remains. The limit is set in a forked
// child so that it touches nothing else; the child is forked, not started
// anew, because under qemu the test binary cannot exec itself. CTest runs
// each test in a process of its own, so no other thread is running.
void DownloadUnderASizeLimit(const std::string& dest) {
  const rlimit limit = {1024, 1024};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, SIG_IGN);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::_Exit(2);
  std::string stream;
  auto frame = [&stream](uint16_t type, const std::string& payload) {
    uint8_t head[ClProxyWire::kHeaderSize];
    ClProxyWire::EncodeHeader(type, static_cast<uint32_t>(payload.size()), head);
    stream.append(reinterpret_cast<const char*>(head), sizeof head).append(payload);
  };
  frame(FILE_HEADER_MSG, "big");
  for (int i = 0; i < 4; ++i) frame(FILE_DATA_MSG, std::string(4096, 'x'));
  frame(JOB_COMPLETE_MSG, "");
  if (::write(pair[1], stream.data(), stream.size()) != static_cast<ssize_t>(stream.size())) std::_Exit(3);
  ::close(pair[1]);
  ClProxyConnection link;
  if (link.getConnectionSocket().AttachConnectedSocket(CWqSocketDescriptor(pair[0])).IsError()) std::_Exit(4);
  bool cut = false;
  const CWqError result = ReceiveDownload(link, true, dest, [&cut] { cut = true; });
  std::fprintf(stderr, "%s\n", result.AsString().c_str());
  std::_Exit(FXErrorUtil::IsErrNo(result, EFBIG) && cut ? 0 : 1);
}

TEST(DownloadLimitTest, AWriteStoppedByTheFileSizeLimit) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string root = MakeScratchFolder("proxy-services-limit-");
  ASSERT_FALSE(root.empty());
  WriteFile(root + "/big", "older big");
  EXPECT_EXIT(DownloadUnderASizeLimit(root), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ("older big", ReadAll(root + "/big"));
  EXPECT_EQ(std::vector<std::string>({"big"}), Names(root));
  RemoveScratchFolder(root);
}

TEST(EvRestoreReturnTest, ConstructionAndSourcePath) {
  EvRestoreReturn stream(77, 1025, true, nullptr, nullptr);
  EXPECT_EQ(1004ul, stream.code());
  EXPECT_EQ(77, stream.sequence());
  EXPECT_EQ(1025, stream.type());
  EXPECT_EQ(0, stream.itemCount());
  EXPECT_STREQ("", stream.sourcePath());
  for (size_t length : {0u, 1023u, 1024u, 3000u}) {
    stream.setSourcePath(std::string(length, 'p').c_str());
    EXPECT_EQ(std::min<size_t>(length, 1023), std::strlen(stream.sourcePath())) << length;
  }
}

}  // namespace
