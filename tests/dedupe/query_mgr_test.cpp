// The signature-query manager over loopback against the scripted query
// client: its edge cases as one table, a client leaving mid-batch, the
// accept retries and the stop.
#include <chrono>
#include <thread>

#include "DedupeTestUtil.h"

namespace dedupetest {
namespace {

class QueryMgrTest : public DedupeTest {
 protected:
  // Starts the manager; its port in `port`.
  void Start(CLProxyDedupeQueryMgr& mgr, unsigned int& port) {
    _stSQueryInitParameters params = Params();
    CWqError result = mgr.Initialize(kJob, kArchiveFileId, kSignatureScheme, params, port);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    ASSERT_NE(0u, port);
  }
};

struct Row {
  const char* name;
  SignatureQueryScript module;
  std::vector<std::shared_ptr<ClProxyMsg>> sent;
  std::vector<int> replies;  // see Replies()
  uint32_t pending;
  size_t stored;
  bool listenerEnds;
  const char* logLine;  // a line that must be logged, or null
  int receiveWait;      // the receive wait's seconds (0: no limit)
};

SignatureQueryScript Held(uint32_t held, uint32_t drop = 0) {
  SignatureQueryScript script;
  script.heldBack = held;
  script.dropOnWait = drop;
  return script;
}

SignatureQueryScript FailQuery() {
  SignatureQueryScript script;
  script.failQuery = true;
  return script;
}

TEST_F(QueryMgrTest, EdgeCases) {
  using Q = SimQueryClient;
  const std::vector<Row> rows = {
      {"answers in part: two now, the third on the result request", Held(1),
       {Q::Query({1, 2, 3}, {}), Q::ResultRequest()}, {2, 1}, 0, 3, false, nullptr, 0},
      {"a result request with nothing pending gets no reply", Held(0),
       {Q::ResultRequest(), Q::Query({4}, {})}, {1}, 0, 1, false, nullptr, 0},
      {"nothing ready: no reply to the batch, all of it on request", Held(2),
       {Q::Query({1, 2}, {}), Q::ResultRequest()}, {2}, 0, 2, false, nullptr, 0},
      {"an empty list is refused with DISCONNECT_MSG and the listener goes on", Held(0),
       {Q::Query(std::vector<uint32_t>{}, {}), Q::Query({5}, {})}, {-1, 1}, 0, 1, false,
       "BKPAPI:error while processing message type 4D", 0},
      {"STREAM_STOP_MSG ends the stream without a reply", Held(0),
       {Q::Query({1}, {}), Q::Empty(STREAM_STOP_MSG)}, {1}, 0, 1, true,
       "BKPAPI:stream will be stopped due to message 26", 0},
      {"JOB_COMPLETE_MSG ends the stream without a reply", Held(0),
       {Q::Empty(JOB_COMPLETE_MSG)}, {}, 0, 0, true, "BKPAPI:stream will be stopped due to message 8006", 0},
      {"DISCONNECT_MSG ends the stream without a reply", Held(0),
       {Q::Empty(DISCONNECT_MSG)}, {}, 0, 0, true, "BKPAPI:stream will be stopped due to message 8007", 0},
      {"another type is not answered and the listener goes on", Held(0),
       {Q::Empty(GOOD_EOF_MSG), Q::Empty(COLLECT_FILE_REQUEST_MSG), Q::Query({6}, {})}, {1}, 0, 1, false, nullptr,
       0},
      {"a wait for all short of answers: what came is kept and counted, DISCONNECT_MSG", Held(2, 1),
       {Q::Query({1, 2, 3}, {}), Q::ResultRequest()}, {1, -1}, 1, 2, false,
       "[ERROR] [Expected  2] [recieved - 1] signatures", 0},
      {"a refused batch keeps its queries pending", FailQuery(),
       {Q::Query({1, 2}, {})}, {-1}, 2, 0, false, "[ERROR] QuerySignaturesAsync Failed [7]", 0},
      {"ten receive time-outs end the listener", Held(0), {}, {}, 0, 0, true,
       "BKPAPI:timeout while waiting for client message", -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SignatureQueryScript::Reset();
    SignatureQueryScript::Set(row.module);
    CLProxyDedupeQueryMgr::SetReceiveWaitSeconds(row.receiveWait);
    log.Clear();
    CLProxyDedupeQueryMgr mgr;
    unsigned int port = 0;
    Start(mgr, port);
    SimScript script;
    for (const std::shared_ptr<ClProxyMsg>& message : row.sent) script.Reply(message);
    SimQueryClient client;
    ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), script).IsError());
    ASSERT_TRUE(client.WaitReceived(row.replies.size(), 10));
    if (row.listenerEnds) {
      EXPECT_TRUE(WaitUntil([&] { return !mgr.ListenerRunning(); }));
    } else {
      EXPECT_TRUE(mgr.ListenerRunning());
    }
    EXPECT_EQ(row.replies, Replies(client.Record()));
    EXPECT_EQ(row.pending, mgr.PendingCount());
    EXPECT_EQ(row.stored, mgr.StoredAnswerCount());
    if (row.logLine) {
      EXPECT_TRUE(log.Has(row.logLine)) << row.logLine;
    }
    mgr.Uninitialize();
    EXPECT_EQ(0, SignatureQueryScript::LiveModules());
    EXPECT_EQ(0, SignatureQueryScript::UsesAfterShutdown());
    EXPECT_TRUE(client.WaitFinished(10));
  }
}

