// The signature-query manager over loopback against the scripted query
// client: its edge cases as one table, a client leaving mid-batch, the
// accept retries and the stop.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <future>
#include <thread>

#include "DedupeTestUtil.h"
#include "SimFrames.h"
#include "SimPeer.h"

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

  // Starts the manager and a client that sends `sent`; returns when the
  // client has received `replies` messages.
  void Converse(CLProxyDedupeQueryMgr& mgr, SimQueryClient& client,
                const std::vector<std::shared_ptr<ClProxyMsg>>& sent, size_t replies) {
    unsigned int port = 0;
    Start(mgr, port);
    if (HasFatalFailure()) return;
    SimScript script;
    for (const std::shared_ptr<ClProxyMsg>& message : sent) script.Reply(message);
    ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), script).IsError());
    ASSERT_TRUE(client.WaitReceived(replies, 10));
  }

  // Starts the manager with a module that holds its answers until
  // ReleaseHeld, and a client whose result request leaves the listener inside
  // the module's wait for all, holding the message.
  void StartInModuleWait(CLProxyDedupeQueryMgr& mgr, SimQueryClient& client) {
    SignatureQueryScript script;
    script.heldBack = 2;
    script.holdUntilReleased = true;
    SignatureQueryScript::Set(script);
    unsigned int port = 0;
    Start(mgr, port);
    ASSERT_FALSE(client
                     .Start(static_cast<uint16_t>(port), SimScript()
                                                             .Reply(SimQueryClient::Query({1, 2}, {}))
                                                             .Reply(SimQueryClient::ResultRequest()))
                     .IsError());
    ASSERT_TRUE(WaitUntil([] { return SignatureQueryScript::Waiting() == 1; }));
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
       {Q::Query({1, 2, 3}, {}), Q::ResultRequest()}, {2, 1}, 0, 3, false, nullptr},
      {"a result request with nothing pending gets no reply", Held(0),
       {Q::ResultRequest(), Q::Query({4}, {})}, {1}, 0, 1, false, nullptr},
      {"nothing ready: no reply to the batch, all of it on request", Held(2),
       {Q::Query({1, 2}, {}), Q::ResultRequest()}, {2}, 0, 2, false, nullptr},
      {"an empty list is refused with DISCONNECT_MSG and the listener goes on", Held(0),
       {Q::Query(std::vector<uint32_t>{}, {}), Q::Query({5}, {})}, {-1, 1}, 0, 1, false,
       "BKPAPI:error while processing message type 4D"},
      {"STREAM_STOP_MSG ends the stream without a reply", Held(0),
       {Q::Query({1}, {}), Q::Empty(STREAM_STOP_MSG)}, {1}, 0, 1, true,
       "BKPAPI:stream will be stopped due to message 26"},
      {"JOB_COMPLETE_MSG ends the stream without a reply", Held(0),
       {Q::Empty(JOB_COMPLETE_MSG)}, {}, 0, 0, true, "BKPAPI:stream will be stopped due to message 8006"},
      {"DISCONNECT_MSG ends the stream without a reply", Held(0),
       {Q::Empty(DISCONNECT_MSG)}, {}, 0, 0, true, "BKPAPI:stream will be stopped due to message 8007"},
      {"another type is not answered and the listener goes on", Held(0),
       {Q::Empty(GOOD_EOF_MSG), Q::Empty(COLLECT_FILE_REQUEST_MSG), Q::Query({6}, {})}, {1}, 0, 1, false, nullptr},
      {"a wait for all short of answers: what came is kept and counted, DISCONNECT_MSG", Held(2, 1),
       {Q::Query({1, 2, 3}, {}), Q::ResultRequest()}, {1, -1}, 1, 2, false,
       "[ERROR] [Expected  2] [recieved - 1] signatures"},
      {"a refused batch keeps its queries pending", FailQuery(),
       {Q::Query({1, 2}, {})}, {-1}, 2, 0, false, "[ERROR] QuerySignaturesAsync Failed [7]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SignatureQueryScript::Reset();
    SignatureQueryScript::Set(row.module);
    log.Clear();
    CLProxyDedupeQueryMgr mgr;
    SimQueryClient client;
    Converse(mgr, client, row.sent, row.replies.size());
    if (HasFatalFailure()) return;
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

// True when a whole frame (of up to 1 KiB) waits on `descriptor` within
// `seconds`; looks without taking it.
bool WholeFrameQueued(int descriptor, int seconds) {
  return WaitUntil(
      [descriptor] {
        uint8_t bytes[ClProxyWire::kHeaderSize + 1024];
        const ssize_t got = ::recv(descriptor, bytes, sizeof bytes, MSG_PEEK | MSG_DONTWAIT);
        ClProxyWire::FrameHeader header;
        if (got < static_cast<ssize_t>(ClProxyWire::kHeaderSize) || !ClProxyWire::DecodeHeader(bytes, header))
          return false;
        return static_cast<size_t>(got) >= ClProxyWire::kHeaderSize + header.length;
      },
      seconds);
}

// What the client sends once the listener has timed out `afterTimeout`
// times (counted over the whole connection): a message, or else raw bytes.
struct Interjection {
  int afterTimeout;
  std::shared_ptr<ClProxyMsg> message;
  std::vector<uint8_t> raw;
};

struct TimeoutRow {
  const char* name;
  std::vector<Interjection> sent;  // at most one after each time-out
  std::vector<int> counts;         // the budget's count at each time-out
  std::vector<size_t> stored;      // answers kept, seen at each time-out
  std::vector<int> replies;        // see Replies()
  size_t receiveErrors;
};

TEST_F(QueryMgrTest, ReceiveTimeOutsCountInAll) {
  using Q = SimQueryClient;
  std::vector<uint8_t> undecodable = {0, 0, 0, 2};  // two queries announced, 50 bytes given
  undecodable.resize(54, 0xAB);
  const std::vector<uint8_t> badQuery = SimFrames::Frame(PREPIPELINE_DEDUPE_QUERY_MSG, undecodable);
  const std::vector<int> tenInARow = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const std::vector<TimeoutRow> rows = {
      {"ten time-outs with nothing between end the listener", {}, tenInARow, std::vector<size_t>(10, 0), {}, 0},
      {"handled messages between them give none of the ten back",
       {{1, Q::Query({1}, {}), {}}, {5, Q::Query({2, 3}, {}), {}}, {9, Q::Query({4}, {}), {}}}, tenInARow,
       {0, 1, 1, 1, 1, 3, 3, 3, 3, 4}, {1, 2, 1}, 0},
      {"a receive error in between gives all ten back",
       {{4, nullptr, badQuery}, {7, Q::Query({1}, {}), {}}}, {1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1}, {1}, 1},
  };
  // Each receive takes only what has arrived: a time-out costs no time.
  CLProxyDedupeQueryMgr::SetReceiveWaitSeconds(-1);
  for (const TimeoutRow& row : rows) {
    SCOPED_TRACE(row.name);
    SignatureQueryScript::Reset();
    log.Clear();
    // The client sends each interjection when the listener's seam lets it.
    std::vector<std::promise<void>> release(row.sent.size());
    SimScript script;
    for (size_t i = 0; i < row.sent.size(); ++i) {
      std::shared_future<void> released = release[i].get_future().share();
      script.Call([released](SimPeer& peer) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (released.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
          if (peer.IsStopping() || std::chrono::steady_clock::now() > end)
            return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "the listener never timed out there");
        return CWqError::Success();
      });
      if (row.sent[i].message) script.Reply(row.sent[i].message);
      else script.SendRaw(row.sent[i].raw);
    }
    // Written on the listener thread, read after the join.
    std::vector<int> counts;
    std::vector<size_t> stored;
    size_t next = 0;
    bool allQueued = true;
    CLProxyDedupeQueryMgr mgr;
    mgr.SetReceiveTimeoutSeam([&](int timeouts, int descriptor) {
      counts.push_back(timeouts);
      stored.push_back(mgr.StoredAnswerCount());
      if (next < row.sent.size() && row.sent[next].afterTimeout == static_cast<int>(counts.size())) {
        release[next++].set_value();
        // Whole on the socket before the listener's next, instant, receive.
        allQueued = WholeFrameQueued(descriptor, 10) && allQueued;
      }
    });
    unsigned int port = 0;
    Start(mgr, port);
    if (HasFatalFailure()) return;
    SimQueryClient client;
    ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), script).IsError());
    EXPECT_TRUE(WaitUntil([&] { return !mgr.ListenerRunning(); }));
    mgr.Uninitialize();
    EXPECT_TRUE(allQueued);
    EXPECT_EQ(row.sent.size(), next);
    EXPECT_EQ(row.counts, counts);
    EXPECT_EQ(row.stored, stored);
    EXPECT_TRUE(client.WaitFinished(10));
    EXPECT_EQ(row.replies, Replies(client.Record()));
    EXPECT_EQ(1u, log.Count("BKPAPI:timeout while waiting for client message"));
    EXPECT_EQ(row.receiveErrors, log.Count("BKPAPI:error detected while receiving message from client"));
    EXPECT_EQ(0u, log.Count("BKPAPI:failure while waiting for client message"));
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
  // The module marks the repeat, so the order of the two shows.
  SIDBQueryAndInsertSignaturesResponseParam answer;
  EXPECT_TRUE(mgr.GetQueryRespParam(5, answer));
  EXPECT_EQ(0u, answer.uCarried216);
  EXPECT_TRUE(mgr.GetQueryRespParam(5, answer));
  EXPECT_EQ(1u, answer.uCarried216);
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

