#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <boost/any.hpp>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"

TEST(CWqErrorTest, SuccessAndCodes) {
  CWqError ok;
  EXPECT_FALSE(ok.IsError());
  EXPECT_EQ(0, CWqError::Success().GetCode());
  EXPECT_EQ("Success", ok.AsString());
}

TEST(CWqErrorTest, MakersGiveFailuresOfTheirKindWhateverTheNumber) {
  struct Case {
    CWqError error;
    FXErrorKind kind;
    int64_t number;
  } cases[] = {
      {FXErrorUtil::ErrorInt(FX_HERE, 0), FX_ERROR_INT, 0},
      {FXErrorUtil::ErrorInt(FX_HERE, 5, "status %d", 5), FX_ERROR_INT, 5},
      {FXErrorUtil::ErrorInt(FX_HERE, -3), FX_ERROR_INT, -3},
      {FXErrorUtil::ErrorErrNo(FX_HERE, 62, "timed out"), FX_ERROR_ERRNO, 62},
      {FXErrorUtil::ErrorWin32(FX_HERE, 1627), FX_ERROR_WIN32, 1627},
      {FXErrorUtil::ErrorEventMessage(FX_HERE, 0x060000AF, "launch"), FX_ERROR_EVENT_MESSAGE,
       0x060000AF},
      {FXErrorUtil::ErrorKXResult(FX_HERE, 7), FX_ERROR_KX_RESULT, 7},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.error.IsError());
    EXPECT_LT(c.error.GetCode(), 0);
    EXPECT_EQ(c.kind, c.error.GetKind());
    EXPECT_EQ(c.number, c.error.GetNumber());
  }
  EXPECT_TRUE(FXErrorUtil::IsInt(cases[1].error, 5));
  EXPECT_EQ(5, FXErrorUtil::GetInt(cases[1].error));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(cases[3].error, 62));
  EXPECT_FALSE(FXErrorUtil::IsNotErrNo(cases[3].error, 62));
  EXPECT_TRUE(FXErrorUtil::IsNotErrNo(cases[3].error, 111));
  EXPECT_EQ(62, FXErrorUtil::GetErrNo(cases[3].error));
  EXPECT_EQ(0, FXErrorUtil::GetErrNo(cases[1].error));  // another kind
  EXPECT_FALSE(FXErrorUtil::IsErrNo(cases[4].error, 1627));
  EXPECT_TRUE(FXErrorUtil::IsWin32(cases[4].error, 1627));
  EXPECT_EQ(0x060000AFu, FXErrorUtil::GetEventMessage(cases[5].error));
  EXPECT_TRUE(FXErrorUtil::IsNotEventMessage(cases[5].error, 0x060000A5));
  EXPECT_FALSE(FXErrorUtil::IsErrNo(CWqError::Success(), 0));
  EXPECT_FALSE(FXErrorUtil::IsInt(CWqError::Success(), 0));
}

TEST(CWqErrorTest, CopiesShareTheChainAndKeepTheKind) {
  CWqError original = FXErrorUtil::ErrorErrNo(FX_HERE, 111, "refused");
  CWqError copy = original;
  copy.Push(FX_HERE, "Failed to connect to server");
  copy << "first" << static_cast<const char*>(nullptr);
  EXPECT_EQ(2u, original.GetFrames().size());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(copy, 111));
  ASSERT_EQ(2u, original.GetParameters().size());
  EXPECT_EQ("", boost::any_cast<std::string>(original.GetParameters()[1]));
  std::string text = original.AsString();
  // Newest frame first, then the one that made the error.
  size_t pushed = text.find("Failed to connect to server");
  size_t made = text.find("refused");
  ASSERT_NE(std::string::npos, pushed);
  ASSERT_NE(std::string::npos, made);
  EXPECT_LT(pushed, made);
  EXPECT_NE(std::string::npos, text.find("errno 111"));
  EXPECT_NE(std::string::npos, text.find("first"));
}

