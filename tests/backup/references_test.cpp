// Reference lists after each header and the reference-archive state that
// outlives the item that set it.
#include <list>
#include <string>
#include <vector>

#include "BackupTestUtil.h"

namespace backuptest {
namespace {

namespace sim = SimBackupProgram;

ClProxyFileHeader Flagged(const std::string& name, uint64_t flags) {
  ClProxyFileHeader header = FileHeader(name, 0);
  header.flags = flags;
  return header;
}

// One item as the client sends it: its header, then what follows it.
struct Item {
  ClProxyFileHeader header;
  std::vector<std::shared_ptr<ClProxyMsg>> after;  // lists or a failed file
};

// What the host sees after recvReferenceList for one item.
struct Seen {
  std::string result;  // "ok", "S<status>" or "X<errno>"
  std::list<std::string> references;
  std::string archive;
  bool referenceBackup;
  bool archiveKnown;
  bool operator==(const Seen& other) const {
    return result == other.result && references == other.references && archive == other.archive &&
           referenceBackup == other.referenceBackup && archiveKnown == other.archiveKnown;
  }
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  out << seen.result << " [";
  for (const std::string& reference : seen.references) out << reference << ",";
  return out << "] archive=" << seen.archive << " reference=" << seen.referenceBackup << " known=" << seen.archiveKnown;
}

std::shared_ptr<ClProxyMsg> List(const std::list<std::string>& references) { return sim::ReferenceList(references); }

class BackupReferencesTest : public BackupTest {
 protected:
  // Each item: its header, what follows, GOOD_EOF; then the statistics.
  // Without `complete` only the headers and what follows them: then silence.
  std::vector<Seen> Run(const std::vector<Item>& items, bool complete = true) {
    SimScript stream;
    for (const Item& item : items) {
      stream.Reply(sim::Header(item.header));
      for (const std::shared_ptr<ClProxyMsg>& message : item.after) stream.Reply(message);
      if (complete) stream.Reply(sim::GoodEof());
    }
    if (complete) stream.Reply(sim::Stats(static_cast<uint32_t>(items.size()), 0, 0));
    SimBackupProgram::Options options;
    options.sendControlPort = false;
    std::unique_ptr<TestBackup> phase = Started(sim::Scripted(stream, options), false);
    std::vector<Seen> seen;
    if (!phase) return seen;
    for (size_t i = 0; i < items.size(); ++i) {
      CWqError result = phase->recvNextFile();
      if (result.IsError()) {
        ADD_FAILURE() << "item " << i << ": " << result.AsString();
        break;
      }
      result = phase->recvReferenceList();
      Seen one{Describe(result), phase->m_references, phase->m_sRefArchiveName, phase->m_bReferenceBackup,
               phase->m_bRefArchiveKnown};
      seen.push_back(one);
      if (StatusOf(result) < 0) break;
      if (StatusOf(result) == 0) {
        EXPECT_EQ("E10", Drain(*phase)) << "item " << i;
      }
    }
    return seen;
  }

  static std::string Describe(const CWqError& result) {
    const int status = StatusOf(result);
    if (status == 0) return "ok";
    if (status > 0) return "S" + std::to_string(status);
    return FXErrorUtil::IsErrNo(result) ? "X" + std::to_string(FXErrorUtil::GetErrNo(result)) : "K";
  }

