// Tape messages: the tape information exchanged in both directions during a
// backup to tape and a restore from tape, and the report of a full tape.
//
// Payloads (docs/wire-format.md):
//   ClTapeInfoMsg  string barcode, string drive serial, then the arguments
//                  as uint32 count and (string name, string value) pairs in
//                  name order
//   ClTapeFullMsg  string barcode
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ClProxyMsg.h"

class ClProxyPayloadWriter;
class ClProxyPayloadReader;

// A message with named text arguments. Names are case-sensitive; setting a
// name again replaces its value.
class ClArgListMsg : public ClProxyMsg {
 public:
  // Always success.
  CWqError setArgument(const std::string& name, const std::string& value);
  // ENOENT when the message has no argument of that name; `value` is then
  // left as it was.
  CWqError getArgument(const std::string& name, std::string& value) const;
  const std::map<std::string, std::string>& getArguments() const { return m_arguments; }

 protected:
  explicit ClArgListMsg(uint16_t type) : ClProxyMsg(type) {}
  void writeArguments(ClProxyPayloadWriter& out) const;
  void readArguments(ClProxyPayloadReader& in);

 private:
  std::map<std::string, std::string> m_arguments;
};

// TAPE_INFO_MSG: a tape barcode, a drive serial and named arguments.
class ClTapeInfoMsg : public ClArgListMsg {
 public:
  // The argument names both sides use.
  static constexpr const char* keyMessage_Key = "Message_Key";
  static constexpr const char* keyMSGQName = "MSGQName";
  static constexpr const char* keyInitTape = "InitTape";

  ClTapeInfoMsg(const std::string& tapeBarCode, const std::string& driveSerial)
      : ClArgListMsg(TAPE_INFO_MSG), m_sTapeBarCode(tapeBarCode), m_sDriveSerial(driveSerial) {}

  std::string currentTapeBarCode() const { return m_sTapeBarCode; }
  std::string currentDriveSerial() const { return m_sDriveSerial; }

  static std::unique_ptr<ClTapeInfoMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::string m_sTapeBarCode;
  std::string m_sDriveSerial;
};

// TAPE_FULL_MSG: the tape with this barcode is full.
class ClTapeFullMsg : public ClProxyMsg {
 public:
  explicit ClTapeFullMsg(const std::string& tapeBarCode)
      : ClProxyMsg(TAPE_FULL_MSG), m_sTapeBarCode(tapeBarCode) {}

  std::string getTapeBarCode() const { return m_sTapeBarCode; }

  static std::unique_ptr<ClTapeFullMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::string m_sTapeBarCode;
};
