// The restore phase object: construction, destruction, init, the pairs and
// the restore job options.
#include "ProxyRestore.h"

#include <unistd.h>

#include <cerrno>

#include "CNMessageBase.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"

namespace {

const char kClientProgram[] = "RST.EXE";

// Task option ids of the restore options.
const uint32_t kOptLogOutputOption = 0x2c292b4a;
const uint32_t kOptLogOutputFile = 0x58dcea9d;
const uint32_t kOptLogOutputMember = 0x2c676116;
const uint32_t kOptLogOutputMemberOption = 0x301da251;
const uint32_t kOptLogOutputTypeOfInfo = 0x518b9d7c;
const uint32_t kOptPrivateAuthority = 0x28ac84a8;
const uint32_t kOptSpoolFileData = 0x4e08a404;
const uint32_t kOptDestinationAsp = 0x41544788;
const uint32_t kOptDestinationAspValue = 0x77c33137;
const uint32_t kOptAllowObjectDifferenceType = 0x4f73a3f8;
const uint32_t kOptAllowObjectDifferenceAutl = 0x0ce641be;
const uint32_t kOptAllowObjectDifferenceFileLevel = 0x15efd092;
const uint32_t kOptAllowObjectDifferenceOwner = 0x70e424dd;
const uint32_t kOptAllowObjectDifferencePgp = 0x5a6c6603;
const uint32_t kOptForceObjectConversion = 0x435068e7;
const uint32_t kOptSecurityDataParam = 0x412701e9;
const uint32_t kOptDeferId = 0x6361e7d7;

const uint64_t kOutOfPlaceFlag = 0x8;

// The XML job options and where the restore options sit in them.
const int kJobOptionNamespace = 12;
const int kJobOptionMessageId = 262;
const int kRestoreOptionsId = 311;
const int kRestoreOptionsMember = 2;
const int kDeleteBeforeRestoreMember = 31;
const int kDeleteBeforeRestoreObjectId = 251;
const int kDeleteBeforeRestoreField = 102;

void SetBool(EvTask& task, ClJobStartMsg& msg, uint32_t id, const char* key) {
  bool value = false;
  if (task.getOptionBool(id, value, NULL) == 0) msg.setOptionValue(key, value);
}

void SetString(EvTask& task, ClJobStartMsg& msg, uint32_t id, const char* key) {
  std::string value;
  if (task.getOptionString(id, value, NULL) == 0) msg.setOptionValue(key, value);
}

}  // namespace

ProxyRestore::ProxyRestore()
    : unconditionalOverwrite(false),
      doNotOverwrite(false),
      restoreWhenExists(false),
      restoreByJobRunning(false),
      restoreFlags(0),
      fileState(0),
      optHeaderSize(0),
      headerFlags(0),
      skipFileData(false),
      discardedBytes(0),
      currentFileSerial(0),
      stopPipe{-1, -1},
      diskFull(false),
      receiverFailed(false),
      tapeRestoreCache(IBMI_SAV_NONE),
      vtlDataHandler(nullptr),
      m_completionWake{-1, -1},
      m_receiverRunning(false) {}

ProxyRestore::~ProxyRestore() { stopReceiverThread(); }

