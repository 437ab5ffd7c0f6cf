// Event ids of the platform's message catalogue that the proxy raises or
// returns. An error made from one carries the id (FXErrorUtil).
#pragma once

#include <cstdint>

// The client daemon could not be reached, or cannot be started from here.
const uint32_t EV_CLIENT_CONNECT_FAILED = 0x060003c5;
// The client daemon did not launch the client program.
const uint32_t EV_CLIENT_PROCESS_FAILED = 0x060000AF;
// An operation on or for the client failed (the text says which).
const uint32_t EV_CLIENT_OPERATION_FAILED = 0x060000a5;
// A file header from the client program could not be decoded.
const uint32_t EV_FILE_HEADER_DECODE_FAILED = 0x060000ad;
// A service connection to the client daemon could not be made.
const uint32_t EV_CLIENT_SERVICES_UNREACHABLE = 0x17000085;
// The client's operating system is neither OpenVMS nor IBM i.
const uint32_t EV_CLIENT_OS_UNSUPPORTED = 0x060000a2;
// The client software is older than the package on the proxy host.
const uint32_t EV_CLIENT_OUT_OF_DATE = 0x060000a1;
// An update of the client software started, or failed.
const uint32_t EV_CLIENT_INSTALL_STARTED = 0x06000163;
const uint32_t EV_CLIENT_INSTALL_FAILED = 0x06000164;
// The client software is missing on the client.
const uint32_t EV_CLIENT_NOT_INSTALLED = 0x060000a0;
// The client daemon could not be started or stopped.
const uint32_t EV_CLIENT_START_FAILED = 0x060000a3;
const uint32_t EV_CLIENT_STOP_FAILED = 0x060000a6;
// A file or folder on the client could not be made or removed.
const uint32_t EV_CLIENT_FILE_OPERATION_FAILED = 0x060000a4;
// The client is out of date but its updates are blocked.
const uint32_t EV_CLIENT_UPDATE_BLOCKED = 0x060001a1;
// A first installation of the client software succeeded.
const uint32_t EV_CLIENT_INSTALL_SUCCEEDED = 0x06000165;
