// ExampleSoftwareCheck: the software check that the scan mode's first connect
// runs. The emulated IBM i machine has the client software: a product home
// is made whose IBM i package description ("pkginfo.dat") names the version
// that the simulated daemon reports on its "SERVICE" link, so the check asks
// the daemon and finds the client current. After the job it prints what the
// check did: the daemon's service links and version requests, and the
// client's settings section as the check left it.
#pragma once

#include <string>

#include "CWqError.h"
#include "ExampleFiles.h"

class SimClientDaemon;

class ExampleSoftwareCheck {
 public:
  // The package version, and the daemon's reply with its system version.
  static const char kPackageVersion[];
  static const char kDaemonVersion[];

  // Makes the product home (removed with this object) and points the
  // settings store in force at it ("ProductPaths" / "sHomeDirectory").
  CWqError Prepare();
  // Has `daemon` answer the version request on its service link.
  void Configure(SimClientDaemon& daemon) const;
  // Prints the check and its outcome (a row of the summary too): true when
  // the check found the client current.
  bool Report(const SimClientDaemon& daemon) const;

 private:
  ScopedTreeRemoval m_removal;
  std::string m_sPackageFile;
};
