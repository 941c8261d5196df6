#include "supervision/tclPrcList.h"

#include <new>

#include "config/Constants.h"

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

tclPrcPin tclPrcList::Pin(int32_t n) const {
  std::unique_lock<std::mutex> table = HoldTable();
  return tclPrcPin(IsValidIndex(n) ? &Records[n] : nullptr);
}

std::vector<tclPrcPin> tclPrcList::PinAll() const {
  std::unique_lock<std::mutex> table = HoldTable();
  std::vector<tclPrcPin> pins;
  for (tclPrc* record : AllRecords()) pins.emplace_back(record);
  return pins;
}

// The operations a console command reaches work on a pinned record, so that
// one waiting on its program holds up nobody else.
bool tclPrcList::StartNow(int32_t n) {
  tclPrcPin record = Pin(n);
  if (!record) return false;
  record->ForgetFailedRuns();
  return !StartsBlocked && record->Launch();
}

bool tclPrcList::Stop(int32_t n, bool wait) {
  tclPrcPin record = Pin(n);
  return record && record->Stop(wait);
}

bool tclPrcList::SetPriority(int32_t n, uint32_t priorityClass) {
  tclPrcPin record = Pin(n);
  return record && record->SetPriority(priorityClass);
}

bool tclPrcList::Pause(int32_t n) {
  tclPrcPin record = Pin(n);
  if (record) record->Paused = true;
  return bool(record);
}

bool tclPrcList::Resume(int32_t n) {
  tclPrcPin record = Pin(n);
  if (record) record->Paused = false;
  return bool(record);
}

bool tclPrcList::ShowHide(int32_t n, bool hide) {
  tclPrcPin record = Pin(n);
  return record && record->ShowHide(hide);
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
    record->Number = Count;
    Records.Slots.push_back(std::move(record));
    ++Count;
  }
  return true;
}

std::unique_ptr<tclPrc> tclPrcList::Make(const tclPrcSettings& settings) {
  std::unique_ptr<tclPrc> record(new (std::nothrow) tclPrc(settings));
  if (!record) return record;
  record->StartsBlocked = &StartsBlocked;
  record->Capture = &Capture;
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

// Pinned, not held: the status write and the other records' supervision go
// on while each program is given its grace period.
void tclPrcList::StopAll(bool wait) {
  for (tclPrcPin& record : PinAll()) record->Stop(wait);
}
