// Restore from tape against "RST.EXE": the item cache per save command, the
// tape close, next-volume requests through the host's handler, and a whole
// tape restore.
#include <string>
#include <thread>
#include <vector>

#include "RestoreTestUtil.h"

namespace restoretest {
namespace {

SimRestoreProgram::Options Tape(uint32_t nextVolumeAfter = 0) {
  SimRestoreProgram::Options options;
  options.nextVolumeAfter = nextVolumeAfter;
  return options;
}

CWqError Item(ProxyRestore& restore, IBMiSAVCommandType type, const std::string& text,
              const std::list<std::string>& items = {"OBJ1"}) {
  return restore.tapeRestore({"LIB1"}, {"DEV1"}, {10, 20}, 7, type, text, items);
}

// The tape messages the program got as "type:text|text|..." each.
std::vector<std::string> TapeMessages(const SimConnectionRecord& record) {
  std::vector<std::string> out;
  for (const auto& data : SimRestoreProgram::TapeRestores(record)) {
    std::string line = std::to_string(static_cast<unsigned>(data->getCommandType())) + ":";
    bool first = true;
    for (const TapeRestoreData& item : data->getItems()) {
      line += (first ? "" : "|") + item.text;
      first = false;
    }
    out.push_back(line);
  }
  return out;
}

struct TapeRow {
  const char* name;
  std::function<CWqError(TestRestore&)> host;
  std::vector<std::string> messages;
  size_t closes;
};

TEST_F(RestoreTest, TapeCacheTable) {
  const std::vector<TapeRow> rows = {
      {"type 0 first, flushed by the close",
       [](TestRestore& r) {
         CWqError e = Item(r, IBMI_SAV_NONE, "a");
         return e.IsError() ? e : r.tapeClose();
       },
       {"0:a"},
       1},
      {"another type on an empty cache only switches",
       [](TestRestore& r) {
         CWqError e = Item(r, IBMI_SAV_SAVLIB, "a");
         if (!e.IsError()) e = Item(r, IBMI_SAV_SAVLIB, "b");
         return e.IsError() ? e : r.sendTapeRestoreCacheData();
       },
       {"1:a|b"},
       0},
      {"one message per run of equal types",
       [](TestRestore& r) {
         CWqError e;
         for (auto step : {std::make_pair(IBMI_SAV_SAVLIB, "a"), std::make_pair(IBMI_SAV_SAVLIB, "b"),
                           std::make_pair(IBMI_SAV_SAVOBJ, "c"), std::make_pair(IBMI_SAV_SAVLIB, "d")})
           if (!e.IsError()) e = Item(r, step.first, step.second);
         return e.IsError() ? e : r.tapeClose();
       },
       {"1:a|b", "2:c", "1:d"},
       1},
      {"empty cache: the close alone, an empty flush nothing",
       [](TestRestore& r) {
         CWqError e = r.sendTapeRestoreCacheData();
         return e.IsError() ? e : r.tapeClose();
       },
       {},
       1},
      {"a full cache is flushed and the item added again",
       [](TestRestore& r) {
         ClTapeRestoreDataMsg::SetCapacity(140);  // two items of 57 bytes after 16
         CWqError e;
         for (const char* text : {"a", "b", "c"})
           if (!e.IsError()) e = Item(r, IBMI_SAV_SAV, text);
         return e.IsError() ? e : r.tapeClose();
       },
       {"3:a|b", "3:c"},
       1},
  };
  size_t program = 0;
  for (const TapeRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Unscripted(Tape()));
    ASSERT_TRUE(phase);
    CWqError result = row.host(*phase);
    EXPECT_FALSE(result.IsError()) << result.AsString();
    result = phase->sendJobComplete();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    ClTapeRestoreDataMsg::SetCapacity(0);
    SimConnectionRecord record = Finish(phase, program++);
    EXPECT_EQ(row.messages, TapeMessages(record));
    EXPECT_EQ(row.closes, Count(record, TAPE_CLOSE_MSG));
  }
}

TEST_F(RestoreTest, TapeItemsJoinedAndTooBigRefused) {
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Unscripted(Tape()));
  ASSERT_TRUE(phase);
  ASSERT_FALSE(Item(*phase, IBMI_SAV_SAVOBJ, "x", {}).IsError());
  ASSERT_FALSE(Item(*phase, IBMI_SAV_SAVOBJ, "y", {"A", "B", "C"}).IsError());
  ClTapeRestoreDataMsg::SetCapacity(64);
  CWqError result = Item(*phase, IBMI_SAV_SAVOBJ, std::string(100, 'z'));
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 111)) << result.AsString();
  EXPECT_EQ(0u, phase->CachedTapeItems());  // the two before went out on the way
  ClTapeRestoreDataMsg::SetCapacity(0);
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  SimConnectionRecord record = Finish(phase);
  auto tapes = SimRestoreProgram::TapeRestores(record);
  ASSERT_EQ(1u, tapes.size());
  std::vector<std::string> joined;
  for (const TapeRestoreData& item : tapes[0]->getItems()) joined.push_back(item.items);
  EXPECT_EQ((std::vector<std::string>{"", "A:B:C"}), joined);
  EXPECT_EQ((std::vector<int64_t>{10, 20}), tapes[0]->getItems().front().offsets);
  EXPECT_EQ((std::vector<std::string>{"LIB1", "LIB1"}), tapes[0]->getNames1());
}

