// SimSshTools: the product's local tools and the client machine's ssh side,
// as shell scripts in a scratch product tree, so that the deployment
// manager's command lines run for real without a remote machine.
//
//   <root>/Base/sshf         password wrapper: "-p PASSWORD -- PROGRAM ARGS";
//                            records its arguments, runs PROGRAM with the
//                            password in SSHPASS and <root>/Base/fakebin
//                            first on PATH
//   <root>/Base/fakebin/ssh  the client's end of the hop: records its
//                            arguments and the command it got, checks the
//                            password, answers as set (SetReply); exit 255
//                            for a wrong password or an unreachable host
//   <root>/Base/kxpscp.exe   copy tool: records its arguments and the
//                            password it got (SSHPASS under sshf, else
//                            KX_PUTTY_PASS), copies under <root>/client/files
//   <root>/Base/pkgcrc32     zlib's crc32 and name of each file it is given
//                            (the host-built tool, else a script that takes
//                            it from gzip's trailer); failing or CRLF lines
//                            on request
//   <root>/iDataAgent        the home directory (settings "ProductPaths" /
//                            "sHomeDirectory" point at it), with
//                            ProxyPackage/OpenVMS and ProxyPackage/iSeries
//
// InstallThrough(sshd) makes the same tree with the real hop instead: sshf
// runs the program under sshpass (-e) with the SimSshd's bin folder first on
// PATH, so "ssh" is the real client with the test's configuration;
// kxpscp.exe copies with scp's legacy protocol (-O), taking the password
// from KX_PUTTY_PASS when run alone. Both keep their records as above (ssh
// calls too, by the wrapper) and exit 255 when the hop to the client failed
// (ssh ended with 255 or never ran). The client's side is then the SimSshd's
// machine: Commands(), SetReply() and CopiedFile() here do not apply.
//
// Records are files of NUL-separated fields under <root>/client, one per
// call, read back in call order. The root is removed by the destructor.
#pragma once

#include <string>
#include <vector>

#include "CWqError.h"

class SimSshd;

class SimSshTools {
 public:
  SimSshTools();
  ~SimSshTools();
  SimSshTools(const SimSshTools&) = delete;
  SimSshTools& operator=(const SimSshTools&) = delete;

  // Makes the tree and the scripts (a former tree goes first); EIO naming
  // what could not be written.
  CWqError Install();
  CWqError InstallThrough(const SimSshd& sshd);

  const std::string& Root() const { return m_sRoot; }
  std::string HomeDirectory() const { return m_sRoot + "/iDataAgent"; }
  std::string BaseHome() const { return m_sRoot + "/Base"; }
  std::string PackageFolder(const std::string& platform) const;

  // The password the client accepts.
  void SetPassword(const std::string& password);
  void SetUnreachable(bool unreachable);
  // What the client's side of the next commands prints and exits with.
  void SetReply(const std::string& out, const std::string& err, int status = 0);
  // The reply of the commands that hold `pattern`, before the reply above;
  // rules are tried in the order they were added.
  void AddCommandReply(const std::string& pattern, const std::string& out, const std::string& err = "");
  void ClearCommandReplies();
  void SetPkgcrcFailure(bool fail);
  void SetPkgcrcCrlf(bool crlf);
  // Makes the named tool hang (for the time limit).
  void SetHang(bool hang);

  // Each call's recorded fields.
  std::vector<std::vector<std::string>> SshfCalls() const;    // password, program, args...
  std::vector<std::vector<std::string>> SshCalls() const;     // password, args...
  std::vector<std::vector<std::string>> CopyCalls() const;    // KX_PUTTY_PASS, SSHPASS, args...
  // The command each ssh call handed to the client.
  std::vector<std::string> Commands() const;
  std::string CopiedFile(const std::string& remotePath) const;

  // Writes a file with `content`.
  static bool WriteFile(const std::string& path, const std::string& content, int mode = 0644);
  // Removes `path` and, for a folder, everything under it (links not followed).
  static void RemoveTree(const std::string& path);

 private:
  std::vector<std::vector<std::string>> Records(const std::string& prefix) const;
  void Flag(const std::string& name, bool on) const;

  std::string m_sRoot;
};
