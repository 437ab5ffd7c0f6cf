// Hook files count only when owned by root or by this process's user, judged
// without following links; "failAccept" ends the process at the accept.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "CoreTestUtil.h"

using namespace coretest;

namespace {

const uid_t kOtherUser = 65534;

TEST(ProxyHookFileTest, LivesInTmpByDefault) {
  EXPECT_EQ("/tmp/failAccept", ProxyHookFile::Path("failAccept"));
  EXPECT_EQ("/tmp/vtl", ProxyHookFile::Path("vtl"));
}

TEST(ProxyHookFileTest, CountsOnlyWhenOwnedByRootOrThisUser) {
  ScopedHookFolder hooks;
  ASSERT_FALSE(hooks.path().empty());
  EXPECT_FALSE(ProxyHookFile::IsHonoured(ProxyHookFile::Path("vtl")));
  ASSERT_TRUE(hooks.Create("vtl"));
  EXPECT_EQ(hooks.Path("vtl"), ProxyHookFile::Path("vtl"));
  EXPECT_TRUE(ProxyHookFile::IsHonoured(ProxyHookFile::Path("vtl")));

  if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  // Another user's file, and another user's link to a file of ours.
  ASSERT_TRUE(hooks.Create("foreign"));
  ASSERT_EQ(0, ::chown(hooks.Path("foreign").c_str(), kOtherUser, kOtherUser));
  EXPECT_FALSE(ProxyHookFile::IsHonoured(hooks.Path("foreign")));
  ASSERT_TRUE(hooks.Symlink(hooks.Path("vtl"), "foreignLink"));
  ASSERT_EQ(0, ::lchown(hooks.Path("foreignLink").c_str(), kOtherUser, kOtherUser));
  EXPECT_FALSE(ProxyHookFile::IsHonoured(hooks.Path("foreignLink")));
  // Our own link counts as ours, wherever it points.
  ASSERT_TRUE(hooks.Symlink(hooks.Path("foreign"), "ownLink"));
  EXPECT_TRUE(ProxyHookFile::IsHonoured(hooks.Path("ownLink")));
}

TEST(FailAcceptHookTest, EndsTheProcessWithStatus1) {
  ScopedHookFolder hooks;
  ASSERT_FALSE(hooks.path().empty());
  boost::shared_ptr<FXLogWriter> saved = g_ptrLogWriter;
  g_ptrLogWriter.reset(new FXLogWriter);  // level 0, to stderr
  TestPhase phase;
  // The file is made in the child only; the folder goes with this scope.
  EXPECT_EXIT(
      {
        hooks.Create("failAccept");
        phase.acceptClientProcessConnection();
      },
      ::testing::ExitedWithCode(1), "file /tmp/failAccept exists\\. exiting");
  g_ptrLogWriter = saved;
}

TEST(FailAcceptHookTest, AnotherUsersFileIsIgnored) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  ScopedHookFolder hooks;
  ASSERT_TRUE(hooks.Create("failAccept"));
  ASSERT_EQ(0, ::chown(hooks.Path("failAccept").c_str(), kOtherUser, kOtherUser));
  TestPhase phase;
  // Goes on to the accept, which has no listener before init.
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.acceptClientProcessConnection(), ENOTCONN));
}

}  // namespace
