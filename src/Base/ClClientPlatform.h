// PlatformDefine: the remote folders of one client, in the two forms remote
// commands need. `base` and `binExecute` are used inside commands run on the
// client (OpenVMS: DKA0:[APP.CLIENT] and DKA0:[APP.CLIENT.bin]);
// `baseUpload` and `binUpload` are copy destinations (/DKA0/APP/CLIENT and
// /DKA0/APP/CLIENT/bin). An IBM i client has fixed library paths.
//
// The paths go into command lines as parts of one quoted word, so they
// keep "$" as it is; setClientBaseFolder accepts only drive and folder names
// of letters, digits, "$", "_" and "-" (errno -1 naming the folder
// otherwise), so no path can carry a character a shell or DCL would read.
// A folder that could name a tree above the client's is refused with
// EINVAL naming it: a name made only of "-" (DCL's parent) or of ".", and
// the bracket form's leading "." (relative to the default folder). Other
// empty names (DKA0:[A..B], a trailing "/") are dropped.
// A failed call leaves the four paths as they were.
#pragma once

#include <string>

#include "CWqError.h"

// Client operating-system ids of the client records.
const int CLIENT_OS_OPENVMS = 49;
const int CLIENT_OS_IBMI = 118;

// True for an empty text; removes empty folder components.
struct CIsEmptyString {
  bool operator()(const std::string& text) const { return text.empty(); }
};

class PlatformDefine {
 public:
  PlatformDefine() : osType(0) {}

  // 49 or 118; any other id fails with EV_CLIENT_OS_UNSUPPORTED.
  CWqError setOSType(int id);
  CWqError setClientBaseFolder(const std::string& folder);

  int getOSType() const { return osType; }
  std::string getBase() const { return base; }
  std::string getBinExecute() const { return binExecute; }
  std::string getBaseUpload() const { return baseUpload; }
  // Only an OpenVMS client's daemon can be started from the proxy host.
  bool isStartSvcSupported() const { return osType == CLIENT_OS_OPENVMS; }
  // A folder name made only of "-" (DCL's parent) or only of ".".
  static bool IsParentOrSelf(const std::string& component);

 private:
  void logPaths() const;

  int osType;
  std::string base;
  std::string binExecute;
  std::string baseUpload;
  std::string binUpload;
};
