// The one seam to the operating system. The system's code calls the Windows
// API by its own names; native builds get our simulated Windows instead.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#include <cstdio>
// Opening a file goes through the seam so that the simulated platform can map
// Windows paths into its own drive folders.
inline FILE* OpenFileA(const char* path, const char* mode) { return fopen(path, mode); }
#else
#include "platform/sim/simwin.h"
#endif
