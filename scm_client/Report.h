// How the console role reports a message: console copy plain, log copy stamped.
#pragma once
#include <string>

#include "log/tclLog.h"

inline void Report(const std::string& message) { Log.BothLine(message, false, true); }