TEST_F(QueryMgrTest, ANonFrameLeavesTheDescriptorsOfOthersAlone) {
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  // A stray request that is no frame at all: the link is closed.
  const std::string http = "GET / HTTP/1.0\r\n\r\n";
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port),
                            SimScript().SendRaw(std::vector<uint8_t>(http.begin(), http.end())))
                   .IsError());
  ASSERT_TRUE(WaitUntil([&] { return !mgr.ListenerRunning(); }));
  EXPECT_TRUE(client.WaitFinished(10));
  // Unrelated links now take the lowest free numbers, the closed one's too.
  std::vector<std::array<int, 2>> pairs(8);
  for (std::array<int, 2>& pair : pairs) ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair.data()));
  mgr.Uninitialize();
  for (const std::array<int, 2>& pair : pairs) {
    for (int end = 0; end < 2; ++end) {
      char byte = 'x';
      EXPECT_EQ(1, ::send(pair[end], &byte, 1, MSG_NOSIGNAL)) << "descriptor " << pair[end] << ": " << errno;
      EXPECT_EQ(1, ::recv(pair[1 - end], &byte, 1, MSG_DONTWAIT)) << "descriptor " << pair[1 - end];
    }
    ::close(pair[0]);
    ::close(pair[1]);
  }
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
}

