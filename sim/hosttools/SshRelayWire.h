// The frames between the ssh relay (run by sshd as the client's login) and
// the emulated client machine in the test process, over a Unix socket.
//
// A frame is one type byte, a 4-byte big-endian payload length, then the
// payload. The relay sends kUser and kCommand first, then the login's
// standard input as kStdin frames and kStdinEnd at its end; the machine
// answers with kStdout and kStderr frames and ends with kExit, whose payload
// is the exit status as a 4-byte big-endian number.
//
// Header only and free of the project's libraries: the relay is built with
// the host compiler in a build of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sshrelay {

enum FrameType : unsigned char {
  kUser = 'U',
  kCommand = 'C',
  kStdin = 'I',
  kStdinEnd = 'E',
  kStdout = 'O',
  kStderr = 'R',
  kExit = 'X',
};

const size_t kHeaderSize = 5;
// Frames beyond this are a broken peer, not data.
const uint32_t kMaxPayload = 16u * 1024 * 1024;

inline std::string EncodeFrame(FrameType type, const std::string& payload) {
  std::string frame(kHeaderSize, '\0');
  const uint32_t size = static_cast<uint32_t>(payload.size());
  frame[0] = static_cast<char>(type);
  frame[1] = static_cast<char>((size >> 24) & 0xff);
  frame[2] = static_cast<char>((size >> 16) & 0xff);
  frame[3] = static_cast<char>((size >> 8) & 0xff);
  frame[4] = static_cast<char>(size & 0xff);
  frame += payload;
  return frame;
}

inline uint32_t DecodeSize(const unsigned char* header) {
  return (static_cast<uint32_t>(header[1]) << 24) | (static_cast<uint32_t>(header[2]) << 16) |
         (static_cast<uint32_t>(header[3]) << 8) | static_cast<uint32_t>(header[4]);
}

inline std::string EncodeStatus(int status) {
  const uint32_t value = static_cast<uint32_t>(status);
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xff);
  return bytes;
}

inline int DecodeStatus(const std::string& bytes) {
  if (bytes.size() != 4) return 255;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int>(value);
}

}  // namespace sshrelay
