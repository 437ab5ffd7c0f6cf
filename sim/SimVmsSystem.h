// SimVmsSystem: an OpenVMS client machine behind ssh, as far as the client
// software's installation, start and stop reach it.
//
// Files live in directories named the DCL way; DKA0:[APP.CLIENT.bin]X.COM
// and the copy path /DKA0/APP/CLIENT/bin/X.COM name one file (names are not
// case-sensitive, versions are not kept). Commands:
//   DIRECTORY spec              lists matches; "%DIRECT-" text when none
//   CREATE/DIRECTORY dir        makes the directory and its parents
//   DELETE spec;*               every version; "-RMS-E-FNF" when none
//   @bin]KXOV_PKGCRC32.COM base "CRC NAME" per file of that bin folder
//                               (PKGCRC.INFO and ".EU" names left out);
//                               needs KXOV_PKGCRC32.EXE ("image file not
//                               found" otherwise)
//   @bin]KXOV_START.COM base port   starts the daemon: "started"
//   @bin]KXOV_STOP.COM base         stops it: "stopped"
// Every other verb gets DCL's unrecognised-verb error. A procedure that is
// not in the folder fails with "-RMS-E-FNF". The CRC text is zlib's crc32
// in decimal, as the proxy's local listing tool prints it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "SimEmulatedSystem.h"

class SimVmsSystem : public SimEmulatedSystem {
 public:
  // `folder` in either form; parents are made too.
  void CreateDirectory(const std::string& folder);
  void PutFile(const std::string& path, const std::string& bytes);
  bool HasFile(const std::string& path) const;
  bool HasDirectory(const std::string& folder) const;
  // Every file as DEVICE:[DIR.SUB]NAME, in upper case and sorted.
  std::vector<std::string> Files() const;

  static std::string Crc32Text(const std::string& bytes);

 protected:
  SimRemoteReply Run(const std::string& command) override;
  SimRemoteReply Store(const std::string& remotePath, const std::string& bytes) override;
  SimRemoteReply Failure(const std::string& command) const override;
  SimRemoteReply CopyFailure(const std::string& remotePath) const override;

 private:
  SimRemoteReply Directory(const std::string& spec) const;
  SimRemoteReply Delete(const std::string& spec);
  SimRemoteReply Procedure(const std::string& path, const std::vector<std::string>& args);
  void MakeDirectoryLocked(const std::string& folder);

  std::set<std::string> m_dirs;                // DEVICE:[DIR.SUB]
  std::map<std::string, std::string> m_files;  // DEVICE:[DIR.SUB]NAME -> bytes
};
