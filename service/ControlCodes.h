// The control codes between the console and the running service. A
// per-process command is two user codes: the operation, then 128 + number.
#pragma once
#include <cstdint>

#include "platform/win.h"

// Grouped by kind; the numbers travel between two programs, so each is
// written out rather than counted.
enum OperationCode : DWORD {
  OpStart = 128, OpStop = 129, OpPause = 130, OpResume = 131,
  OpReal = 132, OpHigh = 133, OpAbove = 134, OpNormal = 135, OpBelow = 136, OpLow = 137,
  OpUnassigned = 138,
  OpHide = 139, OpShow = 140,
};

constexpr DWORD ProcessCodeBase = 128;

// The priority class that a priority operation sets; 0 for other codes.
uint32_t PriorityClassOfOperation(DWORD code);
// The console's verb for an operation ("stop ", "set priority to high on ");
// null for a code that no option selects.
const char* VerbOfOperation(DWORD code);
