// The service's reload of its configuration file: asked for by the control
// handler, carried out by the supervision loop between two passes.
#include "config/Constants.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

namespace {

// Beyond the longest grace: what a reload stops may be terminated, and the
// rest of it needs a moment.
const DWORD ReloadAllowance = 10000;

std::string NotReloaded(const std::string& reason) {
  return "The configuration was not reloaded: " + reason;
}

void WarnIfChanged(const std::string& key, bool changed) {
  if (changed)
    Log.FileLine(
        "Warning: The new " + key + " cannot apply to the running service: it is left as it is.",
        true);
}

void TakeSettings() {
  tclIniQuiet quiet(Ini);
  int32_t interval = Ini.ReadRestartInterval();
  if (interval != PrcList.RestartInterval) {
    Log.FileLine("Settings: RestartInterval is now " + std::to_string(interval) + ".", true);
    PrcList.RestartInterval = interval;
  }
  Service.LoadLogLimits(false);
  WarnIfChanged(KeyServiceName, Ini.ReadServiceName() != Service.Name);
  WarnIfChanged(KeyUserInterface, Ini.ReadUserInterface() != Service.Interactive);
  WarnIfChanged(KeyParallelStop, Ini.ReadOptionalYesNo(SettingsSection, KeyParallelStop, false) !=
                                     Service.ParallelStop);
  WarnIfChanged(KeyStopOnShutdown, Ini.ReadOptionalYesNo(SettingsSection, KeyStopOnShutdown,
                                                         false) != Service.StopOnShutdown);
}

std::string Reload(std::vector<tclPrc*>& toStart) {
  tclPrcSlots file;
  std::string reason;
  if (!tclPrcList::ReadCandidates(file, reason)) return NotReloaded(reason);
  tclReloadCounts counts;
  {
    std::unique_lock<std::mutex> table = PrcList.HoldTable();
    // Checked with the table held: a stop that began holds it to stop every
    // program, and must not find new ones after it.
    DWORD state = Service.CurrentState();
    if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED)
      return NotReloaded("the service is stopping.");
    if (file.empty() && PrcList.Count > 0)
      return NotReloaded("the file lists no program, while " + std::to_string(PrcList.Count) +
                         " are configured.");
    counts = PrcList.Replace(std::move(file), toStart);
  }
  TakeSettings();
  return "The configuration was reloaded: " + std::to_string(counts.Added) + " added, " +
         std::to_string(counts.Changed) + " changed, " + std::to_string(counts.Removed) +
         " removed, " + std::to_string(counts.Unchanged) + " unchanged.";
}

}  // namespace

void AskForReload() { PrcList.ReloadAsked = true; }

void ReloadIfAsked() {
  if (!PrcList.ReloadAsked.exchange(false)) return;
  // Before the file is read: every request counted so far sees what it holds.
  NoteReloadBegun(PrcList.LongestStopPause() + ReloadAllowance);
  WriteStatus();
  Log.FileLine("Reloading the configuration file ...", true);
  std::vector<tclPrc*> toStart;
  std::string outcome = Reload(toStart);
  Log.FileLine(outcome, true);
  NoteReload(outcome);
  WriteStatus();
  // Only this loop drops records, so these outlive their start; a command or
  // a stop meeting one of them is settled by its claim.
  for (tclPrc* record : toStart) record->Launch();
}
