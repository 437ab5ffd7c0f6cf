// The IBM i tape interface: the media-agent check and its caches, the local
// path through the run-time tape library (whole, lacking an entry point,
// missing), the remote path against the simulated media agent with every
// reply kind, and the DR size factor.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
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
#include "core/TestSupport.h"

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

// A media agent that takes the call and says nothing: every remote call
// ends after TIMEOUT_TAPE_REMOTE_CALL with ETIME, whichever step it waits in.
TEST_F(TapeAPITest, RemoteCallsAreBounded) {
  ASSERT_EQ(0, KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_TAPE_REMOTE_CALL", 1));
  ASSERT_FALSE(agent.Start().IsError());
  long long chunk = 5;
  unsigned int size = 5;
  const struct {
    const char* what;
    bool atAttach;
    std::function<CWqError()> call;
  } cases[] = {
      {"initialize, silent reply", false, [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); }},
      {"chunk size, silent reply", false, [&] { return ProxyTapeAPI::getTapeSize(1, kRemote, "t", 1, 2, chunk); }},
      {"default size, silent reply", false, [&] { return ProxyTapeAPI::GetDefaultTapeSize(kRemote, size); }},
      {"initialize, silent attach", true, [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.atAttach) {
      agent.IgnoreNextAttach();
    } else {
      agent.Script(SimMediaAgent::Answer::Silent());
    }
    auto called = std::async(std::launch::async, c.call);
    if (called.wait_for(std::chrono::seconds(15)) != std::future_status::ready) {
      ADD_FAILURE() << "the call still waits";
      agent.Stop();  // closes the link, which ends the wait
      called.wait();
      return;
    }
    CWqError result = called.get();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  }
  EXPECT_EQ(5, chunk);
  EXPECT_EQ(0u, size);
}

// Replies that are not what they look like: an error reply without an
// integer code or with two, a size reply without its size, and a message of
// another id whose packed tag would equal an expected one.
TEST_F(TapeAPITest, MalformedReplies) {
  ASSERT_FALSE(agent.Start().IsError());
  using Answer = SimMediaAgent::Answer;
  auto message = [](int id, const std::string& fields) {
    return Answer::RawXml("<CNMessage ns=\"10\" id=\"" + std::to_string(id) + "\">" + fields + "</CNMessage>");
  };
  long long chunk = 5;
  unsigned int size = 5;
  const struct {
    const char* what;
    Answer answer;
    std::function<CWqError()> call;
    bool unexpected;  // EV_TAPE_REPLY_UNEXPECTED, else EPROTO
  } cases[] = {
      {"error reply without a code", message(2, "<Field position=\"2\" type=\"strings\"><String>x</String></Field>"),
       [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); }, false},
      // Two codes, the later a success: the reply does not parse, so neither is taken.
      {"error reply giving its code twice",
       message(2, "<Field position=\"1\" type=\"int64\">5</Field><Field position=\"1\" type=\"int64\">0</Field>"),
       [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); }, false},
      {"error reply with a text code",
       message(2, "<Field position=\"1\" type=\"strings\"><String>0</String></Field>"),
       [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); }, false},
      {"error reply without a code, chunk size", message(2, ""),
       [&] { return ProxyTapeAPI::getTapeSize(1, kRemote, "t", 1, 2, chunk); }, false},
      {"size reply without its size", message(0xaa, ""),
       [&] { return ProxyTapeAPI::getTapeSize(1, kRemote, "t", 1, 2, chunk); }, false},
      {"tape size reply without its size", message(0xab, ""),
       [&] { return ProxyTapeAPI::GetDefaultTapeSize(kRemote, size); }, false},
      {"another id packed onto the size reply's tag",
       message(13744669, "<Field position=\"6\" type=\"int64\">77</Field>"),
       [&] { return ProxyTapeAPI::getTapeSize(1, kRemote, "t", 1, 2, chunk); }, true},
      {"another id packed onto the error reply's tag", message(0x1000002, "<Field position=\"1\" type=\"int64\">0</Field>"),
       [] { return ProxyTapeAPI::initializeIBMTape(1, kRemote, "t", "V"); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    agent.Script(c.answer);
    CWqError result = c.call();
    ASSERT_TRUE(result.IsError());
    if (c.unexpected) {
      EXPECT_EQ(EV_TAPE_REPLY_UNEXPECTED, static_cast<uint32_t>(result.GetNumber())) << result.AsString();
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
    }
  }
  EXPECT_EQ(5, chunk);
  EXPECT_EQ(0u, size);
}

