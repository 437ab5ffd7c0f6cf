#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CProxyFileSystemSendEvents.h"
#include "ClEventMsg.h"
#include "EvEvent.h"
#include "EventJournal.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ISendEventInterface.h"
#include "KXJobClient.h"
#include "KXPlatformInfo.h"
#include "ScopedSettingsRoot.h"

namespace {

const long long kJob = 77;
const long long kIgnoredJob = 12345;
const uint32_t kEventId = 0x060000a0;
const char kServer[] = "central01";
const char kNoNameLine[] = "getZentraverClientName return NULL";

// A fresh settings store, an empty journal, no installed sender, and a log
// writer that keeps only the always-written (level -1) lines.
class EventSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_root.path().empty());
    journal().Reset();
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    m_savedWriter = g_ptrLogWriter;
    g_ptrLogWriter.reset(new FXLogWriter);
    g_ptrLogWriter->SetQuiet(true);
    g_ptrLogWriter->SetCapture(true);
    g_ptrLogWriter->SetLevel(-1);
  }
  void TearDown() override {
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    journal().Reset();
    g_ptrLogWriter = m_savedWriter;
  }

  static EventJournal& journal() { return EventJournal::Instance(); }
  static std::vector<EventJournalEntry> entries() { return journal().Entries(); }
  static void SetServerName(const std::string& name) {
    ASSERT_EQ(0, KXPlatformInfo().setString("Zentraver", "sClientName", name.data(), name.size()));
  }
  static int CountLines(const std::string& fragment) {
    int n = 0;
    for (const std::string& line : g_ptrLogWriter->CapturedLines())
      if (line.find(fragment) != std::string::npos) ++n;
    return n;
  }
  static CWqError HostError() {
    CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, kEventId);
    error << "as400.example";
    return error;
  }

 private:
  ScopedSettingsRoot m_root;
  boost::shared_ptr<FXLogWriter> m_savedWriter;
};

TEST_F(EventSenderTest, EventFamilyRaisesForTheSendersJobWithoutAJobClient) {
  struct Case {
    const char* operation;
    std::function<void(ISendEventInterface&, const CWqError&)> call;
    int severity;
    int value;
  };
  const Case cases[] = {
      {"EvEvent::SendEvent",
       [](ISendEventInterface& s, const CWqError& e) { s.SendEvent(e, 9, kIgnoredJob, 4); }, 9, 4},
      {"EvEvent::InfoEvent",
       [](ISendEventInterface& s, const CWqError& e) { s.SendInfoEvent(e, kIgnoredJob, 0); },
       EV_SEVERITY_INFO, 0},
      {"EvEvent::MinorEvent",
       [](ISendEventInterface& s, const CWqError& e) { s.SendMinorEvent(e, kIgnoredJob, 1); },
       EV_SEVERITY_MINOR, 1},
      {"EvEvent::MajorEvent",
       [](ISendEventInterface& s, const CWqError& e) { s.SendMajorEvent(e, kIgnoredJob, 2); },
       EV_SEVERITY_MAJOR, 2},
      {"EvEvent::CriticalEvent",
       [](ISendEventInterface& s, const CWqError& e) { s.SendCriticalEvent(e, kIgnoredJob, 0); },
       EV_SEVERITY_CRITICAL, 0},
  };
  SetServerName(kServer);  // available, yet events never make a job client
  CProxyFileSystemSendEvents sender(kJob, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    journal().Reset();
    c.call(sender, HostError());
    std::vector<EventJournalEntry> e = entries();
    ASSERT_EQ(1u, e.size()) << journal().FormatAll();
    EXPECT_EQ(EV_JOURNAL_EVENT, e[0].kind);
    EXPECT_EQ(c.operation, e[0].operation);
    EXPECT_EQ(kJob, e[0].jobId);
    EXPECT_EQ(kEventId, e[0].eventId);
    EXPECT_EQ(c.severity, e[0].severity);
    EXPECT_EQ(c.value, e[0].value);
    EXPECT_EQ((std::vector<std::string>{"as400.example"}), e[0].arguments);
  }
}