CWqError ProxyRestore::init(int32_t velliconId, int32_t appId, int32_t clientId, uint64_t jobId,
                            const std::string& host, uint16_t port) {
  CWqError result = Proxy::init(velliconId, appId, clientId, jobId, 0, 0, kClientProgram, host, port);
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError ProxyRestore::addSourceDestination(const std::string& source, const std::string& destination) {
  sourceDestinations.push_back(std::make_pair(source, destination));
  return CWqError::Success();
}

CWqError ProxyRestore::setJobOptions(ClJobStartMsg* msg) {
  FX_LOG(0, "ProxyRestore::setJobOptions");
  CWqError result = Proxy::setJobOptions(msg);
  if (result.IsError()) return result.Push(FX_HERE);
  if (!msg) return CWqError::Success();

  EvTask task(static_cast<KXJobID>(m_ullJobId), 0, NULL, false);
  std::string xml;
  if (task.getXMLOptions(xml, NULL) != 0) {
    FX_LOG(-1, "Failed to get the xml options");
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
  }
  FX_LOG(3, "Got xml options:%s", xml.c_str());
  CNMessageBase jobOptions(kJobOptionNamespace, kJobOptionMessageId);
  if (jobOptions.unserialize(xml) != 0) {
    FX_LOG(-1, "Failed to unserialize restore job options [%s]", xml.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
  }
  CNMessageBase* restoreOptions = jobOptions.getObjectAccessor(
      true, false, kRestoreOptionsMember, kRestoreOptionsMember, 0x0cbcae72, 0x00caf030, kJobOptionNamespace,
      kRestoreOptionsId);
  if (!restoreOptions) {
    FX_LOG(-1, "Failed to get restore Options");
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
  }

  // Job log: the four details only for option 2.
  int logOption = 0, memberOption = 0, typeOfInfo = 0;
  std::string logFile, logMember;
  if (task.getOptionInt(kOptLogOutputOption, logOption, NULL) != 0) logOption = 0;
  if (logOption != 0) msg->setOptionValue("Log_Output_Option", static_cast<int32_t>(logOption));
  if (logOption == 2) {
    if (task.getOptionString(kOptLogOutputFile, logFile, NULL) == 0)
      msg->setOptionValue("Log_Output_File", logFile);
    else
      logFile.clear();
    if (task.getOptionString(kOptLogOutputMember, logMember, NULL) == 0)
      msg->setOptionValue("Log_Output_Member", logMember);
    else
      logMember.clear();
    if (task.getOptionInt(kOptLogOutputMemberOption, memberOption, NULL) == 0)
      msg->setOptionValue("Log_Output_Member_Option", static_cast<int32_t>(memberOption));
    else
      memberOption = 0;
    if (task.getOptionInt(kOptLogOutputTypeOfInfo, typeOfInfo, NULL) == 0)
      msg->setOptionValue("Log_Output_Type_Of_Info", static_cast<int32_t>(typeOfInfo));
    else
      typeOfInfo = 0;
  }
  FX_LOG(2, "job log option [%d] file [%s] member [%s] overwrite [%d] info [%d]", logOption, logFile.c_str(),
         logMember.c_str(), memberOption, typeOfInfo);

  CNMessageBase* deleteOptions = restoreOptions->getObjectAccessor(
      true, false, kDeleteBeforeRestoreMember, kDeleteBeforeRestoreMember, 0x0c08d483, 0x00840633,
      kJobOptionNamespace, kDeleteBeforeRestoreObjectId);
  if (deleteOptions && deleteOptions->getint64(kDeleteBeforeRestoreField, kDeleteBeforeRestoreField, 0x0c28ae65,
                                               0x009349e3) != 0)
    msg->setOptionValue("Delete_Files_Before_Restore", static_cast<int32_t>(1));

  SetBool(task, *msg, kOptPrivateAuthority, "Restore_PrivateAuthority_Enabled");
  SetBool(task, *msg, kOptSpoolFileData, "Restore_SpoolFileData_Enabled");
  SetString(task, *msg, kOptDestinationAsp, "Restore_Destination_Asp");
  SetString(task, *msg, kOptDestinationAspValue, "Restore_Destination_ASP_Value");
  int differenceType = 0;
  if (task.getOptionInt(kOptAllowObjectDifferenceType, differenceType, NULL) == 0) {
    msg->setOptionValue("Restore_Allow_Object_Difference_Type", static_cast<int32_t>(differenceType));
    if (differenceType == 3) {
      SetBool(task, *msg, kOptAllowObjectDifferenceAutl, "Restore_Allow_Object_Difference_Other_AUTL");
      SetBool(task, *msg, kOptAllowObjectDifferenceFileLevel, "Restore_Allow_Object_Difference_Other_FILELVL");
      SetBool(task, *msg, kOptAllowObjectDifferenceOwner, "Restore_Allow_Object_Difference_Other_OWNER");
      SetBool(task, *msg, kOptAllowObjectDifferencePgp, "Restore_Allow_Object_Difference_Other_PGP");
    }
  }
  SetString(task, *msg, kOptForceObjectConversion, "Restore_Force_ObjectConversion_Selection");
  SetString(task, *msg, kOptSecurityDataParam, "Restore_Security_Data_Param");
  SetString(task, *msg, kOptDeferId, "Restore_Defer_ID");

  msg->setOptionValue("JO_UNCOND_OW", static_cast<int32_t>(unconditionalOverwrite ? 1 : 0));
  msg->setOptionValue("JO_REST_WHENEXISTS", static_cast<int32_t>(restoreWhenExists ? 1 : 0));
  msg->setOptionValue("JO_RESR_DONOT_OW", static_cast<int32_t>(doNotOverwrite ? 1 : 0));
  msg->setOptionValue("JO_TARGETASP", targetAsp);
  msg->setOptionValue("JO_ALWOBJDIF", allowObjectDifference);
  msg->setOptionValue("JO_MBRFLAG", memberFlag);
  msg->setOptionValue("JO_OUT_OF_PLACE", (restoreFlags & kOutOfPlaceFlag) != 0);
  if (restoreByJobRunning) msg->setOptionValue("RestoreByJobRunning", true);
  for (const auto& pair : sourceDestinations) msg->addPath(pair.first, pair.second);
  if (!restoreByJobRunning) msg->setOptionValue("RestoreWillSendFilters", true);
  return CWqError::Success();
}

bool ProxyRestore::programConnected() const {
  if (!m_pSrvConnection) return false;
  if (m_receiverRunning.load(std::memory_order_acquire)) return true;
  return m_pSrvConnection->getConnectionSocket().IsValid();
}

CWqError ProxyRestore::sendToProgram(ClProxyMsg& msg) {
  if (!programConnected())
    return FXErrorUtil::ErrorWin32(FX_HERE, 2250 /* ERROR_NOT_CONNECTED */,
                                   "The restore program is not connected: message 0x%04x not sent",
                                   static_cast<unsigned>(msg.getMsgType()));
  CWqError result = m_pSrvConnection->sendMessage(&msg);
  if (result.IsError()) {
    // A link the receiver found broken: its error says why.
    if (receiverFailed.load(std::memory_order_acquire) && receiverError.IsError())
      return receiverError.Copy().Push(FX_HERE, "Message 0x%04x not sent", static_cast<unsigned>(msg.getMsgType()));
    result.Push(FX_HERE);
  }
  return result;
}