TEST_F(QueryMgrTest, UninitializeEndsAModuleWaitThatNeverReturns) {
  CLProxyDedupeQueryMgr mgr;
  SimQueryClient client;
  StartInModuleWait(mgr, client);  // never released below
  if (HasFatalFailure()) return;
  // A host lookup queued behind the listener's message.
  std::future<bool> lookup = std::async(std::launch::async, [&] {
    SIDBQueryAndInsertSignaturesResponseParam answer;
    return mgr.GetQueryRespParam(1, answer);
  });
  const auto start = std::chrono::steady_clock::now();
  std::future<void> stop = std::async(std::launch::async, [&] { mgr.Uninitialize(); });
  const bool stopped = stop.wait_for(std::chrono::seconds(6)) == std::future_status::ready;
  const auto took = std::chrono::steady_clock::now() - start;
  if (!stopped) SignatureQueryScript::ReleaseHeld();  // free the test, which has failed
  stop.wait();
  ASSERT_TRUE(stopped);
  EXPECT_LT(took, std::chrono::seconds(5));  // the 2 s grace, then some seconds on a loaded machine
  EXPECT_TRUE(log.Has("The message in hand did not finish within 2000 ms"));
  EXPECT_EQ(std::future_status::ready, lookup.wait_for(std::chrono::seconds(5)));
  EXPECT_FALSE(lookup.get());
  EXPECT_FALSE(mgr.ListenerRunning());
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_TRUE(client.WaitFinished(10));
}

struct BatchRow {
  const char* name;
  uint32_t perBatch;  // the configured signatures per batch (0: not configured)
  uint32_t size;
  bool refused;
};