// The answer the program got to its next-volume request.
std::shared_ptr<ClProxyMsg> Answer(const SimConnectionRecord& record) {
  for (const auto& message : record.received)
    if (message->getMsgType() == TAPE_INFO_MSG || message->getMsgType() == BAD_EOF_MSG) return message;
  return nullptr;
}

TEST_F(RestoreTest, NextVolumeAnswers) {
  struct Row {
    const char* name;
    bool registered;
    CWqError handlerResult;
    ClProxyMsgType answer;
    const char* text;  // in the answer's BAD_EOF_MSG text
  };
  const std::vector<Row> rows = {
      {"no handler", false, CWqError(), BAD_EOF_MSG, "Handler is not set"},
      {"handler mounts", true, CWqError(), TAPE_INFO_MSG, ""},
      {"handler fails", true, FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "drive jammed"), BAD_EOF_MSG, "drive jammed"},
  };
  size_t program = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Unscripted(Tape(1)));
    ASSERT_TRUE(phase);
    ScriptedHandler handler;
    handler.result = row.handlerResult;
    handler.argumentName = "Mounted";
    handler.argumentValue = "VOL002";
    if (row.registered) phase->registerVTLDataHandler(&handler);
    ASSERT_FALSE(Item(*phase, IBMI_SAV_SAVLIB, "a").IsError());
    ASSERT_FALSE(phase->tapeClose().IsError());
    CWqError result = phase->sendJobComplete();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(row.registered ? 1 : 0, handler.calls.load());
    SimConnectionRecord record = Finish(phase, program++);
    std::shared_ptr<ClProxyMsg> answer = Answer(record);
    ASSERT_TRUE(answer);
    EXPECT_EQ(row.answer, answer->getMsgType());
    if (const ClBadEofMsg* bad = dynamic_cast<const ClBadEofMsg*>(answer.get())) {
      std::string text;
      bad->get(text);
      EXPECT_NE(std::string::npos, text.find(row.text)) << text;
      EXPECT_TRUE(log.Has("Error while processing next tape request"));
    }
    if (const ClTapeInfoMsg* info = dynamic_cast<const ClTapeInfoMsg*>(answer.get())) {
      std::string mounted;
      EXPECT_FALSE(info->getArgument("Mounted", mounted).IsError());
      EXPECT_EQ("VOL002", mounted);
      EXPECT_EQ("VOL002", info->currentTapeBarCode());
    }
    EXPECT_EQ(1u, Count(record, TAPE_INFO_MSG) + Count(record, BAD_EOF_MSG));
    log.Clear();
  }
}

