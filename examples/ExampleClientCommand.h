// The scan job's last step in the example host: one command run on the IBM i
// client with ClClientManager::executeOnClient, through the daemon's
// "SERVICE" connection, and its result printed.
#pragma once

#include "CWqError.h"

// Starts the simulated daemon's service side on a port of its own, points
// the client record at it, runs the command and prints what the daemon
// received and the result text. Needs the job's records and settings.
CWqError RunClientCommand();