TEST_F(QueryMgrTest, BatchesAboveTheConfiguredSizeAreRefused) {
  const uint32_t ceiling = CLProxyDedupeQueryMgr::kDefaultSignaturesPerBatch;
  const BatchRow rows[] = {
      {"at the configured size", 4, 4, false},
      {"one above the configured size", 4, 5, true},
      {"not configured: at the default ceiling", 0, ceiling, false},
      {"not configured: above the default ceiling", 0, ceiling + 1, true},
  };
  for (const BatchRow& row : rows) {
    SCOPED_TRACE(row.name);
    SignatureQueryScript::Reset();
    log.Clear();
    CLProxyDedupeQueryMgr mgr;
    mgr.SetSignaturesPerBatch(row.perBatch);
    std::vector<uint32_t> ids(row.size);
    for (uint32_t i = 0; i < row.size; ++i) ids[i] = i + 1;
    SimQueryClient client;
    Converse(mgr, client, {SimQueryClient::Query(ids, {}), SimQueryClient::Query({9999}, {})}, 2);
    if (HasFatalFailure()) return;
    const std::vector<int> expected = {row.refused ? -1 : static_cast<int>(row.size), 1};
    EXPECT_EQ(expected, Replies(client.Record()));
    EXPECT_EQ(0u, mgr.PendingCount());
    EXPECT_EQ(row.refused ? 1u : row.size + 1, mgr.StoredAnswerCount());
    EXPECT_EQ(row.refused, log.Has("signatures, above the"));
    EXPECT_TRUE(mgr.ListenerRunning());
    mgr.Uninitialize();
  }
}

// A batch of `count` queries with unique ids from `first` on; their
// signatures from `seed` on (0: the ids themselves).
std::shared_ptr<ClProxyMsg> Batch(uint32_t first, uint32_t count, uint32_t seed = 0) {
  std::vector<uint32_t> ids(count), seeds(count);
  for (uint32_t i = 0; i < count; ++i) {
    ids[i] = first + i;
    seeds[i] = (seed ? seed : first) + i;
  }
  return SimQueryClient::Query(ids, seeds);
}

struct LimitRow {
  const char* name;
  uint32_t held;  // answers of each batch the module holds back
  std::vector<std::shared_ptr<ClProxyMsg>> sent;
  std::vector<int> replies;  // see Replies()
  size_t stored;
  uint32_t pending;
  bool refused;
};

TEST_F(QueryMgrTest, KeptAnswersStopAtTheLimit) {
  // Batches of up to 4, at most 8 answers kept; a client that queries new
  // blocks and never sends them.
  const size_t limit = 8;
  const std::vector<LimitRow> rows = {
      {"at the limit: every batch answered", 0, {Batch(1, 4), Batch(5, 4)}, {4, 4}, 8, 0, false},
      {"one over the limit: refused, the link ended", 0, {Batch(1, 4), Batch(5, 4), Batch(9, 1)}, {4, 4, -1}, 8, 0,
       true},
      {"a batch that only partly fits is refused whole", 0, {Batch(1, 4), Batch(5, 3), Batch(8, 2)}, {4, 3, -1}, 7,
       0, true},
      {"found blocks keep no answer", 0, {Batch(1, 4), Batch(5, 4, 1), Batch(9, 4)}, {4, 4, 4}, 8, 0, false},
      {"answers still owed count as new", 4, {Batch(1, 4), Batch(5, 4), Batch(9, 1)}, {-1}, 0, 8, true},
  };
  for (const LimitRow& row : rows) {
    SCOPED_TRACE(row.name);
    SignatureQueryScript::Reset();
    SignatureQueryScript::Set(Held(row.held));
    log.Clear();
    CLProxyDedupeQueryMgr mgr;
    mgr.SetSignaturesPerBatch(4);
    mgr.SetStoredAnswerLimit(limit);
    SimQueryClient client;
    Converse(mgr, client, row.sent, row.replies.size());
    if (HasFatalFailure()) return;
    if (row.refused) {
      // The proxy ends the link: the client's wait for answers ends too.
      EXPECT_TRUE(client.WaitFinished(10));
      EXPECT_TRUE(WaitUntil([&] { return !mgr.ListenerRunning(); }));
    } else {
      EXPECT_TRUE(WaitUntil([&] { return mgr.PendingCount() == row.pending; }));
      EXPECT_TRUE(mgr.ListenerRunning());
    }
    EXPECT_EQ(row.replies, Replies(client.Record()));
    EXPECT_EQ(row.stored, mgr.StoredAnswerCount());
    EXPECT_EQ(row.pending, mgr.PendingCount());
    EXPECT_EQ(row.refused, log.Has("would pass the limit of 8 answers"));
    if (row.stored) {
      // What was kept stays for the blocks the host may still receive.
      SIDBQueryAndInsertSignaturesResponseParam answer;
      EXPECT_TRUE(mgr.GetQueryRespParam(1, answer));
    }
    mgr.Uninitialize();
    EXPECT_EQ(0, SignatureQueryScript::LiveModules());
    EXPECT_TRUE(client.WaitFinished(10));
  }
}

