// channel_bench: throughput of the message channel against plain sockets.
//
// For each blob size, moves the same bytes over loopback twice in the same
// run: as FILE_DATA_MSG blobs through ClProxyConnection::sendMessage and
// recvMessage, and as blocks of the same size through send()/recv() on a
// raw socket pair. Prints MB/s of both, their ratio, and the heap
// allocations per channel message (counted by the operator new below).
//
//   channel_bench [megabytes per run, default 512]
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "CWqIPAddr.h"
#include "CWqSocket.h"
#include "ClBasicMsgs.h"
#include "ClProxyConnection.h"
#include "FXClock.h"

// ------------------------------------------------------- allocation counter

namespace {
std::atomic<uint64_t> g_allocations(0);
void* CountedAlloc(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(size_t size) {
  void* p = CountedAlloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = CountedAlloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// ------------------------------------------------------------ socket pairs

bool Fail(const char* what, const CWqError& error) {
  std::fprintf(stderr, "%s: %s\n", what, error.AsString().c_str());
  return false;
}

// Connects `client` to a fresh loopback listener and accepts into `server`.
bool MakePair(CWqSocket& client, CWqSocket& server) {
  CWqSocket listener;
  CWqIPAddr address, bound;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = listener.Create(AF_INET);
  if (!result.IsError()) result = listener.Bind(address);
  if (!result.IsError()) result = listener.Listen(1);
  if (!result.IsError()) result = listener.GetLocalAddress(bound);
  if (!result.IsError()) result = client.Create(AF_INET);
  if (!result.IsError()) result = client.Connect(bound);
  if (!result.IsError()) result = listener.Accept(server);
  listener.Clear();
  if (result.IsError()) return Fail("loopback pair", result);
  return true;
}

double Seconds(int64_t startMs) {
  int64_t ms = FXGetClock().MonotonicMs() - startMs;
  return (ms > 0 ? ms : 1) / 1000.0;
}

// --------------------------------------------------------------- raw run

bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// MB/s, or a negative value on failure.
double RunRaw(size_t blockSize, size_t count) {
  CWqSocket client, server;
  if (!MakePair(client, server)) return -1;
  std::vector<uint8_t> out(blockSize, 0x5a), in(blockSize);
  const int sendFd = client.GetSocketDescriptor(), recvFd = server.GetSocketDescriptor();
  int64_t start = FXGetClock().MonotonicMs();
  bool sentAll = true;
  std::thread sender([&] {
    for (size_t i = 0; i < count && sentAll; ++i) sentAll = SendAll(sendFd, out.data(), blockSize);
  });
  bool receivedAll = true;
  for (size_t i = 0; i < count && receivedAll; ++i) receivedAll = RecvAll(recvFd, in.data(), blockSize);
  double seconds = Seconds(start);
  sender.join();
  client.Clear();
  server.Clear();
  if (!sentAll || !receivedAll) return -1;
  return static_cast<double>(blockSize) * count / seconds / 1e6;
}

// ----------------------------------------------------------- channel run

double RunChannel(size_t blockSize, size_t count, double& allocationsPerMessage) {
  ClProxyConnection sending, receiving;
  if (!MakePair(sending.getConnectionSocket(), receiving.getConnectionSocket())) return -1;
  std::vector<uint8_t> bytes(blockSize, 0x5a);
  ClBlobMsg blob(FILE_DATA_MSG, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(blockSize));

  uint64_t allocationsBefore = g_allocations.load();
  int64_t start = FXGetClock().MonotonicMs();
  CWqError sendResult;
  std::thread sender([&] {
    for (size_t i = 0; i < count && !sendResult.IsError(); ++i) sendResult = sending.sendMessage(&blob);
  });
  CWqError recvResult;
  for (size_t i = 0; i < count; ++i) {
    ClProxyMsg* raw = nullptr;
    recvResult = receiving.recvMessage(raw, FILE_DATA_MSG, 30);
    std::unique_ptr<ClProxyMsg> message(raw);
    if (recvResult.IsError()) break;
    if (static_cast<ClBlobMsg*>(message.get())->getBlobSize() != blockSize) {
      std::fprintf(stderr, "wrong blob size\n");
      break;
    }
  }
  double seconds = Seconds(start);
  sender.join();
  allocationsPerMessage = static_cast<double>(g_allocations.load() - allocationsBefore) / count;
  if (sendResult.IsError()) return Fail("send", sendResult), -1;
  if (recvResult.IsError()) return Fail("receive", recvResult), -1;
  return static_cast<double>(blockSize) * count / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
  if (megabytes == 0) megabytes = 512;
  const size_t sizes[] = {4 * 1024, 64 * 1024, 1024 * 1024};
  const int kRounds = 5;  // best of, alternating, so that both see the same machine state

  std::printf("%-8s %12s %12s %7s %12s\n", "size", "raw MB/s", "channel MB/s", "ratio", "allocs/msg");
  int status = 0;
  for (size_t size : sizes) {
    const size_t count = megabytes * 1024 * 1024 / size;
    double bestRaw = 0, bestChannel = 0, allocations = 0;
    for (int round = 0; round < kRounds; ++round) {
      double raw = RunRaw(size, count);
      double perMessage = 0;
      double channel = RunChannel(size, count, perMessage);
      if (raw < 0 || channel < 0) {
        status = 1;
        break;
      }
      if (raw > bestRaw) bestRaw = raw;
      if (channel > bestChannel) bestChannel = channel;
      allocations = perMessage;
    }
    char label[16];
    std::snprintf(label, sizeof label, size >= 1024 * 1024 ? "%zu MiB" : "%zu KiB",
                  size >= 1024 * 1024 ? size / (1024 * 1024) : size / 1024);
    std::printf("%-8s %12.0f %12.0f %7.2f %12.2f\n", label, bestRaw, bestChannel,
                bestRaw > 0 ? bestChannel / bestRaw : 0.0, allocations);
  }
  return status;
}
