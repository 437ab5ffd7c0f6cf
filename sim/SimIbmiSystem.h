// SimIbmiSystem: an IBM i client machine behind ssh, as far as the client
// software's first installation reaches it.
//
// Commands are read into words as the client's shell reads them; "system"
// runs its one argument as a CL command, "mkdir" makes an IFS folder.
//   CHKOBJ OBJ(lib/obj) OBJTYPE(t)  nothing, or CPF9801 on error output
//   DLTF FILE(lib/obj)              deletes a file object (CPF2105 if none)
//   CPYFRMSTMF FROMSTMF('p') ...    the stream file into QGPL/KXINSTPKG;
//                                   "CPFA095: Stream file" when p is missing
//   RSTLIB ... SAVF(lib/obj) ...    restores KXINST from the save file:
//                                   "CPC3703" on standard output
//   SNDMSG ...                      nothing
//   KXINST/INSKXTEL CLIENT(..) ...  records its parameters, creates
//                                   KXLIB/PKGINFO, starts the daemon on
//                                   PORT, prints "is successfully Installed"
//   RMVLNK OBJLNK('p')              removes an IFS file (CPFA0A9 if none)
//   KXLIB/TELDRON UNINSTALL         while the client software is there:
//                                   stops the daemon, removes every KXLIB
//                                   object ("CPC2191" on standard output)
// Anything else is CPD0030 on error output. Objects named without a library
// match any library. A copy lands in an existing IFS folder. With a home
// profile set, every command's error output begins with sshd's line about
// that profile's missing home directory.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "SimEmulatedSystem.h"

class SimIbmiSystem : public SimEmulatedSystem {
 public:
  SimIbmiSystem();

  // `name` as LIB/OBJ, `type` as *FILE, *SBSD, *JOBQ, *CMD.
  void AddObject(const std::string& name, const std::string& type);
  bool HasObject(const std::string& name, const std::string& type) const;
  // Every object as "LIB/OBJ *TYPE", sorted.
  std::vector<std::string> Objects() const;
  // The installed client software: KXLIB/PKGINFO.
  void InstallClient();
  void MakeFolder(const std::string& path);
  bool HasFile(const std::string& path) const;
  bool HasFolder(const std::string& path) const;
  void SetHomeProfile(const std::string& profile);
  // The parameters of the last install command, by keyword.
  std::map<std::string, std::string> LastInstall() const;

 protected:
  SimRemoteReply Run(const std::string& command) override;
  SimRemoteReply Store(const std::string& remotePath, const std::string& bytes) override;
  SimRemoteReply Failure(const std::string& command) const override;
  SimRemoteReply CopyFailure(const std::string& remotePath) const override;

 private:
  SimRemoteReply RunCl(const std::string& cl);
  SimRemoteReply Install(const std::map<std::string, std::string>& params);
  SimRemoteReply Teldron(const std::string& parameters);
  bool HasObjectLocked(const std::string& name, const std::string& type) const;
  SimRemoteReply WithHomeLine(SimRemoteReply reply) const;

  std::set<std::string> m_objects;  // LIB/OBJ type
  std::map<std::string, std::string> m_savefiles;
  std::set<std::string> m_folders;
  std::map<std::string, std::string> m_files;
  std::map<std::string, std::string> m_lastInstall;
  std::string m_sHomeProfile;
};