TEST_F(QueryMgrTest, AnswersTakenOutMakeRoomAgain) {
  CLProxyDedupeQueryMgr mgr;
  mgr.SetSignaturesPerBatch(4);
  mgr.SetStoredAnswerLimit(8);
  unsigned int port = 0;
  Start(mgr, port);
  std::promise<void> taken;
  std::shared_future<void> takenOut = taken.get_future().share();
  SimScript script;
  script.Reply(Batch(1, 4)).Reply(Batch(5, 4)).Call([takenOut](SimPeer&) {
    // The host has written the tags of the first batch's blocks.
    if (takenOut.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "the answers were not taken out");
    return CWqError::Success();
  });
  script.Reply(Batch(9, 4));
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), script).IsError());
  // The client reads its replies only after the pause.
  ASSERT_TRUE(WaitUntil([&] { return mgr.StoredAnswerCount() == 8; }));
  SIDBQueryAndInsertSignaturesResponseParam answer;
  for (uint32_t id = 1; id <= 4; ++id) EXPECT_TRUE(mgr.GetQueryRespParam(id, answer)) << id;
  taken.set_value();
  ASSERT_TRUE(client.WaitReceived(3, 10));
  EXPECT_EQ((std::vector<int>{4, 4, 4}), Replies(client.Record()));
  EXPECT_EQ(8u, mgr.StoredAnswerCount());
  EXPECT_TRUE(mgr.ListenerRunning());
  mgr.Uninitialize();
}

TEST_F(QueryMgrTest, ALargeBatchDoesNotKeepItsBuffers) {
  CLProxyDedupeQueryMgr mgr;
  std::vector<uint32_t> ids(3000);
  for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = i + 1;
  std::shared_ptr<ClProxyMsg> query = SimQueryClient::Query(ids, {});
  ClProxyMsg* reply = nullptr;
  ASSERT_FALSE(mgr.processMessage(query.get(), reply).IsError());
  delete reply;
  EXPECT_EQ(3000u, mgr.StoredAnswerCount());
  EXPECT_LE(mgr.RetainedBatchBytes(), CLProxyDedupeQueryMgr::kKeptBatchQueries *
                                          (sizeof(SIDBQueryAndInsertSignaturesRequestParam) + sizeof(_SignatureRespParam)));
  mgr.Uninitialize();
}

TEST_F(QueryMgrTest, AnswersOfFoundBlocksAreNotKept) {
  // 1000 new blocks, then 10^5 queries of blocks the store holds.
  CLProxyDedupeQueryMgr mgr;
  unsigned int port = 0;
  Start(mgr, port);
  const uint32_t distinct = 1000, batches = 100;
  std::vector<uint32_t> ids(distinct), seeds(distinct);
  for (uint32_t i = 0; i < distinct; ++i) ids[i] = seeds[i] = i + 1;
  SimScript script;
  script.Reply(SimQueryClient::Query(ids, seeds));
  for (uint32_t batch = 1; batch <= batches; ++batch) {
    for (uint32_t i = 0; i < distinct; ++i) ids[i] = batch * distinct + i + 1;
    script.Reply(SimQueryClient::Query(ids, seeds));
  }
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(port), script).IsError());
  ASSERT_TRUE(client.WaitReceived(batches + 1, 60));
  EXPECT_EQ(std::vector<int>(batches + 1, static_cast<int>(distinct)), Replies(client.Record()));
  // Only the new blocks wait for their signature records.
  EXPECT_EQ(distinct, mgr.StoredAnswerCount());
  SIDBQueryAndInsertSignaturesResponseParam answer;
  for (uint32_t id = 1; id <= distinct; ++id) ASSERT_TRUE(mgr.GetQueryRespParam(id, answer)) << id;
  EXPECT_EQ(0u, mgr.StoredAnswerCount());
  EXPECT_EQ(0u, mgr.PendingCount());
  mgr.Uninitialize();
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
  CLProxyDedupeQueryMgr mgr;
  SimQueryClient client;
  StartInModuleWait(mgr, client);
  if (HasFatalFailure()) return;
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
