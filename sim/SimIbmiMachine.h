// SimIbmiMachine: the ssh side of an emulated IBM i machine, as far as the
// deployment meets it, over objects kept in a host folder:
//
//   <root>/QSYS.LIB/<LIB>.LIB/<OBJ>.<TYPE>   one file per object
//   <root>/daemon.active                     present while the client
//                                            daemon runs
//
// A command arrives as the PASE shell gets it; `system "CL command"` runs
// one CL command:
//
//   KXLIB/TELDRON UNINSTALL  (the client package's command, present while
//                            the package is installed) removes the library
//                            KXLIB with its objects and stops the daemon
//   CHKOBJ OBJ(LIB/OBJ) OBJTYPE(*TYPE)  nothing when the object exists,
//                            else CPF9801 on the error output
//   any other CL command      CPD0030 on the error output
//
// Any other shell command: "not found" on the error output, status 127.
#pragma once

#include <string>
#include <vector>

class SimIbmiMachine {
 public:
  explicit SimIbmiMachine(std::string root);

  int Run(const std::string& command, std::string& out, std::string& err);

  // Test helpers: the client package's library with its usual objects and
  // a running daemon.
  bool InstallClient();
  bool IsDaemonActive() const;
  // Every object as LIB/OBJ.TYPE, in name order.
  std::vector<std::string> List() const;

 private:
  int RunCl(const std::string& command, std::string& out, std::string& err);

  std::string m_root;
};
