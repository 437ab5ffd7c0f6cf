// The IBM i tape interface: the media-agent check and its caches, the local
// path through the run-time tape library (whole, lacking an entry point,
// missing), the remote path against the simulated media agent with every
// reply kind, and the DR size factor.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <boost/any.hpp>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "IBMTape/ProxyTapeAPI.h"
#include "KXPlatformInfo.h"
#include "MediaManagerMsgs.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimMediaAgent.h"

namespace {

const char kLocal[] = "127.0.0.1*proxy01";
const char kRemote[] = "127.0.0.1*ma01";
const std::string kLibraries = PROXY_TAPELIB_DIR;

class TapeAPITest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedLog = g_ptrLogWriter;
    boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
    writer->SetCapture(true);
    writer->SetLevel(5);
    g_ptrLogWriter = writer;
    RecordRegistry::Instance().Reset();
    RecordRegistry::Instance().AddClient(10, "proxy01", 0);
    RecordRegistry::Instance().AddClient(11, "ma01", 0);
    ASSERT_EQ(0, KXPlatformInfo().setString("Machine", "sClientName", "proxy01", 7));
    ProxyTapeAPI::ResetCaches();
    UseLibraries("full");
  }
  void TearDown() override {
    agent.Stop();
    unsetenv("PROXY_LIBRARY_DIR");
    ProxyTapeAPI::ResetCaches();
    RecordRegistry::Instance().Reset();
    g_ptrLogWriter = m_savedLog;
  }
  static void UseLibraries(const std::string& variant) {
    setenv("PROXY_LIBRARY_DIR", (kLibraries + "/" + variant).c_str(), 1);
  }
  // The stand-in library's script and call log, once it is loaded.
  static void ScriptLibrary(const std::string& variant, int failure, long long chunk, unsigned long long size) {
    void* handle = ::dlopen((kLibraries + "/" + variant + "/libKxIBMTape.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_TRUE(handle) << "the library is not loaded";
    auto script = reinterpret_cast<void (*)(int, long long, unsigned long long)>(::dlsym(handle, "KxIBMTapeFake_Script"));
    script(failure, chunk, size);
    ::dlclose(handle);  // the loader's own reference keeps it loaded
  }
  static std::string LibraryCalls(const std::string& variant) {
    void* handle = ::dlopen((kLibraries + "/" + variant + "/libKxIBMTape.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return "(not loaded)";
    auto calls = reinterpret_cast<const char* (*)()>(::dlsym(handle, "KxIBMTapeFake_Calls"));
    std::string text = calls();
    ::dlclose(handle);
    return text;
  }
  size_t LogCount(const std::string& fragment) const {
    size_t count = 0;
    for (const std::string& line : g_ptrLogWriter->CapturedLines())
      if (line.find(fragment) != std::string::npos) ++count;
    return count;
  }

  boost::shared_ptr<FXLogWriter> m_savedLog;
  ScopedSettingsRoot settingsRoot;
  SimMediaAgent agent{"127.0.0.1"};
};

TEST_F(TapeAPITest, MediaAgentCheck) {
  EXPECT_TRUE(ProxyTapeAPI::isSameAsMA(kLocal));
  EXPECT_TRUE(ProxyTapeAPI::isSameAsMA(kLocal));
  EXPECT_EQ(1u, LogCount("Media Agent is proxy01 (10)"));  // looked up once
  EXPECT_FALSE(ProxyTapeAPI::isSameAsMA(kRemote));
  EXPECT_EQ(11u, ProxyTapeAPI::m_ulMAClientId);
  EXPECT_EQ(kRemote, ProxyTapeAPI::m_sMAMangledName);
  // A failed lookup after a local one leaves no id behind: never "local".
  EXPECT_TRUE(ProxyTapeAPI::isSameAsMA(kLocal));
  EXPECT_FALSE(ProxyTapeAPI::isSameAsMA("127.0.0.1*ghost"));
  EXPECT_EQ(0u, ProxyTapeAPI::m_ulMAClientId);
  EXPECT_FALSE(ProxyTapeAPI::isSameAsMA("127.0.0.1*ghost"));

  // While the local client is unknown, nothing is local.
  ProxyTapeAPI::ResetCaches();
  ASSERT_EQ(0, KXPlatformInfo().setString("Machine", "sClientName", "nobody", 6));
  EXPECT_FALSE(ProxyTapeAPI::isSameAsMA(kLocal));
  EXPECT_EQ(0u, ProxyTapeAPI::m_ulLocalClientId);
}

TEST_F(TapeAPITest, LocalCalls) {
  // The first call loads the library; later ones reuse its entry points.
  ASSERT_FALSE(ProxyTapeAPI::initializeIBMTape(1, kLocal, "init", "VOL001").IsError());
  ScriptLibrary("full", 0, 1LL << 33, (1ULL << 32) + 5);
  long long chunk = 0;
  ASSERT_FALSE(ProxyTapeAPI::getTapeSize(2, kLocal, "chunk", 7, 8, chunk).IsError());
  EXPECT_EQ(1LL << 33, chunk);
  unsigned int size = 99;
  ASSERT_FALSE(ProxyTapeAPI::GetDefaultTapeSize(kLocal, size).IsError());
  EXPECT_EQ(5u, size);  // the low 32 bits
  EXPECT_EQ("getVolumeChunkSize(chunk,7,8);getDefaultVTLTapeSize();", LibraryCalls("full"));

  // The library's failure is the call's; the size is still taken.
  ScriptLibrary("full", 7, 0, 3);
  CWqError failed = ProxyTapeAPI::initializeIBMTape(1, kLocal, "init", "VOL002");
  EXPECT_TRUE(FXErrorUtil::IsInt(failed, 7)) << failed.AsString();
  EXPECT_TRUE(FXErrorUtil::IsInt(ProxyTapeAPI::GetDefaultTapeSize(kLocal, size), 7));
  EXPECT_EQ(3u, size);
  EXPECT_TRUE(agent.Requests().empty());
}

TEST_F(TapeAPITest, MissingLibraryOrEntryPoint) {
  UseLibraries("none");
  for (int attempt = 0; attempt < 2; ++attempt) {
    CWqError result = ProxyTapeAPI::initializeIBMTape(1, kLocal, "init", "VOL001");
    EXPECT_TRUE(result.IsError());
    EXPECT_NE(std::string::npos,
              result.AsString().find("KxIBMTape not loaded. Make sure require packages are installed."));
  }
  unsigned int size = 9;
  EXPECT_TRUE(ProxyTapeAPI::GetDefaultTapeSize(kLocal, size).IsError());
  EXPECT_EQ(0u, size);
  // Once the library can be loaded, the same call works.
  UseLibraries("partial");
  EXPECT_FALSE(ProxyTapeAPI::initializeIBMTape(1, kLocal, "init", "VOL001").IsError());
  long long chunk = 42;
  CWqError missing = ProxyTapeAPI::getTapeSize(2, kLocal, "chunk", 1, 2, chunk);
  EXPECT_NE(std::string::npos, missing.AsString().find(
                                   "Failed to locate API getVolumeChunkSize. Make sure latest packages are installed."))
      << missing.AsString();
  EXPECT_EQ(42, chunk);
}

TEST_F(TapeAPITest, RemoteCalls) {
  ASSERT_FALSE(agent.Start().IsError());
  const std::string libraryCalls = LibraryCalls("full");
  using Answer = SimMediaAgent::Answer;
  const uint32_t other = (10u << 24) | 0x99;

  // initializeIBMTape: an error reply of code 0 is success, another fails.
  agent.Script(Answer::Error(0, ""));
  EXPECT_FALSE(ProxyTapeAPI::initializeIBMTape(123, kRemote, "init", "VOL001").IsError());
  agent.Script(Answer::Error(5, "drive busy"));
  CWqError busy = ProxyTapeAPI::initializeIBMTape(123, kRemote, "init", "VOL001");
  EXPECT_TRUE(FXErrorUtil::IsInt(busy, 5));
  EXPECT_NE(std::string::npos, busy.AsString().find("Got error message 5 drive busy"));

  // getTapeSize: the size, or an error reply whatever its code.
  long long chunk = 0;
  agent.Script(Answer::ChunkSize(1LL << 40));
  ASSERT_FALSE(ProxyTapeAPI::getTapeSize(7, kRemote, "chunk", 100, 200, chunk).IsError());
  EXPECT_EQ(1LL << 40, chunk);
  agent.Script(Answer::Error(0, "no such volume"));
  EXPECT_TRUE(FXErrorUtil::IsInt(ProxyTapeAPI::getTapeSize(7, kRemote, "chunk", 1, 2, chunk), 0));
  EXPECT_EQ(1LL << 40, chunk);

  // GetDefaultTapeSize: the low 32 bits of the size.
  unsigned int size = 0;
  agent.Script(Answer::TapeSize((1LL << 32) + 7));
  ASSERT_FALSE(ProxyTapeAPI::GetDefaultTapeSize(kRemote, size).IsError());
  EXPECT_EQ(7u, size);

  // The event of an unexpected reply carries its six parameters.
  struct Unexpected {
    const char* what;
    Answer answer;
    std::function<CWqError()> call;
    bool hasReply;
    uint32_t expectedTag;
    const char* expectedName;
  } cases[] = {
      {"init, other tag", Answer::OtherTag(), [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); },
       true, MediaManager::Tag_QErrorMsg, "QErrorMsg"},
      {"chunk, no message", Answer::NoMessage(),
       [&] { return ProxyTapeAPI::getTapeSize(1, kRemote, "t", 1, 2, chunk); }, false,
       MediaManager::Tag_GetChunkSizeOnMediaResp, "GetChunkSizeOnMediaResp"},
      {"default, other tag", Answer::OtherTag(), [&] { return ProxyTapeAPI::GetDefaultTapeSize(kRemote, size); },
       true, MediaManager::Tag_GetTapeSizeResp, "getDefaultVTLTapeSize"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    agent.Script(c.answer);
    CWqError result = c.call();
    EXPECT_EQ(FX_ERROR_EVENT_MESSAGE, result.GetKind());
    EXPECT_EQ(EV_TAPE_REPLY_UNEXPECTED, static_cast<uint32_t>(result.GetNumber()));
    std::vector<boost::any> p = result.GetParameters();
    ASSERT_EQ(6u, p.size());
    EXPECT_EQ("IBMIVTL", boost::any_cast<std::string>(p[0]));
    EXPECT_EQ(kRemote, boost::any_cast<std::string>(p[1]));
    if (c.hasReply) {
      EXPECT_EQ(static_cast<uint64_t>(other), boost::any_cast<uint64_t>(p[2]));
      EXPECT_EQ("CNMessage_10_153", boost::any_cast<std::string>(p[3]));
      EXPECT_EQ(c.expectedTag, static_cast<uint32_t>(boost::any_cast<MediaManager::TagType>(p[4])));
    } else {
      EXPECT_EQ(0, boost::any_cast<int>(p[2]));
      EXPECT_EQ("(NULL)", boost::any_cast<std::string>(p[3]));
      EXPECT_EQ(static_cast<int>(c.expectedTag), boost::any_cast<int>(p[4]));
    }
    EXPECT_EQ(c.expectedName, boost::any_cast<std::string>(p[5]));
  }

  // A lost link and a refused attach are the network's errors.
  agent.Script(Answer::NoReply());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(ProxyTapeAPI::getTapeSize(1, kRemote, "t", 1, 2, chunk), ENOTCONN));
  agent.RefuseNextAttach();
  CWqError refused = ProxyTapeAPI::GetDefaultTapeSize(kRemote, size);
  EXPECT_NE(std::string::npos,
            refused.AsString().find("Failed to launch remote DLL [sLNIBMIVTLHandler][sLPIBMIVTLHandler] on MA"))
      << refused.AsString();
  EXPECT_EQ(0u, size);

  // What the agent saw: the handler pair, this machine's name, the fields.
  std::vector<SimMediaAgent::Request> requests = agent.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ("sLNIBMIVTLHandler", requests[0].firstHandler);
  EXPECT_EQ("sLPIBMIVTLHandler", requests[0].secondHandler);
  EXPECT_EQ("proxy01", requests[0].caller);
  CNMessageBase init(0, 0);
  ASSERT_EQ(CN_PARSE_OK, init.unserialize(requests[0].xml));
  EXPECT_EQ(MediaManager::Tag_InitializeIBMTape, init.getTagID());
  EXPECT_EQ(123, init.getint64(1));
  EXPECT_EQ("init", init.getstring(2));
  EXPECT_EQ("VOL001", init.getstring(3));
  CNMessageBase chunkRequest(0, 0);
  ASSERT_EQ(CN_PARSE_OK, chunkRequest.unserialize(requests[2].xml));
  EXPECT_EQ(100, chunkRequest.getint64(3));
  EXPECT_EQ(200, chunkRequest.getint64(4));
  EXPECT_EQ(libraryCalls, LibraryCalls("full"));  // nothing went to the local library
}

TEST_F(TapeAPITest, DRSizeFactor) {
  EXPECT_FLOAT_EQ(1.2f, ProxyTapeAPI::DRBackupSizeMultiplicationFactor());
  for (unsigned long setting : {2ul, 5ul}) {
    ASSERT_EQ(0, KXPlatformInfo().setNumber("FileSystemAgent", "DRBackupSizeMultiplicationFactor", setting));
    EXPECT_FLOAT_EQ(static_cast<float>(setting * 1.2), ProxyTapeAPI::DRBackupSizeMultiplicationFactor());
  }
}

}  // namespace