TEST_F(EventSenderTest, GivenEventObjectIsUsedForEveryEventAndOutlivesTheSender) {
  EvEvent given;
  {
    CProxyFileSystemSendEvents sender(kJob, &given);
    given << "from-giver";
    sender.SendInfoEvent(HostError(), kIgnoredJob, 0);
    given << "again";
    sender.SetPendingCause(HostError(), kIgnoredJob);  // no server name: a major event
  }
  // Still the giver's: usable after the sender is gone.
  EXPECT_EQ(0, given.MinorEvent(HostError(), 5, 0));
  std::vector<EventJournalEntry> e = entries();
  ASSERT_EQ(3u, e.size()) << journal().FormatAll();
  EXPECT_EQ((std::vector<std::string>{"as400.example", "from-giver"}), e[0].arguments);
  EXPECT_EQ((std::vector<std::string>{"as400.example", "again"}), e[1].arguments);
  EXPECT_EQ("EvEvent::MajorEvent", e[1].operation);
}

TEST_F(EventSenderTest, PendingCausesGoThroughOneJobClientForTheSendersJob) {
  SetServerName(kServer);
  CProxyFileSystemSendEvents sender(kJob, nullptr);
  sender.SetPendingCause(HostError(), kIgnoredJob);
  sender.SetPendingCause(HostError(), kIgnoredJob);
  sender.SetPendingCauseAndEvent(HostError(), EV_SEVERITY_MAJOR, 5);
  sender.SetPendingCauseAndCriticalEvent(HostError(), 9);
  KXJobClient* client = sender.getJobCLient();
  ASSERT_NE(nullptr, client);
  EXPECT_EQ(client, sender.getJobCLient());

  std::vector<EventJournalEntry> e = entries();
  ASSERT_EQ(5u, e.size()) << journal().FormatAll();
  EXPECT_EQ(EV_JOURNAL_JOB_CLIENT_INIT, e[0].kind);
  EXPECT_EQ(kServer, e[0].text);
  EXPECT_EQ(4, e[0].platformType);
  EXPECT_EQ(kJob, e[0].jobId);
  const EvJournalKind kinds[] = {EV_JOURNAL_PENDING_CAUSE, EV_JOURNAL_PENDING_CAUSE,
                                 EV_JOURNAL_PENDING_CAUSE_AND_EVENT,
                                 EV_JOURNAL_PENDING_CAUSE_AND_CRITICAL_EVENT};
  for (size_t i = 1; i < e.size(); ++i) {
    SCOPED_TRACE(EventJournal::Format(e[i]));
    EXPECT_EQ(kinds[i - 1], e[i].kind);
    EXPECT_EQ(kJob, e[i].jobId);
    EXPECT_EQ(PENDING_CAUSE_MESSAGE_TYPE, e[i].messageType);
    EXPECT_EQ(kEventId, e[i].eventId);
    EXPECT_EQ((std::vector<std::string>{"as400.example"}), e[i].arguments);
    EXPECT_EQ(0, e[i].result);
  }
  EXPECT_EQ(EV_SEVERITY_MAJOR, e[3].severity);
  EXPECT_EQ(5, e[3].value);
  EXPECT_EQ(9, e[4].value);
  EXPECT_EQ(0, CountLines(kNoNameLine));
}

