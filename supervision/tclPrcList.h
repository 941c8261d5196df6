// Every supervised program of the service, addressed by process number.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// What a reload did, for its outcome line.
struct tclReloadCounts {
  int32_t Added = 0, Changed = 0, Removed = 0, Unchanged = 0;
};

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

  // Number n's record, or every record, pinned; the table is held only while
  // they are pinned, never while a program is waited on.
  tclPrcPin Pin(int32_t n) const;
  std::vector<tclPrcPin> PinAll() const;

  bool Allocate(int32_t n);
  void Clear();
  void StartAll();
  void StopAll(bool wait);
  // Every program asked to stop at the same moment and all waited for
  // together; `tick` runs about once a second meanwhile. How many had to be
  // terminated.
  uint32_t StopTogether(const std::function<void()>& tick);
  uint32_t LongestStopPause() const;
  void CheckAll();

  bool LoadFromIni();
  bool LoadProcessValues();
  int32_t FindByName(const std::string& name);
  // One program section, echoed as the key reads echo.
  static void ReadRecord(int32_t n, tclStopMethod fallback,
                         const std::vector<std::string>& commonEnvironment, tclPrc& record);
  // Every program section of the file, read without the echo; false with the
  // reason when the file cannot be taken as it stands.
  static bool ReadCandidates(tclPrcSlots& candidates, std::string& reason);

  // Puts the file's programs in place of the running ones, with the table
  // held: records that keep their child move, others are stopped, changed or
  // made. Returns what to start once the table is let go.
  tclReloadCounts Replace(tclPrcSlots candidates, std::vector<tclPrc*>& toStart);

  // The supervision loop alone changes the table, and holds it while it does;
  // other threads hold it only for a moment, to read it or to pin records.
  std::unique_lock<std::mutex> HoldTable() const { return std::unique_lock<std::mutex>(TableLock); }

  tclPrcTable Records;
  int32_t Count = 0;
  int32_t RestartInterval = 1000;
  std::atomic<bool> StartingAll{false};
  std::atomic<bool> StartsBlocked{false};
  // A reload waiting for the loop: the pass in progress ends at the next
  // program instead of making it wait out the rest of RestartInterval.
  std::atomic<bool> ReloadAsked{false};

 private:
  mutable std::mutex TableLock;
};

// The table of the run; destroying it at exit stops none of the programs.
extern tclPrcList PrcList;
