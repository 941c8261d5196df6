// How a reload compares a running program with its section in the file.
#pragma once
#include <string>
#include <vector>

#include "supervision/tclPrc.h"

// The settings a child is started with: where they are the same, the
// running program keeps its child.
bool SameLaunchSettings(const tclPrc& running, const tclPrc& file);
void TakeLaunchSettings(tclPrc& running, const tclPrc& file);
// Every other setting, taken without a restart; the keys that changed.
std::vector<std::string> TakeOtherSettings(tclPrc& running, const tclPrc& file);
