// The commands of scmtool, one per subcommand; scmtool.cpp reads the command
// line and calls them. Each prints its result line and returns the exit code.
#pragma once
#include <windows.h>

namespace scmtool {

// Prints "error=<GetLastError>"; returns the failure exit code.
int Fail();
unsigned long Num(const char* s);

// The service manager (scmtool_services.cpp).
int CmdCreate(const char* name, const char* path, const char* typeHex);
int CmdDelete(const char* name);
int CmdStart(const char* name);
int CmdControl(const char* name, const char* code);
int CmdFlood(const char* name, const char* ms, char** codes, int count);
int CmdQuery(const char* name);
int CmdConfig(const char* name);
int CmdWait(const char* name, const char* state, const char* timeout);
int CmdExists(const char* name);

// Processes and their windows (scmtool_processes.cpp).
int CmdPriority(DWORD pid);
int CmdKill(DWORD pid);
int CmdAlive(DWORD pid);
int CmdMem(DWORD pid);
int CmdVisible(DWORD pid, const char* desk);
int CmdProbe(DWORD pid, const char* desk);
int CmdQuit(DWORD pid);
int CmdImage(DWORD pid);
int CmdExec();

} // namespace scmtool
