// The index update of a VTL DR job against the simulated IBM i: the outfile
// request (its name agrees with the start message's), every item of the
// stream, and the drive cleanup.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DRTestUtil.h"
#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClDRStartMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyFileHeader.h"
#include "ClProxySerializer.h"
#include "FXClock.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "ProxyEventIds.h"
#include "service/IBMiDRClientConnection.h"

namespace {

using drtest::Empty;
using drtest::kApp;
using drtest::kJob;
std::shared_ptr<ClProxyMsg> Data(const std::string& bytes) {
  return std::make_shared<ClBlobMsg>(FILE_DATA_MSG, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

ClProxyFileHeader File(const std::string& name, uint64_t flags, uint64_t mode = 0100644) {
  ClProxyFileHeader h;
  h.word1 = 7;
  h.name = name;
  h.mode = mode;
  h.uid = 11;
  h.gid = 12;
  h.size = 4096;
  h.ctime = 100;
  h.mtime = 200;
  h.atime = 300;
  h.flags = flags;
  h.offset = 5;
  return h;
}

// A header and its barcode, cut `cut` bytes short.
std::shared_ptr<ClProxyMsg> Header(const ClProxyFileHeader& header, const std::string& barcode, size_t cut = 0) {
  ClProxyFileHeaderSerializer s;
  s.setHeader(header);
  std::vector<uint8_t> bytes(s.getBufSize() + 4 + barcode.size());
  uint32_t used = 0;
  s.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  ClProxySerializer::serialize(barcode, bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  return std::make_shared<ClBlobMsg>(FILE_HEADER_MSG, ClBlobMsg::Copy, bytes.data(),
                                     static_cast<uint32_t>(bytes.size() - cut));
}

class DRFileStreamTest : public drtest::VTLDRTest {
 protected:
  void SetUp() override {
    VTLDRTest::SetUp();
    SetTimeout("TIMEOUT_NEXT_FILE", 1);
    SetTimeout("TIMEOUT_VTL_CLEANUP_REPLY", 1);
  }
};

// The request names the outfile the start message named, whatever the task
// options say.
TEST_F(DRFileStreamTest, OutfileNameAgreesWithTheStartMessage) {
  const struct {
    const char* what;
    int logOption;  // 0: not set
    const char* outfile;
    const char* expected;
  } cases[] = {
      {"no options", 0, nullptr, "KXLIBOBJ/DRLOG"},
      {"the task's outfile", 2, "MYLIB/OUT", "MYLIB/OUT"},
      {"an outfile the save does not write", 1, "MYLIB/OUT", "KXLIBOBJ/DRLOG"},
  };
  long long job = kJob;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ++job;
    RecordRegistry& r = RecordRegistry::Instance();
    r.SetTaskXMLOptions(job, "<options/>");
    if (c.logOption) r.SetTaskOption(job, 0x1722ca9a, RecordValue(c.logOption));
    if (c.outfile) r.SetTaskOption(job, 0x2a0686b9, RecordValue(c.outfile));
    daemon.ScriptNext(PROCESS_OUTFILE_MSG, SimScript());  // recorded, unanswered
    IBMiDRClientConnectionInterface connection(&jobClient, nullptr, servicetest::kVellicon, kApp, job, false, state);
    ASSERT_FALSE(connection.configure(true).IsError());
    ASSERT_FALSE(connection.startOutfileProcessing().IsError());
    ClIBMDRBackupJobMsg start(servicetest::kVellicon, static_cast<unsigned long>(job), kApp);
    ASSERT_FALSE(connection.configuration()->populateDRMessage(start).IsError());
    std::string named;
    ASSERT_FALSE(start.getOption("Log_Output_File", named).IsError());
    EXPECT_EQ(c.expected, named);
    connection.stopServicesOnClient();
    const size_t link = static_cast<size_t>(job - kJob - 1);
    ASSERT_TRUE(daemon.WaitForAccepted(link + 1, 5));
    ASSERT_TRUE(daemon.WaitForClosed(link, 5));
    auto request = LastRequest<ClProcessOutFileMsg>(PROCESS_OUTFILE_MSG);
    ASSERT_TRUE(request);
    EXPECT_EQ(c.expected, request->getOutfileName());
    EXPECT_EQ(servicetest::kVellicon, request->getVelliconId());
    EXPECT_EQ(kApp, request->getAppId());
    EXPECT_EQ(static_cast<uint64_t>(job), request->getJobId());
  }
}

// One item per call, in the stream's order.
TEST_F(DRFileStreamTest, StreamItems) {
  const std::string longName(CXFileHeader::kNameCapacity, 'n');
  daemon.ScriptNext(
      PROCESS_OUTFILE_MSG,
      SimScript()
          .Reply(Empty(GOOD_EOF_MSG))
          .Reply(Data("/QSYS.LIB/TARGET.LIB"))
          .Reply(Header(File("/QSYS.LIB/A.LIB", 0x4C, 040755), "VOL001"))  // reference with attribute bit
          .Reply(Empty(GOOD_EOF_MSG))
          .Silent(1500)  // a time-out between items
          .Reply(Header(File("/QSYS.LIB/B.LIB/F.FILE", 0x10000000042ull), "VOL002"))
          .Reply(Header(File("/QSYS.LIB/C.LIB", 0x44), "VOL002"))  // reference without the attribute bit
          .Reply(std::make_shared<ClFailedFileMsg>("/QSYS.LIB/D.LIB", EACCES, "locked"))
          .Reply(Header(File(longName, 0), "VOL003"))
          .Reply(std::make_shared<ClBackupStatsMsg>(4, 1, 12288)));
  auto c = Configured();
  ASSERT_FALSE(c->startOutfileProcessing().IsError());

  struct Item {
    int status;
    std::string name;
    uint64_t flags;  // as converted
    uint32_t attributes;
    std::string barcode;
    std::string symlink;
  };
  const Item expected[] = {
      {0, "/QSYS.LIB/A.LIB", 0x800000004Cull, 0x200, "VOL001", "/QSYS.LIB/TARGET.LIB"},
      {0, "/QSYS.LIB/B.LIB/F.FILE", 0x10000000042ull, 0x600 | 0x400, "VOL002", ""},
      {0, "/QSYS.LIB/C.LIB", 0x44, 0, "VOL002", ""},
      {8, "/QSYS.LIB/D.LIB", 0, 0, "VOL002", ""},
      {8, longName, 0, 0, "VOL003", ""},
      {7, "", 0, 0, "VOL003", ""},
  };
  for (const Item& e : expected) {
    SCOPED_TRACE(e.name.substr(0, 40));
    int status = 99;
    std::string name;
    CXFileHeader header;
    header.attributes = 0;
    CWqError result = c->recvNextFileFromDR(status, name, header);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    ASSERT_EQ(e.status, status);
    EXPECT_EQ(e.barcode, c->getFileTapeBarCode());
    if (status == 7) continue;
    EXPECT_EQ(e.name, name);
    EXPECT_EQ(3, header.headerType);
    EXPECT_EQ(47, header.pathSeparator);
    EXPECT_EQ(118, header.clientOsType);
    EXPECT_EQ(e.attributes, header.attributes);
    if (status == 0) {
      EXPECT_EQ(e.flags, header.platformFlags);
      EXPECT_EQ(e.name, header.name);
      EXPECT_EQ(e.name.size() + 1, header.nameLength);
      EXPECT_EQ(4096u, header.size);
      EXPECT_EQ(200u, header.mtime);
      EXPECT_EQ(100u, header.ctime);
      EXPECT_EQ(5u, header.offset);
      EXPECT_EQ(11u, header.uid);
      EXPECT_EQ(e.symlink, c->getSymlink());
    } else {
      int error = 0;
      std::string failedName, text;
      c->getFileError(error, failedName, text);
      EXPECT_EQ(e.name, failedName);
      EXPECT_EQ(e.name.size() < CXFileHeader::kNameCapacity ? EACCES : ENAMETOOLONG, error);
      EXPECT_EQ(0u, header.size);
      EXPECT_EQ(0u, header.mode);
      // Nothing past the name field: a name that does not fit is left out.
      EXPECT_EQ(e.name.size() < CXFileHeader::kNameCapacity ? e.name : std::string(), header.name);
    }
  }
  EXPECT_EQ(1u, LogCount("Backup folder /QSYS.LIB/A.LIB"));
  EXPECT_EQ(1u, LogCount("Backup file /QSYS.LIB/C.LIB as reference to archive"));
}

TEST_F(DRFileStreamTest, StreamEnds) {
  const struct {
    const char* what;
    SimScript script;
    bool ok;
    int status;
    std::function<bool(const CWqError&)> error;
  } cases[] = {
      {"the client's failure", SimScript().Reply(std::make_shared<ClBadEofMsg>("outfile missing")), true, 1, nullptr},
      {"a header cut inside its barcode", SimScript().Reply(Header(File("/QSYS.LIB/A.LIB", 0), "VOL001", 3)), false,
       6, [](const CWqError& e) {
         return e.GetKind() == FX_ERROR_KX_RESULT && e.GetNumber() == static_cast<int32_t>(EV_FILE_HEADER_DECODE_FAILED);
       }},
      {"a type the stream does not carry", SimScript().Reply(Empty(SERVICE_CHECK_MSG)), false, 1,
       [](const CWqError& e) { return FXErrorUtil::IsErrNo(e, EPROTO); }},
      {"a broken link", SimScript().Close(), false, 1,
       [](const CWqError& e) { return FXErrorUtil::IsErrNo(e, ENOTCONN); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    daemon.ScriptNext(PROCESS_OUTFILE_MSG, c.script);
    auto connection = Configured();
    ASSERT_FALSE(connection->startOutfileProcessing().IsError());
    int status = 0;
    std::string name;
    CXFileHeader header;
    CWqError result = connection->recvNextFileFromDR(status, name, header);
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    EXPECT_EQ(c.status, status);
    if (c.error) { EXPECT_TRUE(c.error(result)) << result.AsString(); }
    connection->stopServicesOnClient();
  }
  if (HasFailure()) return;
  // No connection: 2250 and status 1.
  auto idle = Configured();
  idle->stopServicesOnClient();
  int status = 0;
  std::string name;
  CXFileHeader header;
  EXPECT_TRUE(FXErrorUtil::IsWin32(idle->recvNextFileFromDR(status, name, header), 2250));
  EXPECT_EQ(1, status);
}

// A client that never stops sending: the quit flag is looked at on every
// pass, not only after a silence.
TEST_F(DRFileStreamTest, QuitFlagWhileMessagesFlow) {
  SimScript script;
  script.Call([](SimPeer&) {
    KXJobControlScript::Instance().RaiseQuitFlag(kJob);
    return CWqError::Success();
  });
  for (int i = 0; i < 500; ++i) script.Reply(Empty(GOOD_EOF_MSG));
  script.Reply(std::make_shared<ClBackupStatsMsg>(4, 1, 12288));
  daemon.ScriptNext(PROCESS_OUTFILE_MSG, script);
  std::unique_ptr<IBMiDRClientConnectionInterface> c = Configured();
  ASSERT_FALSE(HasFailure());
  ASSERT_FALSE(c->startOutfileProcessing().IsError());
  // The flag is up once the request has been taken.
  ASSERT_TRUE(servicetest::Eventually([] { return KXJobControlScript::Instance().QuitFlag(kJob); }));
  int status = 0;
  std::string name;
  CXFileHeader header;
  CWqError result = c->recvNextFileFromDR(status, name, header);
  EXPECT_TRUE(FXErrorUtil::IsInt(result, DR_ERROR_RETRY_LATER)) << result.AsString();
  EXPECT_EQ(1, status);
  EXPECT_FALSE(c->isConnected());
  // The client's sending ends on the closed link before the test does.
  EXPECT_TRUE(daemon.WaitForClosed(0, 10));
}

// Names and targets the host could not keep as they came: a name with a NUL
// inside (it would be cut to another file's name) and a symbolic-link
// target longer than PATH_MAX make that file a failed one, its name printed
// with the NUL shown (and a backslash doubled, so the printed form is not
// taken for another name); the stream goes on.
TEST_F(DRFileStreamTest, HostileNamesAndTargets) {
  const std::string nulName("/QSYS.LIB/A.LIB\0/..\\/etc/shadow", 31);
  const std::string shown = "/QSYS.LIB/A.LIB\\0/..\\\\/etc/shadow";
  daemon.ScriptNext(PROCESS_OUTFILE_MSG,
                    SimScript()
                        .Reply(Header(File(nulName, 0), "VOL001"))
                        .Reply(std::make_shared<ClFailedFileMsg>(nulName, EACCES, "locked"))
                        .Reply(Data(std::string(PATH_MAX + 1, 't')))
                        .Reply(Header(File("/QSYS.LIB/L.LIB/LINK", 0), "VOL002"))
                        .Reply(Empty(GOOD_EOF_MSG))
                        .Reply(Data("/QSYS.LIB/T.LIB"))
                        .Reply(Header(File("/QSYS.LIB/M.LIB/LINK", 0), "VOL002"))
                        .Reply(std::make_shared<ClBackupStatsMsg>(2, 2, 0)));
  auto c = Configured();
  ASSERT_FALSE(c->startOutfileProcessing().IsError());
  const struct {
    int status;
    std::string name;
    int error;
    std::string symlink;
  } expected[] = {
      {8, shown, EINVAL, ""},
      {8, shown, EACCES, ""},
      {8, "/QSYS.LIB/L.LIB/LINK", ENAMETOOLONG, ""},
      {0, "/QSYS.LIB/M.LIB/LINK", 0, "/QSYS.LIB/T.LIB"},
      {7, "", 0, ""},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    int status = 99;
    std::string name;
    CXFileHeader header;
    CWqError result = c->recvNextFileFromDR(status, name, header);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    ASSERT_EQ(e.status, status);
    if (status == 7) continue;
    EXPECT_EQ(e.name, name);
    EXPECT_EQ(e.name, header.name);
    EXPECT_EQ(std::strlen(header.name) + 1, header.nameLength);
    EXPECT_EQ(e.symlink, c->getSymlink());
    if (status == 8) {
      int error = 0;
      std::string failedName, text;
      c->getFileError(error, failedName, text);
      EXPECT_EQ(e.error, error);
      EXPECT_EQ(e.name, failedName);
      EXPECT_EQ(0u, header.size);
      EXPECT_LE(1u, LogCount("Failed file, fileName=" + e.name));
    }
    // Every item, failed ones too, is logged as the index will see it.
    EXPECT_LE(1u, LogCount("Backup file " + e.name + " with platform flags"));
  }
  // Nowhere is the name cut at its NUL.
  EXPECT_EQ(0u, LogCount("/QSYS.LIB/A.LIB "));
}

// A refused link target belongs to the one header after it: the next item's
// header, even without a GOOD_EOF between them, is not failed for it.
TEST_F(DRFileStreamTest, RefusedTargetFailsOneHeaderOnly) {
  daemon.ScriptNext(PROCESS_OUTFILE_MSG,
                    SimScript()
                        .Reply(Data(std::string(PATH_MAX + 1, 't')))
                        .Reply(Header(File("/QSYS.LIB/L.LIB/LINK", 0), "VOL002"))
                        .Reply(Header(File("/QSYS.LIB/M.LIB/FILE", 0), "VOL002"))
                        .Reply(std::make_shared<ClBackupStatsMsg>(2, 2, 0)));
  auto c = Configured();
  ASSERT_FALSE(c->startOutfileProcessing().IsError());
  const int expected[] = {8, 0, 7};
  for (int want : expected) {
    int status = 99;
    std::string name;
    CXFileHeader header;
    CWqError result = c->recvNextFileFromDR(status, name, header);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(want, status) << name;
  }
}

// A client that keeps the link open and says nothing: the quit flag, and
// the job's maximum duration + 15 minutes of silence, end the wait.
TEST_F(DRFileStreamTest, SilentStreamEnds) {
  FXScopedVirtualClock clock;
  daemon.ScriptNext(PROCESS_OUTFILE_MSG, SimScript().Call([](SimPeer&) {
    KXJobControlScript::Instance().RaiseQuitFlag(kJob);
    return CWqError::Success();
  }));
  auto quit = Configured();
  ASSERT_FALSE(quit->startOutfileProcessing().IsError());
  int status = 0;
  std::string name;
  CXFileHeader header;
  EXPECT_TRUE(FXErrorUtil::IsInt(quit->recvNextFileFromDR(status, name, header), DR_ERROR_RETRY_LATER));
  EXPECT_EQ(1, status);
  KXJobControlScript::Instance().Reset();

  daemon.ScriptNext(PROCESS_OUTFILE_MSG, SimScript().Call([&clock](SimPeer&) {
    clock.clock().Advance(16 * 60 * 1000);
    return CWqError::Success();
  }));
  auto silent = Configured();
  ASSERT_FALSE(silent->startOutfileProcessing().IsError());
  status = 0;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(silent->recvNextFileFromDR(status, name, header), ETIME));
  EXPECT_EQ(1, status);
}

TEST_F(DRFileStreamTest, DriveCleanup) {
  const struct {
    const char* what;
    SimScript script;
    bool ok;
    uint32_t win32;
    int errNo;
  } cases[] = {
      {"acknowledged", SimScript().Reply(Empty(SERVICE_CHECK_MSG)), true, 0, 0},
      {"client error", SimScript().Reply(Empty(CLIENT_ERROR_MSG)), false, 774, 0},
      {"silence", SimScript().Silent(2500), false, 0, ETIME},
  };
  size_t link = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    daemon.ScriptNext(VTL_DR_CLEANUP_MSG, c.script);
    auto connection = Configured();
    connection->configuration()->setTapeListAndDevice({"A1"}, "TAPMLB01");
    CWqError result = connection->cleanUpClientVTLBackup();
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    if (c.win32) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(result, c.win32));
      EXPECT_NE(std::string::npos, result.AsString().find("Error during VTL DR Cleanup. Message type 0x8016"));
    }
    if (c.errNo) { EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString(); }
    // The configure's link was replaced by a fresh one for the request.
    ASSERT_TRUE(daemon.WaitForAccepted(link + 2, 5));
    EXPECT_TRUE(daemon.WaitForClosed(link, 5));
    std::shared_ptr<ClVTLDRCleanupMsg> request;
    for (const auto& msg : daemon.GetRecord(link + 1).received)
      if (msg->getMsgType() == VTL_DR_CLEANUP_MSG) request = std::dynamic_pointer_cast<ClVTLDRCleanupMsg>(msg);
    ASSERT_TRUE(request);
    EXPECT_EQ("TAPMLB01", request->getDrive());
    EXPECT_EQ(0u, request->getValue());
    EXPECT_EQ(static_cast<uint64_t>(kJob), request->getJobId());
    connection->stopServicesOnClient();
    link += 2;
  }
  // No drive, or never configured: nothing is sent, no link is made.
  IBMiDRClientConnectionInterface never(&jobClient, nullptr, servicetest::kVellicon, kApp, kJob, false, state);
  EXPECT_FALSE(never.cleanUpClientVTLBackup().IsError());
  auto noDrive = Configured();
  EXPECT_FALSE(noDrive->cleanUpClientVTLBackup().IsError());
  EXPECT_TRUE(daemon.WaitForAccepted(link + 1, 5));
  EXPECT_EQ(link + 1, daemon.GetConnectionCount());
  EXPECT_EQ(3u, Requests<ClVTLDRCleanupMsg>(VTL_DR_CLEANUP_MSG).size());
}

}  // namespace
