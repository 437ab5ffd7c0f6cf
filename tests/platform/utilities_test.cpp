#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <limits>

#include "CTimeStamp.h"
#include "CWqString.h"
#include "FXClock.h"
#include "FXThread.h"
#include "auto_ptr_array.h"
#include "core/TestSupport.h"

TEST(CTimeStampTest, FromUnixTime) {
  EXPECT_EQ(0, CTimeStamp::FromUnixTime(0));
  EXPECT_EQ(116444736010000000LL, CTimeStamp::FromUnixTime(1));
  EXPECT_EQ(116444736000000000LL - 10000000LL, CTimeStamp::FromUnixTime(-1));
  EXPECT_EQ(42, CTimeStamp(42).Ticks());
  // Beyond the tick range the result saturates instead of wrapping.
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const int64_t kLast = (kMax - CTimeStamp::kUnixEpochTicks) / 10000000LL;
  EXPECT_EQ(kLast * 10000000LL + CTimeStamp::kUnixEpochTicks, CTimeStamp::FromUnixTime(kLast));
  for (int64_t t : {int64_t(kLast + 1), int64_t(1e12), kMax}) EXPECT_EQ(kMax, CTimeStamp::FromUnixTime(t)) << t;
  for (int64_t t : {int64_t(kMin / 10000000LL - 1), int64_t(-1e12), kMin}) EXPECT_EQ(kMin, CTimeStamp::FromUnixTime(t)) << t;
}

TEST(AutoPtrArrayTest, ResetFreesOnlyWhatItReplaces) {
  char* first = new char[8];
  auto_ptr_array<char> holder(first);
  EXPECT_EQ(first, holder.get());
  holder.reset(first);  // same pointer: kept, nothing freed (ASan would see a double free)
  EXPECT_EQ(first, holder.get());
  char* second = new char[4];
  holder.reset(second);  // frees `first`
  EXPECT_EQ(second, holder.get());
  auto_ptr_array<char> empty;
  EXPECT_EQ(nullptr, empty.get());
}

TEST(CWqStringTest, EmptyStringsGiveEmptyText) {
  EXPECT_STREQ("", CWqString().c_str());
  EXPECT_STREQ("", CWqString(static_cast<const char*>(nullptr)).c_str());
  EXPECT_STREQ("abc", CWqString("abc").c_str());
  EXPECT_EQ(nullptr, CAutoMemory<char>().Ptr_const());
  const char bytes[] = {'x', 'y'};
  CAutoMemory<char> block(bytes, 2);
  ASSERT_NE(nullptr, block.Ptr_const());
  EXPECT_EQ('y', block.Ptr_const()[1]);
}

TEST(FXClockTest, VirtualClockRecordsSleepsAndMovesTime) {
  FXScopedVirtualClock scoped;
  int64_t before = FXGetClock().MonotonicMs();
  int64_t unixBefore = FXTime();
  FXThread::Sleep(120000);  // two minutes, at once
  FXThread::Sleep(0);
  EXPECT_EQ(before + 120000, FXGetClock().MonotonicMs());
  EXPECT_EQ(unixBefore + 120, FXTime());
  EXPECT_EQ((std::vector<int64_t>{120000, 0}), scoped.clock().Sleeps());
}

// A wait on a descriptor under a virtual clock: data ends it, moving the
// clock past its limit ends it, and so does its span of real time for a
// test that never moves the clock.
TEST(FXClockTest, VirtualClockEndsDescriptorWaits) {
  int pair[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  FXScopedVirtualClock scoped;
  FXVirtualClock& clock = scoped.clock();

  auto waited = std::async(std::launch::async, [&] { return FXGetClock().WaitForDescriptor(pair[0], POLLIN, 600000); });
  // A failed check returns while the long wait may still run: a byte ends it
  // before the future's destructor would wait for it; then both ends close.
  struct EndWait {
    int* ends;
    decltype(waited)* wait;
    ~EndWait() {
      if (wait->valid()) {
        if (wait->wait_for(std::chrono::seconds(0)) != std::future_status::ready) (void)!::write(ends[1], "x", 1);
        wait->wait();
      }
      ::close(ends[0]);
      ::close(ends[1]);
    }
  } endWait{pair, &waited};
  coretest::WaitUntil([&] { return clock.DescriptorWaitsUnderWay() != 0; });
  ASSERT_EQ(1u, clock.DescriptorWaitsUnderWay());
  clock.Advance(599999);
  EXPECT_EQ(std::future_status::timeout, waited.wait_for(std::chrono::milliseconds(20)));
  clock.Advance(1);
  ASSERT_EQ(std::future_status::ready, waited.wait_for(std::chrono::seconds(10)));
  EXPECT_EQ(0, waited.get());
  EXPECT_EQ(0u, clock.DescriptorWaitsUnderWay());

  ASSERT_EQ(1, ::write(pair[1], "x", 1));
  EXPECT_EQ(1, FXGetClock().WaitForDescriptor(pair[0], POLLIN, 600000));

  char byte;
  ASSERT_EQ(1, ::read(pair[0], &byte, 1));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, FXGetClock().WaitForDescriptor(pair[0], POLLIN, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(3u, clock.DescriptorWaits());
}

TEST(FXClockTest, RealClockIsBackAfterTheScope) {
  { FXScopedVirtualClock scoped; }
  int64_t before = FXGetClock().MonotonicMs();
  FXThread::Sleep(20);
  EXPECT_GE(FXGetClock().MonotonicMs() - before, 20);
}
