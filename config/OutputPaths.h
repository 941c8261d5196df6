// Where a program's captured output goes: the file keys made full paths.
#pragma once
#include <string>
#include <vector>

#include "config/tclIni.h"
#include "supervision/PrcSettings.h"

// `value` as a full path: a relative one is taken against `directory` (with
// its trailing backslash).
std::string FullOutputPath(const std::string& value, const std::string& directory);

// The folder of a full path, without its last backslash unless it is a root.
std::string FolderOf(const std::string& path);

// OutputLog and ErrorLog as written in the section, expanded against the
// program's environment (`entries` applied to ours) and made full paths
// against the executable's folder. A missing folder is reported and leaves
// the program uncaptured.
void ResolveOutputLogs(tclIni& ini, tclLaunchSettings& launch,
                       const std::vector<std::string>& entries);
