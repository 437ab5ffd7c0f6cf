// The launch exchange with the client daemon: the launch request (with or
// without the interface the client program is to call back on), its
// process-id answer, and the process-status request and answer.
//
// Payloads (docs/wire-format.md):
//   ClLaunchCmdMsg            uint16 port, string command
//   ClLaunchCmdDIPMsg         string interface, uint16 port, string command
//   ClLaunchCmdResponseMsg    int32 process id (below 1: the launch failed)
//   ClGetProcessStatusMsg     int32 process id
//   ClProcessStatusResponseMsg int32 status
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ClProxyMsg.h"

// Asks the daemon to launch `command` and have it connect back to `port`.
// Port 0 with the command "SERVICE" turns the link into a service connection.
class ClLaunchCmdMsg : public ClProxyMsg {
 public:
  ClLaunchCmdMsg(uint16_t port, const std::string& command)
      : ClLaunchCmdMsg(LAUNCH_CMD_MSG, port, command) {}
  ~ClLaunchCmdMsg() override {}

  uint16_t getPort() const { return m_uPort; }
  const std::string& getCommand() const { return m_sCommand; }

  static std::unique_ptr<ClLaunchCmdMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  ClLaunchCmdMsg(uint16_t type, uint16_t port, const std::string& command)
      : ClProxyMsg(type), m_uPort(port), m_sCommand(command) {}
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  uint16_t m_uPort;
  std::string m_sCommand;
};

// The launch request with the proxy interface the client program is to use.
// A ClLaunchCmdMsg too, so a daemon reads port and command the same way.
class ClLaunchCmdDIPMsg : public ClLaunchCmdMsg {
 public:
  ClLaunchCmdDIPMsg(const std::string& interface, uint16_t port, const std::string& command)
      : ClLaunchCmdMsg(LAUNCH_CMD_DIP_MSG, port, command), m_sInterface(interface) {}

  const std::string& getInterface() const { return m_sInterface; }

  static std::unique_ptr<ClLaunchCmdDIPMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::string m_sInterface;
};

// LAUNCH_RESPONSE_MSG: the process id of the launched program.
class ClLaunchCmdResponseMsg : public ClProxyMsg {
 public:
  explicit ClLaunchCmdResponseMsg(int32_t processId)
      : ClProxyMsg(LAUNCH_RESPONSE_MSG), m_iProcessId(processId) {}

  void get(int32_t& processId) const { processId = m_iProcessId; }
  void get(int64_t& processId) const { processId = m_iProcessId; }

  static std::unique_ptr<ClLaunchCmdResponseMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iProcessId;
};

// Asks the daemon for the status of a launched program.
class ClGetProcessStatusMsg : public ClProxyMsg {
 public:
  explicit ClGetProcessStatusMsg(int32_t processId)
      : ClProxyMsg(GET_PROCESS_STATUS_MSG), m_iProcessId(processId) {}

  int32_t getProcessId() const { return m_iProcessId; }

  static std::unique_ptr<ClGetProcessStatusMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iProcessId;
};

// PROCESS_STATUS_RESPONSE_MSG: the launched program's status, as the daemon
// reports it.
class ClProcessStatusResponseMsg : public ClProxyMsg {
 public:
  explicit ClProcessStatusResponseMsg(int32_t status)
      : ClProxyMsg(PROCESS_STATUS_RESPONSE_MSG), m_iStatus(status) {}

  void get(int32_t& status) const { status = m_iStatus; }

  static std::unique_ptr<ClProcessStatusResponseMsg> decode(const uint8_t* payload,
                                                            uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iStatus;
};
