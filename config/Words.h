// Conversions of configuration and command-line texts.
#pragma once
#include <cstdint>
#include <string>

#include "supervision/HealthCheck.h"
#include "supervision/StopMethod.h"

// Only A to Z change: the texts are single-byte in the system code page.
std::string ToLowerText(const std::string& text);

// "C:\Tools\srv.exe" gives "C:\Tools\"; a path whose last backslash stands
// before index 2, or that has none, gives "".
std::string DirectoryOf(const std::string& path);

// Leading white space, an optional sign, then digits up to the first other
// character; no digits give 0. Overflow wraps in 32 bits instead of being
// undefined.
int32_t DecimalValue(const std::string& text);

uint32_t PriorityClassFromWord(const std::string& word);
// An unknown word is logged and gives SW_SHOWNA.
uint32_t ShowCommandFromWord(const std::string& word);
// An unknown word is logged as a "Window" word is, and gives Quit.
tclStopMethod StopMethodFromWord(const std::string& word);
// The same for a "HealthCheck" word, which gives None.
tclHealthKind HealthKindFromWord(const std::string& word);
