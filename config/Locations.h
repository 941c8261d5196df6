// Where the executable lies, and so its configuration and log files.
#pragma once
#include <string>

// The executable's directory with its trailing backslash, or "c:\".
std::string ModuleDirectory();
