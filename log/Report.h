// How the console role reports a message: console copy plain, log copy stamped.
#pragma once
#include <string>

#include "config/Globals.h"

inline void Report(const std::string& message) { Log.BothLine(message, false, true); }

inline std::string ErrorText(DWORD error, const std::string& text) {
  return "Error (" + std::to_string(int32_t(error)) + ")" + text;
}
