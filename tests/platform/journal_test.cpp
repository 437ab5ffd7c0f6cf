#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "EvEvent.h"
#include "EventJournal.h"
#include "FXErrorUtil.h"
#include "ISendEventInterface.h"
#include "KXJobClient.h"

namespace {

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { journal().Reset(); }
  void TearDown() override {
    journal().Reset();
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  }
  static EventJournal& journal() { return EventJournal::Instance(); }
};

TEST_F(JournalTest, EventsCarryIdSeverityJobValueAndArguments) {
  EvEvent event;
  CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, 0x060000a0, "probe said %s", "no");
  error << "host1";
  event << "extra" << nullptr;
  EXPECT_EQ(0, event.InfoEvent(error, 77, 0));
  EXPECT_EQ(0, event.MinorEvent(error, 78, 1));
  EXPECT_EQ(0, event.MajorEvent(FXErrorUtil::ErrorInt(FX_HERE, 5), 79, 2));
  EXPECT_EQ(0, event.CriticalEvent(error, 80, 3));
  EXPECT_EQ(0, event.SendEvent(9, error, 81, 4));

  std::vector<EventJournalEntry> entries = journal().Entries();
  ASSERT_EQ(5u, entries.size());
  const int severities[] = {EV_SEVERITY_INFO, EV_SEVERITY_MINOR, EV_SEVERITY_MAJOR,
                            EV_SEVERITY_CRITICAL, 9};
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(EV_JOURNAL_EVENT, entries[i].kind);
    EXPECT_EQ(severities[i], entries[i].severity);
    EXPECT_EQ(static_cast<long long>(77 + i), entries[i].jobId);
    EXPECT_EQ(static_cast<int>(i), entries[i].value);
    EXPECT_EQ(0, entries[i].result);
  }
  EXPECT_EQ(0x060000a0u, entries[0].eventId);
  EXPECT_EQ("probe said no", entries[0].text);
  // The added arguments go with the first event only.
  EXPECT_EQ((std::vector<std::string>{"host1", "extra", ""}), entries[0].arguments);
  EXPECT_EQ((std::vector<std::string>{"host1"}), entries[1].arguments);
  EXPECT_EQ(0u, entries[2].eventId);  // not an event-message error
  EXPECT_EQ("EvEvent::SendEvent", entries[4].operation);
  std::string printed = EventJournal::Format(entries[0]);
  EXPECT_NE(std::string::npos, printed.find("job=77 id=0x060000a0")) << printed;
  EXPECT_NE(std::string::npos, printed.find("args=[host1, extra, ]")) << printed;
}

TEST_F(JournalTest, FailureSwitchesFailOneOperationAndStillRecordIt) {
  journal().FailOperation("EvEvent::CriticalEvent", 7);
  EvEvent event;
  CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, 0x1100001c);
  EXPECT_EQ(7, event.CriticalEvent(error, 1, 0));
  EXPECT_EQ(0, event.InfoEvent(error, 1, 0));
  journal().ClearFailure("EvEvent::CriticalEvent");
  EXPECT_EQ(0, event.CriticalEvent(error, 1, 0));
  std::vector<EventJournalEntry> entries = journal().Entries();
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(7, entries[0].result);
  EXPECT_NE(std::string::npos, EventJournal::Format(entries[0]).find("FAILED(7)"));
  EXPECT_EQ(0, entries[2].result);
}

