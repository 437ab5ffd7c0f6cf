// deploy_check_bench: what the software check costs a connect when it is not
// due.
//
// One simulated IBM i daemon (it answers the version request) and one client
// record. A first managed connect runs the check in full: it asks the
// daemon for its version through "SERVICE" and records the next check hours
// ahead. Then, in each round, the same number of managed connects (the
// check is not due: the manager's set-up, the client's lock and a few
// settings reads) and of unmanaged ones (noManage true: no check), the two
// in alternating order. Prints both rates (the median of the rounds), the
// median of the rounds' ratios (managed time / unmanaged time) against the
// goal, what the check adds to a connect, and the version requests the daemon saw (1: the measured connects
// made no remote call).
//
//   deploy_check_bench [connects per round, default 400] [rounds, default 7]
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ClClientManager.h"
#include "ClProxyClientConnection.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPassword.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimServiceDaemon.h"
#include "SimSshTools.h"

namespace {

const int32_t kClient = 5;
const char kSection[] = "ProxyClients/ibmi1";
const char kVersion[] = "5:20:";
const double kGoalRatio = 4.0;

void AddClient(uint16_t port) {
  RecordRegistry& r = RecordRegistry::Instance();
  r.Reset();
  r.AddClient(kClient, "ibmi1", 118);
  r.SetClientValue(kClient, "NetworkHostname", RecordValue("127.0.0.1"));
  r.SetClientValue(kClient, "KXDPort", RecordValue(static_cast<int>(port)));
  r.SetClientProperty(kClient, "IBMiUserProfile", RecordValue("KXUSER"));
  r.SetClientProperty(kClient, "IBMiUserPassword", RecordValue(KXPassword::encrypt("secret")));
  r.SetClientProperty(kClient, "IBMiDataFolder", RecordValue("/kxdata"));
  r.SetClientProperty(kClient, "SubsystemDesc", RecordValue("KXLIB/KXSBS"));
  r.SetClientProperty(kClient, "CreateJobQueue", RecordValue(false));
  r.SetClientProperty(kClient, "JobQueue", RecordValue("KXLIB/KXJOBQ"));
  r.SetClientProperty(kClient, "JobPriority", RecordValue(5));
  r.SetClientProperty(kClient, "RunPriority", RecordValue(20));
  r.SetClientProperty(kClient, "OpenVMSProxyClientId", RecordValue(3));
  r.SetClientProperty(kClient, "IsUpdateInstallBlocked", RecordValue(false));
}

bool Connect(uint16_t port, bool noManage) {
  ClProxyClientConnection link;
  CWqError result = link.connectToClient("127.0.0.1", port, 0, 0, kClient, noManage);
  if (result.IsError()) return bench::Fail(noManage ? "unmanaged connect" : "managed connect", result);
  return true;
}

// Seconds spent in `count` connects (each link closed again); negative when
// one failed. The daemon takes each connection before the next one starts,
// outside the time: a connect that found its accept queue full would wait
// for the SYN to be sent again, a second that is the daemon's, not ours.
double Run(SimServiceDaemon& daemon, bool noManage, int count) {
  double seconds = 0;
  for (int i = 0; i < count; ++i) {
    const size_t accepted = daemon.GetConnectionCount();
    const auto start = std::chrono::steady_clock::now();
    if (!Connect(daemon.GetPort(), noManage)) return -1;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!daemon.WaitForAccepted(accepted + 1, 10)) {
      std::fprintf(stderr, "the daemon did not take connection %zu\n", accepted + 1);
      return -1;
    }
  }
  return seconds;
}

size_t VersionRequests(const SimServiceDaemon& daemon) {
  const std::vector<ClProxyMsgType> requests = daemon.GetRequests();
  return static_cast<size_t>(std::count(requests.begin(), requests.end(), VERSION_REQUEST_MSG));
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 400;
  if (count <= 0) count = 400;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  if (rounds <= 0) rounds = 7;
  g_ptrLogWriter->SetLevel(-2);  // nothing: the table only

  ScopedSettingsRoot settingsRoot;
  // A product home with the IBM i package description.
  SimSshTools home;
  CWqError result = home.Install();
  if (result.IsError()) return bench::Fail("product home", result) ? 0 : 1;
  if (!SimSshTools::WriteFile(home.PackageFolder("iSeries") + "/pkginfo.dat", std::string(kVersion) + "\n")) {
    std::fprintf(stderr, "cannot write pkginfo.dat\n");
    return 1;
  }
  KXPlatformInfo settings;
  settings.setString("ProductPaths", "sHomeDirectory", home.HomeDirectory().c_str(), home.HomeDirectory().size());

  SimServiceDaemon daemon;
  daemon.SetVersionReply(std::string(kVersion) + "OSVERSION=V7R5M0");
  result = daemon.Start();
  if (result.IsError()) return bench::Fail("daemon", result) ? 0 : 1;
  AddClient(daemon.GetPort());

  // The check in full, once: afterwards it is not due for hours.
  if (!Connect(daemon.GetPort(), false)) return 1;
  unsigned long next = 0;
  if (!settings.getNumber(kSection, "checkBinary", &next) || VersionRequests(daemon) != 1) {
    std::fprintf(stderr, "the first managed connect did not complete the check (%zu version requests)\n",
                 VersionRequests(daemon));
    return 1;
  }
  // Warm-up of both kinds, not counted.
  if (Run(daemon, false, count / 10 + 1) < 0 || Run(daemon, true, count / 10 + 1) < 0) return 1;

  std::vector<double> managed, unmanaged, ratios;
  for (int round = 0; round < rounds; ++round) {
    double m, u;
    if (round % 2 == 0) {
      u = Run(daemon, true, count);
      m = Run(daemon, false, count);
    } else {
      m = Run(daemon, false, count);
      u = Run(daemon, true, count);
    }
    if (m <= 0 || u <= 0) return 1;
    managed.push_back(count / m);
    unmanaged.push_back(count / u);
    ratios.push_back(m / u);
  }
  const size_t requests = VersionRequests(daemon);
  daemon.Stop();
  RecordRegistry::Instance().Reset();

  std::printf("%d connects per round, %d rounds, one simulated IBM i daemon\n", count, rounds);
  std::printf("%-34s %14s\n", "", "connects/s");
  std::printf("%-34s %14.0f\n", "unmanaged (noManage true)", bench::Median(unmanaged));
  std::printf("%-34s %14.0f\n", "managed, check not due", bench::Median(managed));
  std::printf("%-34s %14.1f\n", "not-due check per connect (us)",
              1e6 / bench::Median(managed) - 1e6 / bench::Median(unmanaged));
  const double ratio = bench::Median(ratios);
  std::printf("median ratio managed/unmanaged time: %.2f (goal <= %.0f: %s)\n", ratio, kGoalRatio,
              ratio <= kGoalRatio ? "met" : "MISSED");
  std::printf("version requests the daemon saw: %zu (the first, full check only)\n", requests);
  std::vector<double> speed;  // unmanaged time / managed time
  for (double r : ratios) speed.push_back(1 / r);
  bench::PrintResult("managed connect, check not due", speed, -1, -1);
  return 0;
}
