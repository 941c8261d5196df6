// The one seam to the operating system. The system's code calls the Windows
// API by its own names; native builds get our simulated Windows instead.
#pragma once

#ifdef _WIN32
// One health check per program may be in flight at once.
#define FD_SETSIZE 128
#include <winsock2.h>
#include <windows.h>
#include <sddl.h>
#include <cstdio>
// Opening a file goes through the seam so that the simulated platform can map
// Windows paths into its own drive folders.
inline FILE* OpenFileA(const char* path, const char* mode) { return fopen(path, mode); }
// Waiting on sockets too: natively the host's select would answer instead.
inline int SelectSockets(fd_set* read, fd_set* write, fd_set* except, DWORD milliseconds) {
  timeval wait = {long(milliseconds / 1000), long(milliseconds % 1000) * 1000};
  return select(0, read, write, except, &wait);
}
#else
#include "platform/sim/simwin.h"
#endif
