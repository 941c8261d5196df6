// The entry function of both roles: service (no argument) and console tool.
#pragma once
#include <string>

int Entry(int argc, char** argv);

void PrintBanner();
void PrintUsage();

// The console command tables. Each returns false when the option is not in
// its table; otherwise it sets the exit status, and the service commands may
// set the message that the entry writes when it ends.
bool RunServiceCommand(const std::string& option, int& exitStatus, std::string& resultMessage);
bool RunProcessCommand(const std::string& option, const std::string& argument, int& exitStatus);

bool SendProcessCommand(unsigned code, const std::string& processArgument);
// "-status": exit status 0 when the status was printed.
int ShowStatus();
// "-reload": exit status 0 when the service reports the file reloaded.
int ReloadConfiguration();
bool ReadWholeFile(const std::string& path, std::string& text);