TEST_F(QueryMgrTest, AQueryOfAnotherClassIsRefused) {
  CLProxyDedupeQueryMgr mgr;
  ClEmptyMsg wrong(PREPIPELINE_DEDUPE_QUERY_MSG);
  ClProxyMsg* reply = nullptr;
  CWqError result = mgr.processMessage(&wrong, reply);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774));
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Unexpected message[77]"));
  EXPECT_EQ(nullptr, reply);
  EXPECT_EQ(0u, mgr.PendingCount());
}

TEST_F(QueryMgrTest, RequestsCarryTheQueryAndTheTimeOfTheirMaking) {
  // The answers carry the request's primary record, so it can be read back.
  CLProxyDedupeQueryMgr mgr;
  _PrePipelineDedupe_Query query;
  for (int i = 0; i < 64; ++i) query.signature[i] = static_cast<uint8_t>(i * 3);
  query.uValue68 = 68;
  query.ullValue72 = 0x7272727272ull;
  query.ullValue80 = 0x1234567800000080ull;
  query.uUniqueId = 88;
  COBPrePipelineDedupeQueryMsg message({query});
  ClProxyMsg* reply = nullptr;
  const int64_t before = FXTime();
  ASSERT_FALSE(mgr.processMessage(&message, reply).IsError());
  const int64_t after = FXTime();
  std::unique_ptr<ClProxyMsg> owned(reply);
  ASSERT_NE(nullptr, reply);
  SIDBQueryAndInsertSignaturesResponseParam answer;
  ASSERT_TRUE(mgr.GetQueryRespParam(88, answer));
  EXPECT_EQ(0, std::memcmp(query.signature, answer.primary.signature, 64));
  EXPECT_EQ(68u, answer.primary.uFromQuery68);
  EXPECT_EQ(0x7272727272ull, answer.primary.ullFromQuery72);
  EXPECT_EQ(0x80u, answer.primary.uFromQuery80);
  EXPECT_EQ(0x40u, answer.primary.uFlags);
  EXPECT_GE(answer.primary.uTime, static_cast<uint32_t>(before));
  EXPECT_LE(answer.primary.uTime, static_cast<uint32_t>(after));
  mgr.Uninitialize();
}

TEST_F(QueryMgrTest, AnIdStoredTwiceIsHandedOutEarlierFirst) {
  SignatureQueryScript script;
  script.repeatFirst = true;
  SignatureQueryScript::Set(script);
  CLProxyDedupeQueryMgr mgr;
  ClProxyMsg* reply = nullptr;
  std::shared_ptr<ClProxyMsg> first = SimQueryClient::Query({5}, {100});
  ASSERT_FALSE(mgr.processMessage(first.get(), reply).IsError());
  delete reply;
  EXPECT_EQ(2u, mgr.StoredAnswerCount());
  EXPECT_EQ(0u, mgr.PendingCount());  // one query, two answers: never below 0
  SIDBQueryAndInsertSignaturesResponseParam answer;
  EXPECT_TRUE(mgr.GetQueryRespParam(5, answer));
  EXPECT_TRUE(mgr.GetQueryRespParam(5, answer));
  EXPECT_FALSE(mgr.GetQueryRespParam(5, answer));
  EXPECT_TRUE(log.Has("[ERROR] Signature not found in the resp-list [UniqueID - 5]"));
  mgr.Uninitialize();
}

