// Tape information: what the client reported last and the host's answer.
#include "ClTapeMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyBackup.h"

#include <cerrno>

CWqError ProxyBackup::getTapeInfo(std::string& barcode, std::string& driveSerial) {
  barcode = m_sTapeBarCode;
  driveSerial = m_sDriveSerial;
  return CWqError::Success();
}

CWqError ProxyBackup::sendTapeInfo(const std::string& barcode, const std::string& driveSerial, bool initTape) {
  m_sTapeBarCode = barcode;
  m_sDriveSerial = driveSerial;
  ClTapeInfoMsg answer(barcode, driveSerial);
  FX_LOG(0, "Sending mounted tape [%s] in [%s] with message_key [%s] in MSGQ [%s] init tape [%d]", barcode.c_str(),
         driveSerial.c_str(), m_sMessageKey.c_str(), m_sMSGQName.c_str(), initTape ? 1 : 0);
  answer.setArgument(ClTapeInfoMsg::keyMessage_Key, m_sMessageKey);
  answer.setArgument(ClTapeInfoMsg::keyMSGQName, m_sMSGQName);
  answer.setArgument(ClTapeInfoMsg::keyInitTape, initTape ? "1" : "0");
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  return m_pSrvConnection->sendMessage(&answer);
}