TEST_F(EventSenderTest, WithoutServerNameCausesBecomeEventsAndTheNextCallTriesAgain) {
  // No value at all, then an empty one: neither names a server.
  for (bool emptyName : {false, true}) {
    SCOPED_TRACE(emptyName ? "empty name" : "no name");
    journal().Reset();
    g_ptrLogWriter->ClearCapture();
    if (emptyName) SetServerName("");
    CProxyFileSystemSendEvents sender(kJob, nullptr);
    sender.SetPendingCause(HostError(), kIgnoredJob);
    sender.SetPendingCauseAndEvent(HostError(), EV_SEVERITY_MINOR, 6);
    sender.SetPendingCauseAndCriticalEvent(HostError(), 8);
    EXPECT_EQ(nullptr, sender.getJobCLient());

    std::vector<EventJournalEntry> e = entries();
    ASSERT_EQ(3u, e.size()) << journal().FormatAll();
    EXPECT_EQ("EvEvent::MajorEvent", e[0].operation);
    EXPECT_EQ(0, e[0].value);
    EXPECT_EQ("EvEvent::SendEvent", e[1].operation);
    EXPECT_EQ(EV_SEVERITY_MINOR, e[1].severity);
    EXPECT_EQ(6, e[1].value);
    EXPECT_EQ("EvEvent::CriticalEvent", e[2].operation);
    EXPECT_EQ(0, e[2].value);
    for (const EventJournalEntry& entry : e) {
      EXPECT_EQ(EV_JOURNAL_EVENT, entry.kind);
      EXPECT_EQ(kJob, entry.jobId);
      EXPECT_EQ(kEventId, entry.eventId);
    }
    EXPECT_EQ(4, CountLines(kNoNameLine));  // each attempt, getJobCLient's too

    // Once the name is configured, the same sender makes its client.
    SetServerName(kServer);
    journal().Reset();
    sender.SetPendingCauseAndCriticalEvent(HostError(), 8);
    e = entries();
    ASSERT_EQ(2u, e.size()) << journal().FormatAll();
    EXPECT_EQ(EV_JOURNAL_JOB_CLIENT_INIT, e[0].kind);
    EXPECT_EQ(EV_JOURNAL_PENDING_CAUSE_AND_CRITICAL_EVENT, e[1].kind);
    EXPECT_EQ(8, e[1].value);
    EXPECT_EQ(kJob, e[1].jobId);
    ASSERT_EQ(0, KXPlatformInfo().deleteField("Zentraver", "sClientName"));
  }
}

TEST_F(EventSenderTest, JobClientWhoseInitFailsIsKeptAndNotMadeAgain) {
  SetServerName(kServer);
  journal().FailOperation("KXJobClient::init", 5);
  CProxyFileSystemSendEvents sender(kJob, nullptr);
  sender.SetPendingCause(HostError(), kIgnoredJob);
  journal().ClearFailure("KXJobClient::init");
  sender.SetPendingCauseAndEvent(HostError(), EV_SEVERITY_MAJOR, 1);

  std::vector<EventJournalEntry> e = entries();
  ASSERT_EQ(3u, e.size()) << journal().FormatAll();
  EXPECT_EQ(EV_JOURNAL_JOB_CLIENT_INIT, e[0].kind);
  EXPECT_EQ(5, e[0].result);
  // The causes reach the job client, which refuses them and says so.
  EXPECT_EQ(EV_JOURNAL_PENDING_CAUSE, e[1].kind);
  EXPECT_EQ(KXJC_NOT_INITIALIZED, e[1].result);
  EXPECT_EQ(kJob, e[1].jobId);
  EXPECT_EQ(EV_JOURNAL_PENDING_CAUSE_AND_EVENT, e[2].kind);
  EXPECT_EQ(KXJC_NOT_INITIALIZED, e[2].result);
  EXPECT_EQ(1, CountLines("could not attach to [central01]"));
}

TEST_F(EventSenderTest, ConcurrentFirstUseMakesExactlyOneJobClient) {
  SetServerName(kServer);
  const int kThreads = 8, kCauses = 20;
  CProxyFileSystemSendEvents sender(kJob, nullptr);
  std::atomic<int> ready(0);
  std::atomic<bool> go(false);
  std::vector<KXJobClient*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kCauses; ++i) {
        sender.SetPendingCauseAndEvent(HostError(), EV_SEVERITY_MAJOR, t);
        sender.SendInfoEvent(HostError(), kIgnoredJob, t);
      }
      seen[t] = sender.getJobCLient();
    });
  }
  while (ready < kThreads) std::this_thread::yield();
  go = true;
  for (std::thread& thread : threads) thread.join();

  int inits = 0, causes = 0, events = 0;
  for (const EventJournalEntry& e : entries()) {
    EXPECT_EQ(kJob, e.jobId);
    EXPECT_EQ(0, e.result);
    if (e.kind == EV_JOURNAL_JOB_CLIENT_INIT) ++inits;
    if (e.kind == EV_JOURNAL_PENDING_CAUSE_AND_EVENT) ++causes;
    if (e.kind == EV_JOURNAL_EVENT) {
      ++events;
      // Arguments never leak from one raise into another.
      EXPECT_EQ((std::vector<std::string>{"as400.example"}), e.arguments);
    }
  }
  EXPECT_EQ(1, inits);
  EXPECT_EQ(kThreads * kCauses, causes);
  EXPECT_EQ(kThreads * kCauses, events);
  for (KXJobClient* client : seen) EXPECT_EQ(seen[0], client);
  EXPECT_NE(nullptr, seen[0]);
}

