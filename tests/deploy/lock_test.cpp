// The client's named lock around the installation check: held by another
// process, the check waits, and goes on once that process dies; two holders
// in one process exclude each other too.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "DeployTestUtil.h"
#include "FXThread.h"
#include "KxNamedMutex.h"

namespace {

using namespace deploytest;

class LockTest : public DeployTest {};

TEST_F(LockTest, CheckWaitsForAnotherProcessAndGoesOnWhenItDies) {
  // A check that is not due: it makes no remote call once it has the lock.
  KXPlatformInfo().setNumber("ProxyClients/vms1", "checkBinary", static_cast<unsigned long>(FXTime() + 3600));
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient, "127.0.0.1");

  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  KxNamedMutex held("vms1_versionCheckLock");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char byte = held.lock() == 0 ? 'y' : 'n';
    if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  ::close(ready[0]);
  ASSERT_EQ('y', byte);

  std::atomic<bool> done{false};
  std::thread check([&] {
    EXPECT_FALSE(manager->isClientInstalledAndUptodate(nullptr, 0).IsError());
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(done.load());
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  check.join();
  EXPECT_TRUE(done.load());
  EXPECT_TRUE(tools.SshCalls().empty());
}

TEST_F(LockTest, ThreadsExcludeEachOther) {
  KxNamedMutex first("ibmi1_versionCheckLock");
  ASSERT_EQ(0, first.lock());
  std::atomic<bool> taken{false};
  std::thread other([&] {
    KxNamedMutex second("ibmi1_versionCheckLock");
    EXPECT_EQ(0, second.lock());
    taken = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(taken.load());
  first.unlock();
  other.join();
  EXPECT_TRUE(taken.load());

  // Names that differ only in characters a file name cannot hold stay apart.
  EXPECT_NE(KxNamedMutex("a/b").path(), KxNamedMutex("a_b").path());
}

// Long names that differ only far back keep locks of their own, each a file
// name the file system takes.
TEST_F(LockTest, LongNamesStayApart) {
  const std::string letters(250, 'c');
  const std::string escaped(120, '/');  // three characters each once escaped
  const struct {
    std::string first, second;
  } cases[] = {
      {letters + "1_versionCheckLock", letters + "2_versionCheckLock"},
      {escaped + "a", escaped + "b"},
      {letters, letters + "c"},
      {std::string(200, 'c'), std::string(201, 'c')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.size());
    KxNamedMutex first(c.first), second(c.second);
    EXPECT_NE(first.path(), second.path());
    ASSERT_EQ(0, first.lock());
    std::future<int> other = std::async(std::launch::async, [&] { return second.lock(); });
    // A shared file would keep the second waiting for the first.
    const bool apart = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    first.unlock();
    EXPECT_TRUE(apart);
    EXPECT_EQ(0, other.get());
    EXPECT_EQ(first.path(), KxNamedMutex(c.first).path());
  }
}

}  // namespace
