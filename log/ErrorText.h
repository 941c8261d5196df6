// The one form of an error message: "Error (n)" and what the caller adds,
// with or without a colon.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win.h"

inline std::string ErrorText(DWORD error, const std::string& text) {
  return "Error (" + std::to_string(int32_t(error)) + ")" + text;
}
