// What becomes of a program whose run ended: restarted, left stopped, or
// given up on. Decided from plain values, so a table can show every case.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win.h"

// How a program's failures are answered; the defaults answer none of them.
struct tclFailurePolicy {
  bool OnFailureOnly = false;   // AutoRestart=onfailure
  std::vector<uint32_t> SuccessCodes{0};
  uint32_t MaxRestarts = 0;     // 0: no limit
  uint32_t RestartWindow = 3600000;
  std::string Command;          // run when the program fails; empty: none
  uint32_t CommandTimeout = 30000;
  // One of these keys is in the file: restarts then log the exit code.
  bool Named = false;
};

enum class tclRunEnd { Exited, Hung, Unhealthy };
enum class tclRestartVerdict { Restart, NotRestarted, GiveUp };

// Decimal codes separated by commas, blanks around them allowed; false for
// anything else, codes then untouched.
bool ParseExitCodes(const std::string& text, std::vector<uint32_t>& codes);

// A hung or unhealthy program failed whatever its code.
bool IsFailure(const tclFailurePolicy& policy, tclRunEnd end, uint32_t exitCode);

// `restarts` are the tick counts of the restarts made so far; only those
// within RestartWindow of `now` count.
tclRestartVerdict DecideRestart(const tclFailurePolicy& policy, tclRunEnd end, uint32_t exitCode,
                                const std::vector<DWORD>& restarts, DWORD now);

// Whether the two decide every restart alike.
bool RestartsAlike(const tclFailurePolicy& a, const tclFailurePolicy& b);

// The word a failure command is told, QL_EVENT.
std::string EventWord(tclRunEnd end, tclRestartVerdict verdict);
