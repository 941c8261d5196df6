// A reload's plan carried out on the table.
#include "supervision/tclPrcList.h"

std::vector<tclPrcSettings> tclPrcList::RunningSettings() const {
  std::vector<tclPrcSettings> settings;
  for (int32_t n = 0; n < Count; ++n) settings.push_back(Records[n].Settings);
  return settings;
}

bool tclPrcList::IsPinned(const tclReloadPlan& plan) const {
  for (int32_t n : plan.Disturbed())
    if (Records[n].Pins > 0) return true;
  // A command reads the settings of the record it holds.
  for (const tclPlannedProgram& p : plan.Programs)
    if (p.From >= 0 && !p.Changed.empty() && Records[p.From].Pins > 0) return true;
  return false;
}

bool tclPrcList::MakeNew(const tclReloadPlan& plan, const std::vector<tclPrcSettings>& file,
                         tclPrcSlots& fresh) {
  fresh.clear();
  for (size_t n = 0; n < plan.Programs.size(); ++n) {
    bool own = plan.Programs[n].From < 0 || plan.Programs[n].Restart;
    fresh.push_back(own ? Make(file[n]) : nullptr);
    if (own && !fresh.back()) return false;
    if (own) fresh.back()->Number = int32_t(n);
  }
  return true;
}

std::vector<tclPrc*> tclPrcList::Apply(const tclReloadPlan& plan,
                                       const std::vector<tclPrcSettings>& file,
                                       tclPrcSlots fresh) {
  std::vector<tclPrc*> toStart;
  for (int32_t n : plan.Removed) Leaving.push_back({n, std::move(Records.Slots[size_t(n)])});
  tclPrcSlots next;
  for (size_t n = 0; n < plan.Programs.size(); ++n) {
    const tclPlannedProgram& p = plan.Programs[n];
    const tclPrcSettings& wanted = file[n];
    if (p.From < 0 || p.Restart) {
      // A program of its own: no console pause, back-off or health count of
      // the run it replaces.
      if (p.Restart)
        Leaving.push_back({p.From, std::move(Records.Slots[size_t(p.From)])});
      next.push_back(std::move(fresh[n]));
      if (!wanted.Paused) toStart.push_back(next.back().get());
      continue;
    }
    next.push_back(std::move(Records.Slots[size_t(p.From)]));
    tclPrc& record = *next.back();
    // A class or a pause set at the console stays until the file's own changes.
    if (record.Settings.Priority != wanted.Priority && !record.SetPriority(wanted.Priority))
      LogProgramLine(wanted.PrcFileLogging, "The process priority could not be set.");
    if (record.Settings.Paused != wanted.Paused) record.Paused = wanted.Paused;
    // Failures counted by a check that no longer stands say nothing now.
    if (record.Settings.Health.Kind != wanted.Health.Kind ||
        record.Settings.AutoRestart != wanted.AutoRestart)
      record.ForgetHealthChecks();
    // A program the policy left stopped is restarted again under a new one.
    if (record.Settings.AutoRestart != wanted.AutoRestart ||
        !RestartsAlike(record.Settings.Failure, wanted.Failure))
      record.ForgetRestarts();
    record.Settings = wanted;
    record.Number = int32_t(n);
    record.ApplyOutputOptions();
  }
  Records.Slots = std::move(next);
  Count = int32_t(Records.Slots.size());
  return toStart;
}

void tclPrcList::StopLeaving(bool again) {
  // Each try costs the loop a grace period, so one that outlived its
  // termination is not tried in every pass.
  const DWORD retryPause = 60000;
  std::vector<tclPrc*> records;
  {
    std::unique_lock<std::mutex> table = HoldTable();
    DropEndedLeaving();
    DWORD now = GetTickCount();
    for (tclLeavingPrc& leaving : Leaving) {
      if (again && now - leaving.LastStop < retryPause) continue;
      leaving.LastStop = now;
      records.push_back(leaving.Record.get());
    }
  }
  if (records.empty()) return;
  for (tclPrc* record : records)
    if (again)
      LogProgramLine(record->Settings.PrcFileLogging,
                     "A removed program has not ended; it is stopped again: " +
                         record->Settings.Launch.AppName);
  StopRecordsTogether(records, [] {});
  std::unique_lock<std::mutex> table = HoldTable();
  DropEndedLeaving();
}

// A service stop may still hold one pinned.
void tclPrcList::DropEndedLeaving() {
  for (size_t i = Leaving.size(); i-- > 0;)
    if (Leaving[i].Record->Pins == 0 && !Leaving[i].Record->IsRunning())
      Leaving.erase(Leaving.begin() + long(i));
}

void tclPrcList::StartOwed() {
  if (StartsBlocked) return;
  for (int32_t n = 0; n < Count; ++n) {
    tclPrc& record = Records[n];
    if (!record.StartOwed || record.Paused) continue;
    record.StartOwed = false;
    record.Launch();
  }
}
