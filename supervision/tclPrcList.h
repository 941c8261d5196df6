// Every supervised program of the service, addressed by process number.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "supervision/Reload.h"
#include "supervision/tclPrc.h"

using tclPrcSlots = std::vector<std::unique_ptr<tclPrc>>;

// The records by number, held by pointer so that a reload can give a record
// another number without touching its child.
class tclPrcTable {
 public:
  tclPrc& operator[](int32_t n) const { return *Slots[size_t(n)]; }
  tclPrcSlots Slots;
};

// One record pinned for as long as a command or a stop works on it. Taken
// with the table held for a moment: a reload either has finished with the
// record or finds it pinned. Empty when there was no such record.
class tclPrcPin {
 public:
  explicit tclPrcPin(tclPrc* record = nullptr) : Record(record) {
    if (Record != nullptr) ++Record->Pins;
  }
  ~tclPrcPin() {
    if (Record != nullptr) --Record->Pins;
  }
  tclPrcPin(tclPrcPin&& other) noexcept : Record(other.Record) { other.Record = nullptr; }
  tclPrcPin(const tclPrcPin&) = delete;
  tclPrcPin& operator=(const tclPrcPin&) = delete;
  explicit operator bool() const { return Record != nullptr; }
  tclPrc* operator->() const { return Record; }
  tclPrc& operator*() const { return *Record; }

 private:
  tclPrc* Record;
};

// A record a reload took out of the table, and the number it had: its child
// is still to be stopped, or could not be.
struct tclLeavingPrc {
  int32_t Number = 0;
  std::unique_ptr<tclPrc> Record;
  DWORD LastStop = 0;   // tick count of the last stop asked of it
};

// Every record asked to stop at the same moment and all waited for together;
// `tick` runs about once a second meanwhile. How many had to be terminated.
uint32_t StopRecordsTogether(const std::vector<tclPrc*>& records,
                             const std::function<void()>& tick);

class tclPrcList {
 public:
  tclPrcList() = default;
  ~tclPrcList();
  tclPrcList(const tclPrcList&) = delete;
  tclPrcList& operator=(const tclPrcList&) = delete;

  bool IsValidIndex(int32_t n) const { return n >= 0 && n < Count; }
  std::string AppName(int32_t n) const;
  bool IsRunning(int32_t n);
  bool IsNotResponding(int32_t n);
  bool IsPaused(int32_t n) const;
  bool IsAutoRestart(int32_t n) const;
  bool IsLogging(int32_t n) const;
  bool Start(int32_t n);
  // A start asked for from the console: at once, whatever the restart delay,
  // and the program's failed runs are counted from none again.
  bool StartNow(int32_t n);
  bool Stop(int32_t n, bool wait);
  bool SetPriority(int32_t n, uint32_t priorityClass);
  bool Pause(int32_t n);
  bool Resume(int32_t n);
  bool ShowHide(int32_t n, bool hide);

  // Number n's record, or every record (those leaving the table too),
  // pinned; the table is held only while they are pinned, never while a
  // program is waited on.
  tclPrcPin Pin(int32_t n) const;
  std::vector<tclPrcPin> PinAll() const;

  bool Allocate(int32_t n);
  bool Allocate(const std::vector<tclPrcSettings>& programs);
  // A record of this table, not started.
  std::unique_ptr<tclPrc> Make(const tclPrcSettings& settings);
  void Clear();
  void StartAll();
  void StopAll(bool wait);
  // Every program asked to stop at the same moment and all waited for
  // together; `tick` runs about once a second meanwhile. How many had to be
  // terminated.
  uint32_t StopTogether(const std::function<void()>& tick);
  uint32_t LongestStopPause() const;
  // The records of the table, then those leaving it; the table is held.
  std::vector<tclPrc*> AllRecords() const;
  // Stops, all at once, the records a reload took out whose child is still
  // running; `again`: only those last tried a while ago, each with a log
  // line. Those that have ended go.
  void StopLeaving(bool again);
  // Starts the records a reload added while starts were blocked, once they
  // are no longer.
  void StartOwed();
  void CheckAll();

  bool LoadFromIni();
  int32_t FindByName(const std::string& name);

  // The settings by number. Only the supervision loop, which alone changes
  // the table, may read them without holding it.
  std::vector<tclPrcSettings> RunningSettings() const;
  // Whether a console command holds a record the plan moves, removes,
  // restarts or changes; the table is held.
  bool IsPinned(const tclReloadPlan& plan) const;
  // The records of the plan's added and restarted numbers, made before the
  // table is taken; false when memory ran out.
  bool MakeNew(const tclReloadPlan& plan, const std::vector<tclPrcSettings>& file,
               tclPrcSlots& fresh);
  // Carries the plan out with the table held: only pointers move and
  // settings are assigned. What leaves the table goes to Leaving, to be
  // stopped once the table is let go; what is to be started is returned.
  std::vector<tclPrc*> Apply(const tclReloadPlan& plan, const std::vector<tclPrcSettings>& file,
                             tclPrcSlots fresh);

  // The supervision loop alone changes the table, and holds it while it does;
  // other threads hold it only for a moment, to read it or to pin records.
  std::unique_lock<std::mutex> HoldTable() const { return std::unique_lock<std::mutex>(TableLock); }

  tclPrcTable Records;
  int32_t Count = 0;
  // Guarded by the table; only the supervision loop adds or drops them.
  std::vector<tclLeavingPrc> Leaving;
  int32_t RestartInterval = 1000;
  std::atomic<bool> StartingAll{false};
  std::atomic<bool> StartsBlocked{false};
  // A reload waiting for the loop: the pass in progress ends at the next
  // program instead of making it wait out the rest of RestartInterval.
  std::atomic<bool> ReloadAsked{false};
  // Reads every captured program's output; the service's stop ends it once
  // the programs are stopped.
  tclOutputCapture Capture;

 private:
  void DropEndedLeaving();   // the table is held

  mutable std::mutex TableLock;
};

// The table of the run; destroying it at exit stops none of the programs.
extern tclPrcList PrcList;
