// The entry function of both roles: service (no argument) and console tool.
#pragma once
#include <string>

#include "supervision/StatusFile.h"

int Entry(int argc, char** argv);

void PrintBanner();
void PrintUsage();

// The console command tables. Each returns false when the option is not in
// its table; otherwise it sets the exit status, and the service commands may
// set the message that the entry writes when it ends.
bool RunServiceCommand(const std::string& option, int& exitStatus, std::string& resultMessage);
bool RunProcessCommand(const std::string& option, const std::string& argument, int& exitStatus);

bool SendProcessCommand(unsigned code, const std::string& processArgument);
// The lock a console holds over a command's codes: one per service.
std::string CommandLockName(const std::string& serviceName);
// "-status": exit status 0 when the status was printed.
int ShowStatus();
// "-reload": exit status 0 when the service reports the file reloaded.
int ReloadConfiguration();
// What the status file `file` says of reload request number `request` (0:
// not yet known), `waited` ms after it; `limit` (ms from the request) grows
// to the time the service gives a reload it is applying.
enum class ReloadWait { Answered, Waiting, GaveUp };
ReloadWait JudgeReloadWait(const StatusHeader& file, uint32_t request, DWORD waited,
                           DWORD& limit);
bool ReadWholeFile(const std::string& path, std::string& text);