TEST_F(JournalTest, JobClientRecordsInitAndPendingCauses) {
  KXJobClient client;
  CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, 0x110000a9, "sync lib");
  // Before init nothing can be set, but the attempt shows.
  EXPECT_EQ(KXJC_NOT_INITIALIZED,
            client.setPendingCauseAndCriticalEvent(error, 0, false, PENDING_CAUSE_MESSAGE_TYPE,
                                                   false, 0, 0, 0, 0));
  // An empty job list does not hide the missing init.
  EXPECT_EQ(KXJC_NOT_INITIALIZED, client.setPendingCause(error, {}, false, PENDING_CAUSE_MESSAGE_TYPE, 0, 0, 0,
                                                         false, 0, 0, 0, 0));
  ASSERT_TRUE(client.init("central01", 4, 77));
  client << "QSYS/LIB";
  EXPECT_EQ(0, client.setPendingCause(error, {77, 78}, false, PENDING_CAUSE_MESSAGE_TYPE, 0, 0, 0,
                                      false, 0, 0, 0, 0));
  EXPECT_EQ(0, client.setPendingCauseAndEvent(error, EV_SEVERITY_MAJOR, 5, false,
                                              PENDING_CAUSE_MESSAGE_TYPE, false, 0, 0, 0, 0));
  EXPECT_EQ(0, client.setPendingCauseAndCriticalEvent(error, 6, false, PENDING_CAUSE_MESSAGE_TYPE,
                                                      false, 0, 0, 0, 0));

  std::vector<EventJournalEntry> e = journal().Entries();
  ASSERT_EQ(7u, e.size());
  EXPECT_EQ(KXJC_NOT_INITIALIZED, e[0].result);
  EXPECT_EQ(KXJC_NOT_INITIALIZED, e[1].result);
  e.erase(e.begin());
  EXPECT_EQ(EV_JOURNAL_JOB_CLIENT_INIT, e[1].kind);
  EXPECT_EQ("central01", e[1].text);
  EXPECT_EQ(4, e[1].platformType);
  EXPECT_EQ(77, e[1].jobId);
  // One entry per listed job, each with the argument added before the call.
  for (int i : {2, 3}) {
    EXPECT_EQ(EV_JOURNAL_PENDING_CAUSE, e[i].kind);
    EXPECT_EQ(PENDING_CAUSE_MESSAGE_TYPE, e[i].messageType);
    EXPECT_EQ(0x110000a9u, e[i].eventId);
    EXPECT_EQ((std::vector<std::string>{"QSYS/LIB"}), e[i].arguments);
  }
  EXPECT_EQ(78, e[3].jobId);
  EXPECT_EQ(EV_JOURNAL_PENDING_CAUSE_AND_EVENT, e[4].kind);
  EXPECT_EQ(EV_SEVERITY_MAJOR, e[4].severity);
  EXPECT_EQ(5, e[4].value);
  EXPECT_TRUE(e[4].arguments.empty());
  EXPECT_EQ(EV_JOURNAL_PENDING_CAUSE_AND_CRITICAL_EVENT, e[5].kind);
  EXPECT_EQ(EV_SEVERITY_CRITICAL, e[5].severity);
  EXPECT_EQ(77, e[5].jobId);
}

TEST_F(JournalTest, FailedInitLeavesTheClientUnusable) {
  journal().FailOperation("KXJobClient::init", 3);
  KXJobClient client;
  EXPECT_FALSE(client.init("central01", 4, 77));
  EXPECT_EQ(KXJC_NOT_INITIALIZED,
            client.setPendingCause(FXErrorUtil::ErrorInt(FX_HERE, 1), {77}, false, 300, 0, 0, 0,
                                   false, 0, 0, 0, 0));
  journal().FailOperation("KXJobClient::setPendingCause", 9);
  journal().ClearFailure("KXJobClient::init");
  ASSERT_TRUE(client.init("central01", 4, 77));
  EXPECT_EQ(9, client.setPendingCause(FXErrorUtil::ErrorInt(FX_HERE, 1), {77}, false, 300, 0, 0,
                                      0, false, 0, 0, 0, 0));
}

class RecordingSender : public ISendEventInterface {
 public:
  void SendEvent(const CWqError&, int, long long, int) override {}
  void SendInfoEvent(const CWqError&, long long, int) override {}
  void SendMinorEvent(const CWqError&, long long, int) override {}
  void SendMajorEvent(const CWqError&, long long, int) override {}
  void SendCriticalEvent(const CWqError&, long long, int) override {}
  void SetPendingCause(const CWqError&, long long) override {}
  void SetPendingCauseAndEvent(const CWqError&, int, int) override {}
  void SetPendingCauseAndCriticalEvent(const CWqError&, int) override {}
};

TEST_F(JournalTest, OneProcessWideSender) {
  EXPECT_FALSE(ISendEventInterface::GetInstance());
  boost::shared_ptr<ISendEventInterface> sender(new RecordingSender);
  ISendEventInterface::SetInstance(sender);
  EXPECT_EQ(sender, ISendEventInterface::GetInstance());
  ISendEventInterface::GetInstance()->SendSkipFSEvent("/QSYS.LIB/X.LIB", "locked");
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  EXPECT_FALSE(ISendEventInterface::GetInstance());
  EXPECT_EQ(1, sender.use_count());
  std::vector<EventJournalEntry> e = journal().Entries();
  ASSERT_EQ(1u, e.size());
  EXPECT_EQ(EV_JOURNAL_SKIP_FS_EVENT, e[0].kind);
  EXPECT_EQ((std::vector<std::string>{"/QSYS.LIB/X.LIB", "locked"}), e[0].arguments);
}

TEST_F(JournalTest, ThreadsRaisingAtOnceLoseNothing) {
  const int kThreads = 8, kEvents = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      EvEvent event;
      for (int i = 0; i < kEvents; ++i)
        event.InfoEvent(FXErrorUtil::ErrorEventMessage(FX_HERE, 1), t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  std::vector<int> perThread(kThreads, 0);
  for (const EventJournalEntry& e : journal().Entries()) {
    ASSERT_LT(e.jobId, kThreads);
    EXPECT_EQ(perThread[e.jobId], e.value);  // each thread's events in its order
    ++perThread[e.jobId];
  }
  for (int count : perThread) EXPECT_EQ(kEvents, count);
}

}  // namespace