// Error texts and event arguments show a parameter the same way, whatever
// integer or string type it was given as.
TEST(CWqErrorTest, ParametersOfEveryStringAndIntegerTypeShowAsText) {
  char name[] = "lib";
  CWqError error = FXErrorUtil::ErrorInt(FX_HERE, 1);
  error << "a" << boost::any(std::string("b")) << boost::any(static_cast<char*>(name))
        << boost::any(-3) << boost::any(4u) << boost::any(5L) << boost::any(6UL) << boost::any(7LL)
        << boost::any(18446744073709551615ULL) << boost::any(2.5);
  EXPECT_NE(std::string::npos,
            error.AsString().find("[a, b, lib, -3, 4, 5, 6, 7, 18446744073709551615, ?]"))
      << error.AsString();
}

TEST(FXLogWriterTest, LevelsAndCategories) {
  FXLogWriter writer;
  writer.SetLevel(2);
  writer.SetCategoryMask(FX_LOG_CATEGORY_CONNECTION);
  EXPECT_TRUE(writer.IsEnabled(-1, FX_LOG_CATEGORY_FILE_RECORD));
  EXPECT_TRUE(writer.IsEnabled(2));
  EXPECT_FALSE(writer.IsEnabled(3));
  EXPECT_TRUE(writer.IsEnabled(2, FX_LOG_CATEGORY_CONNECTION));
  EXPECT_FALSE(writer.IsEnabled(0, FX_LOG_CATEGORY_FILE_RECORD));
  EXPECT_FALSE(writer.IsEnabled(3, FX_LOG_CATEGORY_CONNECTION));
}

namespace {
int g_formatted = 0;
const char* CountingArgument() {
  ++g_formatted;
  return "x";
}
}  // namespace

TEST(FXLogWriterTest, WritesOnlyEnabledLinesAndFormatsNothingElse) {
  boost::shared_ptr<FXLogWriter> saved = g_ptrLogWriter;
  g_ptrLogWriter.reset(new FXLogWriter);
  g_ptrLogWriter->SetQuiet(true);
  g_ptrLogWriter->SetCapture(true);
  g_ptrLogWriter->SetLevel(1);
  g_formatted = 0;
  FX_LOG(2, "hidden %s", CountingArgument());
  FX_LOG_CAT(0, FX_LOG_CATEGORY_FILE_RECORD, "hidden too %s", CountingArgument());
  EXPECT_EQ(0, g_formatted);
  FX_LOG(1, "shown %d", 7);
  FX_LOG(-1, "always %s", "there");
  int value = 3;
  FX_ASSUME(value == 4);
  EXPECT_EQ((std::vector<std::string>{"shown 7", "always there", "value == 4"}),
            g_ptrLogWriter->CapturedLines());
  g_ptrLogWriter = saved;
}

TEST(FXLogWriterTest, LinesCarryLevelFunctionAndLine) {
  char path[] = "/tmp/proxylogXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  FXLogWriter writer;
  ASSERT_TRUE(writer.SetDestination(path));
  writer.Write(-1, FXCodeLocation("file.cpp", "int f(int)", 42), "text %d", 1);
  writer.SetDestination("");
  FILE* in = fopen(path, "r");
  ASSERT_NE(nullptr, in);
  char line[512] = {0};
  ASSERT_NE(nullptr, fgets(line, sizeof line, in));
  fclose(in);
  unlink(path);
  std::string text(line);
  EXPECT_NE(std::string::npos, text.find(" -1 int f(int):42 text 1\n")) << text;
  EXPECT_FALSE(writer.SetDestination("/nonexistent-dir/x.log"));
}

namespace {

// The descriptor flags of this process's open descriptor of `path`; -1 when
// it has none.
int DescriptorFlagsOf(const std::string& path) {
  char wanted[PATH_MAX];
  if (!realpath(path.c_str(), wanted)) return -1;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int flags = -1;
  while (dirent* entry = readdir(dir)) {
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    char target[PATH_MAX];
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::string(target) == wanted) {
      flags = fcntl(std::atoi(entry->d_name), F_GETFD);
      break;
    }
  }
  closedir(dir);
  return flags;
}

}  // namespace

// The host runs local programs (ssh wrapper, copy tool): they must not
// inherit the log file.
TEST(FXLogWriterTest, LogFileIsClosedOnExec) {
  char path[] = "/tmp/proxylogXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  FXLogWriter writer;
  ASSERT_TRUE(writer.SetDestination(path));
  int flags = DescriptorFlagsOf(path);
  writer.SetDestination("");
  unlink(path);
  ASSERT_NE(-1, flags) << "no open descriptor of the log file";
  EXPECT_TRUE(flags & FD_CLOEXEC);
}
