// Shared pieces of the VTL DR tests: a fixture with the subclient of a VTL
// job (no staging directory, a one-minute maximum duration), an event
// sender, a job client and controller, a DR state, connections configured
// against the simulated IBM i, and the decoded requests it received.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../services/ServicesTestUtil.h"
#include "CProxyFileSystemSendEvents.h"
#include "ClBasicMsgs.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "SimMediaManager.h"
#include "service/IBMiDRClientConnection.h"

namespace drtest {

const int kApp = 17;
const long long kJob = 123456789012LL;

inline std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }


class VTLDRTest : public servicetest::ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    RecordRegistry& r = RecordRegistry::Instance();
    r.AddSubclient(servicetest::kVellicon, kApp, servicetest::kClient);
    r.SetSubclientValue(servicetest::kVellicon, kApp, "DRDataPath", RecordValue(""));
    r.SetSubclientValue(servicetest::kVellicon, kApp, "IBMiBackupMaxTime", RecordValue(1));
    r.SetTaskXMLOptions(kJob, "<options/>");
    SetTimeout("TIMEOUT_DAEMON_REPLY", 1);
    KXJobControlScript::Instance().Reset();
    g_ptrLogWriter->SetLevel(5);  // the waits and the stream's items log at 4 and 5
    ISendEventInterface::SetInstance(
        boost::shared_ptr<ISendEventInterface>(new CProxyFileSystemSendEvents(kJob, nullptr)));
    ASSERT_TRUE(jobClient.init("central01", 0, kJob));
    state.reset(new IBMiDRStateInterface(servicetest::kVellicon, kApp, kJob));
  }
  void TearDown() override {
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    KXJobControlScript::Instance().Reset();
    JobResultsSwitches::Instance().Reset();
    ServicesTest::TearDown();
  }
  std::unique_ptr<IBMiDRClientConnectionInterface> Configured(bool vtl = true) {
    std::unique_ptr<IBMiDRClientConnectionInterface> c(new IBMiDRClientConnectionInterface(
        &jobClient, &control, servicetest::kVellicon, kApp, kJob, false, state));
    EXPECT_FALSE(c->configure(vtl).IsError());
    return c;
  }
  // Every decoded request of `type`, on every link, in order.
  template <typename T>
  std::vector<std::shared_ptr<T>> Requests(ClProxyMsgType type) {
    std::vector<std::shared_ptr<T>> found;
    for (size_t i = 0; i < daemon.GetConnectionCount(); ++i)
      for (const auto& msg : daemon.GetRecord(i).received)
        if (msg->getMsgType() == type)
          if (auto typed = std::dynamic_pointer_cast<T>(msg)) found.push_back(typed);
    return found;
  }
  template <typename T>
  std::shared_ptr<T> LastRequest(ClProxyMsgType type) {
    std::vector<std::shared_ptr<T>> found = Requests<T>(type);
    return found.empty() ? std::shared_ptr<T>() : found.back();
  }

  ScopedResultsRoot results;
  KXBkpJobClient jobClient;
  KXJobCtrlClient control{kJob};
  boost::shared_ptr<IBMiDRStateInterface> state;
};

}  // namespace drtest
