// SimVmsSystem: an OpenVMS client machine behind ssh, as far as the client
// software's installation, start and stop reach it.
//
// Files live in directories named the DCL way; DKA0:[APP.CLIENT.bin]X.COM
// and the copy path /DKA0/APP/CLIENT/bin/X.COM name one file (names are not
// case-sensitive, versions are not kept). Commands:
//   DIRECTORY spec              lists matches; "%DIRECT-" text when none
//   CREATE/DIRECTORY dir        makes the directory and its parents
//   DELETE[/LOG] list           comma-separated specs with sticky defaults
//                               (device, directory, name and type carry
//                               over from the item before); "..." takes in
//                               the tree below a directory, whose
//                               subdirectories are NAME.DIR files in their
//                               parent; a directory file that is not empty
//                               stays ("-RMS-E-MKD"); "-RMS-E-FNF" or
//                               "-RMS-E-DNF" for an item that finds nothing
//   IF expr THEN command        string literals, F$SEARCH("spec"), .EQS.,
//                               .NES., parentheses
//   WRITE SYS$OUTPUT|SYS$ERROR expr[,expr]
//   SHOW TIME
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
  // Every directory as DEVICE:[DIR.SUB], sorted.
  std::vector<std::string> Directories() const;

 protected:
  SimRemoteReply Run(const std::string& command) override;
  SimRemoteReply Store(const std::string& remotePath, const std::string& bytes) override;
  SimRemoteReply Failure(const std::string& command) const override;
  SimRemoteReply CopyFailure(const std::string& remotePath) const override;

 private:
  SimRemoteReply Directory(const std::string& spec) const;
  SimRemoteReply Procedure(const std::string& path, const std::vector<std::string>& args);
  void MakeDirectoryLocked(const std::string& folder);

  // The DCL of SimVmsDcl.cpp.
  struct DclSpec;
  struct DclMatch;
  static bool ParseDclSpec(const std::string& text, DclSpec& spec);
  bool FolderExistsLocked(const std::string& folder) const;
  void SearchLocked(const DclSpec& spec, std::vector<DclMatch>& matches) const;
  SimRemoteReply DeleteList(const std::string& qualifiers, const std::string& list);
  SimRemoteReply IfThen(const std::string& rest);
  SimRemoteReply WriteOut(const std::string& rest);
  SimRemoteReply ShowTime(const std::string& rest) const;
  bool Evaluate(const std::string& text, size_t& at, std::string& value, std::string& err) const;
  bool Term(const std::string& text, size_t& at, std::string& value, std::string& err) const;

  std::set<std::string> m_dirs;                // DEVICE:[DIR.SUB]
  std::map<std::string, std::string> m_files;  // DEVICE:[DIR.SUB]NAME -> bytes
};
