// A named mutex that the service (LocalSystem) and administrators' consoles
// share across processes and accounts.
#pragma once
#include <string>

#include "platform/win.h"

// "Global\QuarnLoader.<kind>.<hash>": the same for any letter case of `key`,
// within the platform's name rules whatever `key` holds.
std::string SharedLockName(const std::string& kind, const std::string& key);
// Null when neither making nor opening gives a lock this process can release.
HANDLE MakeOrOpenLock(const std::string& name);
