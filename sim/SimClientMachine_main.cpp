// The emulated client machine as a program, for the ssh stand-in's client
// end: "sim_client_machine vms|ibmi ROOT COMMAND" runs COMMAND on the
// machine whose state lies under ROOT, prints what the machine printed and
// exits with its status.
#include <cstdio>
#include <cstring>
#include <string>

#include "SimIbmiMachine.h"
#include "SimVmsMachine.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s vms|ibmi ROOT COMMAND\n", argv[0]);
    return 2;
  }
  std::string out, err;
  int status = 2;
  if (std::strcmp(argv[1], "vms") == 0) {
    status = SimVmsMachine(argv[2]).Run(argv[3], out, err);
  } else if (std::strcmp(argv[1], "ibmi") == 0) {
    status = SimIbmiMachine(argv[2]).Run(argv[3], out, err);
  } else {
    err = std::string("unknown machine ") + argv[1] + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