  static std::string Drain(TestBackup& phase) {
    char* buf = nullptr;
    unsigned int size = 0;
    CWqError result = phase.recvData(buf, size, nullptr, nullptr);
    std::free(buf);
    return "E" + std::to_string(StatusOf(result));
  }
};

TEST_F(BackupReferencesTest, ListsAndState) {
  const std::list<std::string> none;
  const struct {
    const char* name;
    std::vector<Item> items;
    std::vector<Seen> expected;
  } cases[] = {
      {"archive data without a reference archive: lists taken, state untouched",
       {{Flagged("/a", 0x42), {List({"a", "c"}), List({"b"}), List({})}}},
       {{"ok", {"a", "b", "c"}, "", false, false}}},
      {"a reference archive, then a reference into it, then a plain item",
       {{Flagged("/arch", 0x8042), {List({})}}, {Flagged("/r1", 0x8001), {}}, {Flagged("/p", 0x10), {}}},
       {{"ok", none, "/arch", false, true}, {"ok", none, "/arch", true, true}, {"ok", none, "/arch", true, true}}},
      {"0x8000 without a reference kind changes nothing",
       {{Flagged("/x", 0x8010), {}}},
       {{"ok", none, "", false, false}}},
      {"a new reference archive clears the reference state",
       {{Flagged("/a1", 0x8042), {List({})}}, {Flagged("/r", 0x8002), {}}, {Flagged("/a2", 0x8042), {List({"z"}), List({})}}},
       {{"ok", none, "/a1", false, true}, {"ok", none, "/a1", true, true}, {"ok", {"z"}, "/a2", false, true}}},
      {"an empty list first",
       {{Flagged("/a", 0x42), {List({})}}},
       {{"ok", none, "", false, false}}},
      {"unsorted lists end sorted, equal names kept",
       {{Flagged("/a", 0x42), {List({"m", "b", "x"}), List({"b", "a"}), List({})}}},
       {{"ok", {"a", "b", "b", "m", "x"}, "", false, false}}},
      // The client abandoned the item: status 8, the references so far stay.
      {"failed file in place of a list",
       {{Flagged("/a", 0x42), {List({"k"}), sim::FailedFile("/a", 5, "I/O error")}}},
       {{"S8", {"k"}, "", false, false}}},
  };
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  coretest::SetTimeout("TIMEOUT_FILE_DATA", 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, Run(c.items));
  }
}

TEST_F(BackupReferencesTest, FailuresOfTheListExchange) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  coretest::SetTimeout("TIMEOUT_FILE_DATA", 1);
  const struct {
    const char* name;
    std::shared_ptr<ClProxyMsg> after;
    std::string result;
    const char* line;
  } cases[] = {
      {"undecodable list", sim::Blob(REFOPTHDR2_MSG, {0, 0, 0, 9, 'a'}), "X14", "Failed deserialize message"},
      {"silence", nullptr, "X62", "Failed to receive message"},
      {"end of file where a list belongs", sim::GoodEof(), "X71", "Failed to receive message"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.Clear();
    Item item{Flagged("/a", 0x42), {}};
    if (c.after) item.after.push_back(c.after);
    const std::vector<Seen> seen = Run({item}, false);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(c.result, seen[0].result);
    EXPECT_TRUE(log.Has(c.line));
  }
}

// What one item may hold is bounded: at the bound the lists are taken, one
// over is EPROTO with nothing kept.
TEST_F(BackupReferencesTest, ReferenceCountBound) {
  const size_t bound = ProxyBackup::kMaxReferences;
  const std::list<std::string> most(bound - 1, std::string());
  const std::list<std::string> one(1, "r");
  const struct {
    const char* name;
    std::vector<std::shared_ptr<ClProxyMsg>> lists;
    const char* result;
    size_t kept;
  } cases[] = {
      {"at the bound over two lists", {List(most), List(one), List({})}, "ok", bound},
      {"one over in a third list", {List(most), List(one), List(one), List({})}, "X71", 0},
      {"one over in a single list", {List(std::list<std::string>(bound + 1))}, "X71", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.Clear();
    const std::vector<Seen> seen = Run({{Flagged("/lib/big", 0x42), c.lists}});
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(c.result, seen[0].result);
    EXPECT_EQ(c.kept, seen[0].references.size());
    if (c.kept == 0) {
      EXPECT_TRUE(log.Has("Reference list of [/lib/big] refused"));
    }
  }
}

// A failed file ends the item: the phase keeps the failed file's details and
// a header holding only its name.
TEST_F(BackupReferencesTest, FailedFileDetails) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  SimScript stream = SimScript().Reply(sim::Header(Flagged("/lib/a", 0x42))).Reply(sim::FailedFile("/lib/a", 13, "denied"));
  SimBackupProgram::Options options;
  options.sendControlPort = false;
  std::unique_ptr<TestBackup> phase = Started(sim::Scripted(stream, options), false);
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->recvNextFile().IsError());
  EXPECT_EQ(RECV_STATUS_FAILED_FILE, StatusOf(phase->recvReferenceList()));
  std::string name, text;
  int error = 0;
  phase->getFailedFile(name, error, text);
  EXPECT_EQ("/lib/a", name);
  EXPECT_EQ(13, error);
  EXPECT_EQ("denied", text);
  EXPECT_EQ("/lib/a", phase->getFileName());
  CXFileHeader cx;
  ASSERT_FALSE(phase->getCxHeader(cx).IsError());
  EXPECT_EQ(0u, cx.size);
  EXPECT_EQ(0u, cx.mode);
  EXPECT_TRUE(log.Has("Failed file, fileName=/lib/a, OS errno=13 (denied)"));
}

}  // namespace
}  // namespace backuptest
