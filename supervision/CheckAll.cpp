// One pass of the supervision loop.
#include "config/Globals.h"
#include "supervision/tclPrcList.h"

namespace {

void LogDelay(const tclPrc& record, const std::string& prefix, const tclRestartDelay& delay) {
  if (delay.Delay == 0) return;
  LogProgramLine(record.PrcFileLogging, prefix + "Restart delayed by " +
                                            std::to_string(delay.Delay) +
                                            " ms: the program ran only " +
                                            std::to_string(delay.Ran) + " ms.");
}

// Whether the pass may restart the program now. The pass that sees a run end
// too early begins its delay; later passes only pass it over until it runs out.
bool RestartDue(tclPrc& record, const std::string& prefix) {
  LogDelay(record, prefix, record.SettleExit());
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
  for (int32_t n = 0; n < Count && !ReloadAsked; ++n) {
    if (IsAutoRestart(n) && !IsPaused(n)) {
      std::string prefix = "Process (" + std::to_string(n) + "): ";
      if (IsNotResponding(n)) {
        LogProgramLine(IsLogging(n), prefix + "Program is not responding: " + AppName(n));
        tclRestartDelay delay;
        if (Records[n].StopUnresponsive(delay)) LogDelay(Records[n], prefix, delay);
      } else if (!IsRunning(n) && RestartDue(Records[n], prefix)) {
        LogProgramLine(IsLogging(n), prefix + "Attempting to restart program: " + AppName(n));
        if (!Start(n))
          LogProgramLine(IsLogging(n), "The program could not be restarted at this time.");
      }
    }
    Sleep(delay);
  }
}
