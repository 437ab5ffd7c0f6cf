// The scan job's last step in the example host: one command run on the
// client with ClClientManager::executeOnClient, and its answer checked.
//
// An IBM i client runs it through the daemon's "SERVICE" connection: a CL
// command that the simulated daemon acknowledges; the daemon must have
// received it as sent and the result must be the success text. An OpenVMS
// client (--deploy --client-os openvms) runs it over ssh on the emulated
// machine: a DCL WRITE whose output must be the text it writes. Any other
// answer is an error.
#pragma once

#include <string>

#include "CWqError.h"

// Starts the simulated daemon's service side on a port of its own, points
// the client record at it, runs the command and prints what the client
// received and the result text. Needs the job's records and settings.
CWqError RunClientCommand();

// "client ibmi1, IBM i": the job's client and its system, from the records.
std::string DescribeJobClient();
