// ClProxyClientConnection: the message link from the proxy host to the daemon
// on a client machine. connectToClient is the one way to a client daemon:
//
// - A link that is connected to the same host is reused as it is.
// - With a deployment manager (built from a client id, or else from a
//   Vellicon id and application id that are both set) and noManage false,
//   the manager's software check runs first; its failure ends the connect.
// - A refused connect is retried: the manager starts the daemon after the
//   1st and the 4th refusal, with a pause before each new attempt, up to 7
//   attempts. Without a manager, or with noManage, one attempt is made.
// - A failed connect leaves the remote host set and no open socket.
//
// The pause is "FileSystemAgent" / "nTimeOutSecondsBetweenClientConnectCheck"
// seconds (2 when absent or 0), read once per process and kept.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "CWqError.h"
#include "ClProxyConnection.h"

class ClProxyClientConnection : public ClProxyConnection {
 public:
  ClProxyClientConnection();
  ~ClProxyClientConnection() override;

  CWqError connectToClient(const std::string& host, uint16_t port, int32_t velliconId, int32_t appId,
                           int32_t clientId, bool noManage);

  // The pause between connect attempts, in seconds (reads the setting on
  // first use).
  static int32_t PauseSeconds();
  // Forgets the kept pause, so that the next use reads the setting again.
  static void ResetPauseSeconds();

  // Largest pause taken: seconds x 1000 must fit the millisecond sleep.
  static constexpr int32_t kMaxPauseSeconds = 2147483;

 private:
  // Creates the socket and connects it; a failed attempt leaves it closed.
  CWqError connectOnce(const CWqIPAddr& address);

  // The pause, -1 until read.
  static std::atomic<int32_t> iTimeOutSeconds;
};
