// Restart back-off: a program whose runs keep ending early is restarted after
// a delay that doubles with each such run, up to a ceiling. Times are
// GetTickCount milliseconds passed in by the caller; only their differences
// count, so the ticks' wrap after 49 days does no harm.
#pragma once
#include <cstdint>

#include "platform/win.h"

// A delay that begins when a run is judged, and how long that run lasted.
struct tclRestartDelay {
  uint32_t Delay = 0;   // 0: none begins
  uint32_t Ran = 0;
};

class tclBackOff {
 public:
  void RunBegins(DWORD now);
  // A run seen alive at minUptime is a long one however long it goes on, even
  // past the ticks' wrap.
  void SeenAlive(DWORD now, uint32_t minUptime);
  // Judges the run that ends now, once. `lifetime` is how long the child
  // itself ran where the platform tells it; null: the run counts from its
  // launch. A short run counts against the program only when mayFail: an
  // administrator's stop is no failure of the program.
  tclRestartDelay RunEnds(const uint32_t* lifetime, bool mayFail, DWORD now, uint32_t minUptime,
                          uint32_t maxDelay);
  bool IsRunOpen() const { return RunOpen; }
  bool IsWaiting(DWORD now, uint32_t* remainingMs);
  // An administrator's start: no delay, no short runs counted.
  void Forget();

 private:
  bool RunOpen = false;   // a child was launched and its run not judged yet
  DWORD RunStart = 0;
  bool RunLongEnough = false;
  uint32_t FailedRuns = 0;   // short runs in a row
  DWORD WaitFrom = 0;
  uint32_t WaitFor = 0;      // 0: no delay to wait out
};