TEST_F(RestoreTest, UnregisterWaitsForTheRequestInProgress) {
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Unscripted(Tape(1)));
  ASSERT_TRUE(phase);
  ScriptedHandler handler;
  handler.block = true;
  phase->registerVTLDataHandler(&handler);
  ASSERT_FALSE(Item(*phase, IBMI_SAV_SAVLIB, "a").IsError());
  ASSERT_FALSE(phase->sendTapeRestoreCacheData().IsError());
  ASSERT_TRUE(handler.WaitEntered());
  std::atomic<bool> unregistered{false};
  std::thread host([&] {
    phase->unRegisterVTLDataHandler();
    unregistered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(unregistered.load());  // still serving the request
  handler.Release();
  host.join();
  EXPECT_TRUE(unregistered.load());
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  SimConnectionRecord record = Finish(phase);
  std::shared_ptr<ClProxyMsg> answer = Answer(record);
  ASSERT_TRUE(answer);
  EXPECT_EQ(TAPE_INFO_MSG, answer->getMsgType());
}

TEST_F(RestoreTest, TapeRestoreEndToEnd) {
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Unscripted(Tape(3)));
  ASSERT_TRUE(phase);
  ScriptedHandler handler;
  phase->registerVTLDataHandler(&handler);
  ClTapeRestoreDataMsg::SetCapacity(200);
  std::vector<std::string> expected;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "/QSYS.LIB/L" + std::to_string(i) + ".LIB";
    expected.push_back(name);
    ASSERT_FALSE(Item(*phase, i < 6 ? IBMI_SAV_SAVLIB : IBMI_SAV_SAVOBJ, name).IsError());
    if (i == 5) {
      ASSERT_FALSE(phase->tapeClose().IsError());
    }
  }
  ASSERT_FALSE(phase->tapeClose().IsError());
  CWqError result = phase->sendJobComplete();
  EXPECT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(1, handler.calls.load());
  EXPECT_EQ("VOL002", handler.lastBarcode);
  std::vector<std::string> restored;
  std::string name, message;
  uint32_t status = 1;
  uint64_t value = 0;
  while (!phase->getFileRestoreStatusInfo(name, status, message, value).IsError()) {
    EXPECT_EQ(0u, status);
    EXPECT_EQ(7u, value);
    restored.push_back(name);
  }
  EXPECT_EQ(expected, restored);
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(0, record.failure.GetCode()) << record.failure.AsString();
  EXPECT_EQ(2u, Count(record, TAPE_CLOSE_MSG));
}

TEST_F(RestoreTest, MountRepliesRaceHostSends) {
  const int kRequests = 50;
  SimScript stream;
  for (int i = 0; i < kRequests; ++i) stream.Reply(SimRestoreProgram::TapeInfo("VOL" + std::to_string(i), "DRV"));
  SimRestoreProgram::Options options;
  options.answerJobComplete = true;
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(stream, options));
  ASSERT_TRUE(phase);
  ScriptedHandler handler;
  phase->registerVTLDataHandler(&handler);
  ClTapeRestoreDataMsg::SetCapacity(400);
  const int kItems = 600;
  for (int i = 0; i < kItems; ++i) {
    ASSERT_FALSE(Item(*phase, IBMI_SAV_SAVOBJ, std::string(100, static_cast<char>('a' + i % 26))).IsError());
    if (i % 50 == 49) {
      ASSERT_FALSE(phase->tapeClose().IsError());
    }
  }
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  EXPECT_EQ(kRequests, handler.calls.load());
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(0, record.failure.GetCode()) << record.failure.AsString();
  EXPECT_EQ(static_cast<size_t>(kRequests), Count(record, TAPE_INFO_MSG));
  size_t items = 0;
  for (const auto& data : SimRestoreProgram::TapeRestores(record)) {
    for (const TapeRestoreData& item : data->getItems()) {
      EXPECT_EQ(100u, item.text.size());
      ++items;
    }
  }
  EXPECT_EQ(static_cast<size_t>(kItems), items);
}

}  // namespace
}  // namespace restoretest
