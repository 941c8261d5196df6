// One pass of the supervision loop.
#include "config/Globals.h"
#include "supervision/tclPrcList.h"

namespace {

// Whether the pass may restart the program now. The pass that sees a run end
// too early begins its delay; later passes only pass it over until it runs out.
bool RestartDue(tclPrc& record, const std::string& prefix) {
  uint32_t delay = 0, ran = 0;
  if (record.SettleExit(delay, ran))
    LogProgramLine(record.PrcFileLogging, prefix + "Restart delayed by " + std::to_string(delay) +
                                              " ms: the program ran only " +
                                              std::to_string(ran) + " ms.");
  return !record.IsWaitingToRestart();
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
        LogProgramLine(IsLogging(n), prefix + "Program is not responding: " + AppName(n));
        if (Records[n].StopUnresponsive()) RestartDue(Records[n], prefix);
      } else if (!IsRunning(n) && RestartDue(Records[n], prefix)) {
        LogProgramLine(IsLogging(n), prefix + "Attempting to restart program: " + AppName(n));
        if (!Start(n))
          LogProgramLine(IsLogging(n), "The program could not be restarted at this time.");
      }
    }
    Sleep(delay);
  }
}
