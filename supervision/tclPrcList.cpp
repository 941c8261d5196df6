#include "supervision/tclPrcList.h"

#include <new>

#include "config/tclIni.h"

tclPrcList::~tclPrcList() {
  Clear();
  StartingAll = false;
}

std::string tclPrcList::AppName(int32_t n) const {
  return IsValidIndex(n) ? Records[n].Settings.Launch.AppName : std::string();
}

bool tclPrcList::IsRunning(int32_t n) { return IsValidIndex(n) && Records[n].IsRunning(); }

bool tclPrcList::IsNotResponding(int32_t n) {
  return IsValidIndex(n) && Records[n].IsNotResponding();
}

bool tclPrcList::IsPaused(int32_t n) const { return IsValidIndex(n) && Records[n].Paused; }

bool tclPrcList::IsAutoRestart(int32_t n) const {
  return IsValidIndex(n) && Records[n].Settings.AutoRestart;
}

bool tclPrcList::IsLogging(int32_t n) const {
  return IsValidIndex(n) && Records[n].Settings.PrcFileLogging;
}

bool tclPrcList::Start(int32_t n) {
  if (StartsBlocked) return false;
  return IsValidIndex(n) && Records[n].Launch();
}

bool tclPrcList::StartNow(int32_t n) {
  if (!IsValidIndex(n)) return false;
  Records[n].ForgetFailedRuns();
  return Start(n);
}

bool tclPrcList::Stop(int32_t n, bool wait) { return IsValidIndex(n) && Records[n].Stop(wait); }

bool tclPrcList::SetPriority(int32_t n, uint32_t priorityClass) {
  return IsValidIndex(n) && Records[n].SetPriority(priorityClass);
}

bool tclPrcList::Pause(int32_t n) {
  if (!IsValidIndex(n)) return false;
  Records[n].Paused = true;
  return true;
}

bool tclPrcList::Resume(int32_t n) {
  if (!IsValidIndex(n)) return false;
  Records[n].Paused = false;
  return true;
}

bool tclPrcList::ShowHide(int32_t n, bool hide) {
  return IsValidIndex(n) && Records[n].ShowHide(hide);
}

bool tclPrcList::Allocate(int32_t n) {
  return Allocate(std::vector<tclPrcSettings>(size_t(n > 0 ? n : 0)));
}

bool tclPrcList::Allocate(const std::vector<tclPrcSettings>& programs) {
  Clear();
  for (const tclPrcSettings& settings : programs) {
    if (Count == MaxProcesses) break;
    std::unique_ptr<tclPrc> record = Make(settings);
    if (!record) {
      Clear();
      return false;
    }
    Records.Slots.push_back(std::move(record));
    ++Count;
  }
  return true;
}

std::unique_ptr<tclPrc> tclPrcList::Make(const tclPrcSettings& settings) {
  std::unique_ptr<tclPrc> record(new (std::nothrow) tclPrc(settings));
  if (record) record->StartsBlocked = &StartsBlocked;
  return record;
}

void tclPrcList::Clear() {
  Records.Slots.clear();
  Count = 0;
}

void tclPrcList::StartAll() {
  if (StartsBlocked || StartingAll) return;
  StartingAll = true;
  for (int32_t n = 0; n < Count && !StartsBlocked; ++n)
    if (!IsPaused(n)) Start(n);
  StartingAll = false;
}

void tclPrcList::StopAll(bool wait) {
  std::unique_lock<std::mutex> table = HoldTable();
  for (tclPrc* record : AllRecords()) record->Stop(wait);
}
