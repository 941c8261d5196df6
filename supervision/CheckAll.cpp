// One pass of the supervision loop.
#include "config/Globals.h"
#include "supervision/tclPrcList.h"

void tclPrcList::CheckAll() {
  if (Count < 1) {
    Sleep(DWORD(RestartInterval));
    return;
  }
  if (StartingAll) return;
  DWORD delay = DWORD(RestartInterval / Count);
  for (int32_t n = 0; n < Count; ++n) {
    if (IsAutoRestart(n) && !IsPaused(n)) {
      std::string prefix = "Process (" + std::to_string(n) + "): ";
      if (IsNotResponding(n)) {
        LogProgramLine(IsLogging(n), prefix + "Program is not responding: " + AppName(n));
        Stop(n, false);
      } else if (!IsRunning(n)) {
        LogProgramLine(IsLogging(n), prefix + "Attempting to restart program: " + AppName(n));
        if (!Start(n))
          LogProgramLine(IsLogging(n), "The program could not be restarted at this time.");
      }
    }
    Sleep(delay);
  }
}
