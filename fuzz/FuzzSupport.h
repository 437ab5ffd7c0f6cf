// Shared pieces of the fuzz targets: a quiet log writer that still formats
// every line, a reader that turns fuzz bytes into choices, and a check that
// turns a broken promise into a crash libFuzzer reports.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "FXLogWriter.h"

// A broken promise of the code under test: print it and abort, so the input
// is saved as a crash.
#define FUZZ_CHECK(condition, ...)                                         \
  do {                                                                     \
    if (!(condition)) {                                                    \
      std::fprintf(stderr, "FUZZ_CHECK failed at %s:%d: %s\n  ", __FILE__, \
                   __LINE__, #condition);                                  \
      std::fprintf(stderr, __VA_ARGS__);                                   \
      std::fputc('\n', stderr);                                            \
      std::abort();                                                        \
    }                                                                      \
  } while (0)

// Every level and category on, so each log line's arguments are formatted
// (a bad argument shows up under the sanitizers), but nothing is printed.
inline void FuzzQuietLogging() {
  boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
  writer->SetLevel(100);
  writer->SetCategoryMask(0xFFFFFFFFu);
  writer->SetQuiet(true);
  g_ptrLogWriter = writer;
}

// A connected socket pair whose buffers hold a whole fuzz stream, so that
// one side can be written in full before the other is read.
inline void FuzzSocketPair(int pair[2]) {
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "socketpair: %s", std::strerror(errno));
  const int size = 8 * 1024 * 1024;
  for (int side = 0; side < 2; ++side) {
    setsockopt(pair[side], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(pair[side], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
}

// A socket to read `size` bytes from: they are written in full into a fresh
// pair whose writing end is then closed, so a reader meets the end of the
// stream instead of waiting. The caller closes the returned end.
inline int FuzzFedSocket(const uint8_t* data, size_t size) {
  int pair[2];
  FuzzSocketPair(pair);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(pair[1], data + done, size - done);
    FUZZ_CHECK(n > 0, "write: %s", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  ::close(pair[1]);
  return pair[0];
}

// Reads the fuzz input front to back; past the end every read gives zeros.
class FuzzBytes {
 public:
  FuzzBytes(const uint8_t* data, size_t size) : m_data(data), m_size(size), m_pos(0) {}

  bool empty() const { return m_pos >= m_size; }
  size_t left() const { return m_pos < m_size ? m_size - m_pos : 0; }

  uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  uint16_t u16() {
    uint16_t high = byte();
    return static_cast<uint16_t>((high << 8) | byte());
  }
  // Up to `count` bytes (fewer at the end of the input).
  std::vector<uint8_t> take(size_t count) {
    size_t n = count < left() ? count : left();
    std::vector<uint8_t> out(m_data + m_pos, m_data + m_pos + n);
    m_pos += n;
    return out;
  }
  std::vector<uint8_t> rest() { return take(left()); }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos;
};