TEST_F(QueryMgrTest, AClientLeavingMidBatchEndsTheListener) {
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  // A query frame cut after its header: the client then goes away.
  std::vector<uint8_t> frame(12);
  ClProxyWire::PutU32(frame.data(), 0x50584D31);
  ClProxyWire::PutU32(frame.data() + 4, static_cast<uint32_t>(PREPIPELINE_DEDUPE_QUERY_MSG) << 16);
  ClProxyWire::PutU32(frame.data() + 8, 4 + 104 * 2);
  frame.insert(frame.end(), {0, 0, 0, 2});
  frame.insert(frame.end(), 50, 0xAB);
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), SimScript().SendRaw(frame).Close()).IsError());
  EXPECT_TRUE(WaitUntil([&] { return !mgr.ListenerRunning(); }));
  EXPECT_EQ(0u, mgr.PendingCount());
  EXPECT_TRUE(log.Has("BKPAPI:error detected while receiving message from client"));
  EXPECT_EQ(1u, log.Count("BKPAPI:failure while waiting for client message"));
  mgr.Uninitialize();
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
}

TEST_F(QueryMgrTest, AnAcceptWaitWithoutAConnectionIsTriedAgain) {
  CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(1);
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  ASSERT_TRUE(WaitUntil([&] { return log.Has("No connection from the client program yet [attempt 1 of 100]"); }));
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), SimScript().Reply(SimQueryClient::Query({1}, {}))).IsError());
  ASSERT_TRUE(client.WaitReceived(1, 10));
  EXPECT_EQ(std::vector<int>{1}, Replies(client.Record()));
  mgr.Uninitialize();
}

TEST_F(QueryMgrTest, UninitializeEndsTheAcceptWaitAtOnce) {
  CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(CLProxyDedupeQueryMgr::kDefaultAcceptWaitSeconds);
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  const auto start = std::chrono::steady_clock::now();
  mgr.Uninitialize();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(mgr.ListenerRunning());
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  mgr.Uninitialize();  // nothing more to do
}

TEST_F(QueryMgrTest, UninitializeWithASilentConnectedClient) {
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), SimScript().Reply(SimQueryClient::Query({1}, {}))).IsError());
  ASSERT_TRUE(client.WaitReceived(1, 10));
  const auto start = std::chrono::steady_clock::now();
  mgr.Uninitialize();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(mgr.ListenerRunning());
  EXPECT_FALSE(mgr.HasModule());
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_EQ(1, SignatureQueryScript::ModulesMade());
  EXPECT_TRUE(client.WaitFinished(10));  // the proxy closed the connection
}

TEST_F(QueryMgrTest, UninitializeFinishesTheMessageInHandFirst) {
  SignatureQueryScript script;
  script.heldBack = 2;
  script.holdUntilReleased = true;
  SignatureQueryScript::Set(script);
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port),
                            SimScript().Reply(SimQueryClient::Query({1, 2}, {})).Reply(SimQueryClient::ResultRequest()))
                   .IsError());
  // The listener is inside the module's wait for all, holding the message.
  ASSERT_TRUE(WaitUntil([] { return SignatureQueryScript::Waiting() == 1; }));
  std::thread stopper([&] { mgr.Uninitialize(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  SignatureQueryScript::ReleaseHeld();
  stopper.join();
  EXPECT_TRUE(client.WaitFinished(10));
  EXPECT_EQ(std::vector<int>{2}, Replies(client.Record()));
  EXPECT_EQ(2u, mgr.StoredAnswerCount());
  EXPECT_EQ(0u, mgr.PendingCount());
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_EQ(0, SignatureQueryScript::UsesAfterShutdown());
  EXPECT_EQ(1, SignatureQueryScript::ModulesMade());
}

TEST_F(QueryMgrTest, AModuleThatFailsItsInitIsReleasedAtOnce) {
  SignatureQueryScript script;
  script.failInit = true;
  SignatureQueryScript::Set(script);
  CLProxyDedupeQueryMgr mgr;
  _stSQueryInitParameters params = Params();
  unsigned int port = 0;
  CWqError result = mgr.Initialize(kJob, kArchiveFileId, kSignatureScheme, params, port);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774));
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("PrePipelineDedupQuery module initialization Failed"));
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_FALSE(mgr.ListenerRunning());

  // Handled without a thread: each query tries a new module and none stays.
  ClProxyMsg* reply = nullptr;
  std::shared_ptr<ClProxyMsg> query = SimQueryClient::Query({1}, {});
  CLProxyDedupeQueryMgr idle;
  result = idle.processMessage(query.get(), reply);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Initializing Signature-query module failed"));
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_FALSE(idle.HasModule());
}

}  // namespace
}  // namespace dedupetest
