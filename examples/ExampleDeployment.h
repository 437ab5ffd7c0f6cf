// ExampleDeployment: the client machine of the scan mode's --deploy run.
// It starts a real sshd on loopback with a throwaway user (so it needs
// root, and says so first), puts the product's tools in front of it and an
// emulated IBM i or OpenVMS system without the client software behind it,
// and makes the package that the job's first connect installs. The
// installed software starts the job's simulated daemon, which until then
// refuses connections. Each remote command and copy is printed as the
// client receives it (the password never appears in either). Everything it
// made goes with the object: sshd, user, tools and package.
#pragma once

#include <memory>
#include <string>

#include "CWqError.h"
#include "ExampleInterrupt.h"
#include "SimEmulatedSystem.h"
#include "SimSshTools.h"
#include "SimSshd.h"

class SimClientDaemon;

class ExampleDeployment {
 public:
  explicit ExampleDeployment(bool openVms);
  // sshd and its sessions end before the machine behind them goes.
  ~ExampleDeployment();

  // sshd, tools, package and machine; "ProductPaths" / "sHomeDirectory" of
  // the settings store in force points at the tools' product home.
  CWqError Prepare();
  // The installed client software starts `daemon` (reserved, not started).
  void Attach(SimClientDaemon& daemon);
  // After the job's records are loaded: the client's system, login and
  // folder are this machine's.
  CWqError PatchRecords() const;
  // What the machine holds after the job, and the client's settings (a row
  // of the summary too).
  void Report() const;
  // Removes the client software through the deployment manager, then
  // prints what is left on the machine and that the settings are gone; an
  // error when anything of the client software is left.
  CWqError Uninstall() const;

 private:
  CWqError WritePackage() const;

  bool m_bOpenVms;
  SimSshd m_sshd;
  SimSshTools m_tools;
  std::unique_ptr<SimEmulatedSystem> m_system;
  ScopedUndo m_undo;  // sshd, its user and the tools go on Ctrl-C too
};