TEST_F(EventSenderTest, InstalledSenderServesEveryCallerOfTheProcessWideSlot) {
  boost::shared_ptr<ISendEventInterface> installed(new CProxyFileSystemSendEvents(kJob, nullptr));
  ISendEventInterface::SetInstance(installed);
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  ASSERT_TRUE(sender);
  // Callers recognise the library's own sender by its type.
  EXPECT_NE(nullptr, dynamic_cast<CProxyFileSystemSendEvents*>(sender.get()));
  sender->SendCriticalEvent(HostError(), 999, 0);
  sender->SendSkipFSEvent("/QSYS.LIB/X.LIB", "locked");  // the platform's own
  std::vector<EventJournalEntry> e = entries();
  ASSERT_EQ(2u, e.size()) << journal().FormatAll();
  EXPECT_EQ("EvEvent::CriticalEvent", e[0].operation);
  EXPECT_EQ(kJob, e[0].jobId);
  EXPECT_EQ(EV_JOURNAL_SKIP_FS_EVENT, e[1].kind);
}

class ClientEventTest : public EventSenderTest {
 protected:
  static ClEventMsg Message() {
    return ClEventMsg(0x110000a9, EV_SEVERITY_MAJOR, 3, {"QSYS/LIB", "locked"});
  }
  static void Install() {
    ISendEventInterface::SetInstance(
        boost::shared_ptr<ISendEventInterface>(new CProxyFileSystemSendEvents(kJob, nullptr)));
  }
};

TEST_F(ClientEventTest, PendingEventWithoutAnInstalledSenderIsDroppedAndLogged) {
  Message().sendPendingCauseAndEvent();
  Message().sendEvent();
  EXPECT_TRUE(entries().empty()) << journal().FormatAll();
  EXPECT_EQ(1, CountLines("client pending event 0x110000a9 dropped"));
  EXPECT_EQ(1, CountLines("client event 0x110000a9 dropped"));
}

TEST_F(ClientEventTest, PendingEventGoesThroughTheInstalledSender) {
  struct Case {
    bool serverName;
    EvJournalKind kind;
    const char* operation;
  };
  const Case cases[] = {
      {true, EV_JOURNAL_PENDING_CAUSE_AND_EVENT, "KXJobClient::setPendingCauseAndEvent"},
      {false, EV_JOURNAL_EVENT, "EvEvent::SendEvent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    journal().Reset();
    if (c.serverName) SetServerName(kServer);
    else ASSERT_EQ(0, KXPlatformInfo().deleteField("Zentraver", "sClientName"));
    Install();
    Message().sendPendingCauseAndEvent();
    std::vector<EventJournalEntry> e;
    for (const EventJournalEntry& entry : entries())
      if (entry.kind != EV_JOURNAL_JOB_CLIENT_INIT) e.push_back(entry);
    ASSERT_EQ(1u, e.size()) << journal().FormatAll();
    EXPECT_EQ(c.kind, e[0].kind);
    EXPECT_EQ(c.operation, e[0].operation);
    EXPECT_EQ(kJob, e[0].jobId);
    EXPECT_EQ(0x110000a9u, e[0].eventId);
    EXPECT_EQ(EV_SEVERITY_MAJOR, e[0].severity);
    EXPECT_EQ(3, e[0].value);
    EXPECT_EQ((std::vector<std::string>{"QSYS/LIB", "locked"}), e[0].arguments);
  }
}

}  // namespace
