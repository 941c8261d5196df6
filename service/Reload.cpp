// The service's reload of its configuration file: asked for by the control
// handler, carried out by the supervision loop between two passes: a plan
// made from the settings alone, applied to the table in a moment, then the
// programs that left it stopped together and the new ones started.
#include "config/Constants.h"
#include "config/Loader.h"
#include "config/tclIni.h"
#include "log/tclEventLog.h"
#include "log/tclLog.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

namespace {

// Beyond the longest grace: what a reload stops may be terminated, and the
// rest of it needs a moment.
const DWORD ReloadAllowance = 10000;

// A reload a console command put off, tried again in every turn of the loop
// (which alone touches it) until the command is done.
bool PutOff = false;

const std::string NotReloadedText = "The configuration was not reloaded: ";

std::string NotReloaded(const std::string& reason) { return NotReloadedText + reason; }

void WarnIfChanged(const std::string& key, bool changed) {
  if (changed)
    Log.FileLine(
        "Warning: The new " + key + " cannot apply to the running service: it is left as it is.",
        true);
}

void TakeSettings(const tclFileSettings& file) {
  if (file.RestartInterval != PrcList.RestartInterval) {
    Log.FileLine("Settings: RestartInterval is now " + std::to_string(file.RestartInterval) + ".",
                 true);
    PrcList.RestartInterval = file.RestartInterval;
  }
  bool eventLog;
  {
    tclIniQuiet quiet(Ini);
    Service.LoadLogLimits(false);
    eventLog = Ini.ReadOptionalYesNo(SettingsSection, KeyEventLog, false);
  }
  if (eventLog != EventLog.Enabled()) {
    Log.FileLine(std::string("Settings: EventLog is now ") + (eventLog ? "yes." : "no."), true);
    EventLog.Enable(Service.Name, eventLog);
  }
  WarnIfChanged(KeyServiceName, file.ServiceName != Service.Name);
  WarnIfChanged(KeyUserInterface, file.UserInterface != Service.Interactive);
  WarnIfChanged(KeyParallelStop, file.ParallelStop != Service.ParallelStop);
  WarnIfChanged(KeyStopOnShutdown, file.StopOnShutdown != Service.StopOnShutdown);
}

// The outcome, or "" when a console command holds a record the plan would
// disturb: the request is kept for the loop's next turn.
std::string Reload(std::vector<tclPrc*>& toStart) {
  tclFileSettings file;
  std::string reason;
  if (!ReadForReload(Ini, file, reason)) return NotReloaded(reason);
  std::vector<tclPrcSettings> running = PrcList.RunningSettings();
  tclReloadPlan plan = PlanReload(running, file.Programs);
  tclPrcSlots fresh;
  if (!PrcList.MakeNew(plan, file.Programs, fresh)) return NotReloaded("out of memory.");
  {
    std::unique_lock<std::mutex> table = PrcList.HoldTable();
    // Checked with the table held: a stop that began holds it to stop every
    // program, and must not find new ones after it.
    DWORD state = Service.CurrentState();
    if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED)
      return NotReloaded("the service is stopping.");
    if (file.Programs.empty() && PrcList.Count > 0)
      return NotReloaded("the file lists no program, while " + std::to_string(PrcList.Count) +
                         " are configured.");
    if (PrcList.IsPinned(plan)) return "";
    toStart = PrcList.Apply(plan, file.Programs, std::move(fresh));
  }
  for (const std::string& line : PlanLines(plan, running, file.Programs))
    Log.FileLine(line, true);
  TakeSettings(file);
  PrcList.StopLeaving(false);
  return "The configuration was reloaded: " + std::to_string(plan.Added()) + " added, " +
         std::to_string(plan.ChangedCount()) + " changed, " +
         std::to_string(plan.Removed.size()) + " removed, " + std::to_string(plan.Unchanged()) +
         " unchanged.";
}

}  // namespace

void AskForReload() { PrcList.ReloadAsked = true; }

void ReloadIfAsked() {
  PrcList.StopLeaving(true);
  PrcList.StartOwed();
  if (!PrcList.ReloadAsked.exchange(false)) return;
  // Before the file is read: every request counted so far sees what it holds.
  NoteReloadBegun(PrcList.LongestStopPause() + ReloadAllowance);
  WriteStatus();
  if (!PutOff) Log.FileLine("Reloading the configuration file ...", true);
  std::vector<tclPrc*> toStart;
  std::string outcome = Reload(toStart);
  PutOff = outcome.empty();
  if (PutOff) {
    PrcList.ReloadAsked = true;
    return;
  }
  Log.FileLine(outcome, true);
  if (outcome.compare(0, NotReloadedText.size(), NotReloadedText) == 0)
    EventLog.Report(tclEventId::ReloadRefused, outcome);
  NoteReload(outcome);
  WriteStatus();
  // Only this loop drops records, so these outlive their start; a command or
  // a stop meeting one of them is settled by its claim.
  for (tclPrc* record : toStart) {
    if (PrcList.StartsBlocked)
      record->StartOwed = true;
    else
      record->Launch();
  }
}
