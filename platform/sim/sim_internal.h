// What the parts of the simulated Windows share among themselves; tests and
// the system's code use sim.h and simwin.h instead.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace sim {
namespace detail {

// Guards every piece of simulated state except the clock and the last error.
// Never held while the system's own code runs (service main, handlers).
std::mutex& Mu();

// Moves the clock forward to t; never backwards.
void AdvanceTo(uint64_t t);

// Threads that play the service's side (service main, dispatcher) are not
// console callers: their sleeps do not belong in the console's call record.
bool OnServiceSide();
void SetServiceSide(bool serviceSide);
void NoteSleep(DWORD ms);   // services.cpp

// Lower-case ASCII copy.
std::string Lower(const std::string& text);

// Each part puts itself back to its first state.
void ResetClock();
void ResetFiles();
void ResetProcesses();
void ResetWindows();
void ResetServices();   // may wait for service threads; call without Mu()
void ResetHolds();

// Where a test may hold a thread (holds.cpp); call without Mu().
void HoldPoint(const char* function);

// Processes and their windows (processes.cpp, windows.cpp); all *Locked
// functions expect Mu() to be held.
struct ProcRec {
  DWORD pid = 0;
  DWORD tid = 0;
  Program program;
  uint64_t startMs = 0;
  bool dead = false;
  DWORD exitCode = 0;
  bool terminated = false;
  int64_t quitExitAt = -1;   // clock time of the exit a WM_QUIT set off
  int64_t terminateExitAt = -1;   // and of the end a late TerminateProcess brings
  DWORD terminateExitCode = 0;
  DWORD priorityClass = NORMAL_PRIORITY_CLASS;
  SimWindow* window = nullptr;
  bool hungByTest = false;
  std::vector<int> showCommands;
  int quitMessages = 0;
};

// Brings a process's life up to the clock; returns whether it still lives.
bool AliveLocked(ProcRec& process);
// Earliest clock time at which the process will die by itself; -1 never.
int64_t NextDeathLocked(const ProcRec& process);
void DieLocked(ProcRec& process, DWORD exitCode);
ProcRec* FindProcessLocked(DWORD processId);
ProcRec* FindThreadLocked(DWORD threadId);

SimWindow* NewWindowLocked(ProcRec* owner);   // placed before all others
bool WindowLiveLocked(SimWindow* window);
void DestroyWindowLocked(ProcRec& owner);

}  // namespace detail
}  // namespace sim

struct SimWindow {
  sim::detail::ProcRec* owner = nullptr;
  bool destroyed = false;
};