// No media agent named: a clear refusal, nothing thrown, nothing sent.
TEST_F(TapeAPITest, NoMediaAgent) {
  ASSERT_FALSE(agent.Start().IsError());
  long long chunk = 5;
  unsigned int size = 5;
  const std::function<CWqError()> calls[] = {
      [] { return ProxyTapeAPI::initializeIBMTape(1, nullptr, "t", "V"); },
      [&] { return ProxyTapeAPI::getTapeSize(1, nullptr, "t", 1, 2, chunk); },
      [&] { return ProxyTapeAPI::GetDefaultTapeSize(nullptr, size); },
      [] { return ProxyTapeAPI::initializeIBMTape(1, "", "t", "V"); },
  };
  for (const auto& call : calls) {
    CWqError result;
    EXPECT_NO_THROW(result = call());
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
  }
  EXPECT_EQ(5, chunk);
  EXPECT_EQ(0u, size);
  EXPECT_TRUE(agent.Requests().empty());
}

// The tape library runs in this process: it is loaded only from an
// absolute folder that nobody else can write, and only when the file and
// the folder belong to root or this user and others cannot write the file.
TEST_F(TapeAPITest, LibraryFolderMustBeSafe) {
  const coretest::ScopedTempFolder scratch("tapelib");
  ASSERT_FALSE(scratch.path().empty());
  const std::string top = scratch.path();
  const std::string folder = top + "/lib";
  const std::string file = folder + "/libKxIBMTape.so";
  const std::string source = kLibraries + "/full/libKxIBMTape.so";
  auto fresh = [&] {
    std::system(("rm -rf '" + folder + "' && mkdir -m 0755 '" + folder + "' && cp '" + source + "' '" + file +
                 "' && chmod 0755 '" + file + "'").c_str());
  };
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
  const struct {
    const char* what;
    std::function<void()> spoil;
    bool relative;
    const char* reason;  // null: loads
  } cases[] = {
      {"a relative folder", [] {}, true, "not an absolute"},
      {"a folder others can write", [&] { chmod(folder.c_str(), 0777); }, false, "writable"},
      {"a folder the group can write", [&] { chmod(folder.c_str(), 0775); }, false, "writable"},
      {"a file others can write", [&] { chmod(file.c_str(), 0757); }, false, "writable"},
      {"a file of another user", [&] { (void)!chown(file.c_str(), 4242, 4242); }, false, "owned"},
      {"a folder of another user", [&] { (void)!chown(folder.c_str(), 4242, 4242); }, false, "owned"},
      {"a safe folder", [] {}, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Only root can give a file to another user.
    if (c.reason && std::string(c.reason) == "owned" && geteuid() != 0) continue;
    ProxyTapeAPI::ResetCaches();
    fresh();
    c.spoil();
    if (c.relative) {
      ASSERT_EQ(0, chdir(top.c_str()));
      setenv("PROXY_LIBRARY_DIR", "lib", 1);
    } else {
      setenv("PROXY_LIBRARY_DIR", folder.c_str(), 1);
    }
    CWqError result = ProxyTapeAPI::initializeIBMTape(1, kLocal, "init", "VOL001");
    ASSERT_EQ(0, chdir(cwd));
    if (!c.reason) {
      EXPECT_FALSE(result.IsError()) << result.AsString();
      continue;
    }
    EXPECT_TRUE(result.IsError());
    EXPECT_NE(std::string::npos, result.AsString().find("KxIBMTape not loaded")) << result.AsString();
    EXPECT_NE(std::string::npos, result.AsString().find(c.reason)) << result.AsString();
  }
}

TEST_F(TapeAPITest, DRSizeFactor) {
  EXPECT_FLOAT_EQ(1.2f, ProxyTapeAPI::DRBackupSizeMultiplicationFactor());
  for (unsigned long setting : {2ul, 5ul}) {
    ASSERT_EQ(0, KXPlatformInfo().setNumber("FileSystemAgent", "DRBackupSizeMultiplicationFactor", setting));
    EXPECT_FLOAT_EQ(static_cast<float>(setting * 1.2), ProxyTapeAPI::DRBackupSizeMultiplicationFactor());
  }
}

}  // namespace
