// One pass of the supervision loop.
#include "config/Globals.h"
#include "supervision/tclPrcList.h"

namespace {
void LogAbout(tclPrcList& list, int32_t n, const std::string& text) {
  Log.SetFileEnabled(list.IsLogging(n));
  Log.FileLine(text, true);
  Log.SetFileEnabled(true);
}
}  // namespace

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
        LogAbout(*this, n, prefix + "Program is not responding: " + AppName(n));
        Stop(n, false);
      } else if (!IsRunning(n)) {
        LogAbout(*this, n, prefix + "Attempting to restart program: " + AppName(n));
        if (!Start(n)) LogAbout(*this, n, "The program could not be restarted at this time.");
      }
    }
    Sleep(delay);
  }
}
