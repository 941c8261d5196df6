// Every supervised program of the service, addressed by process number.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "supervision/tclPrc.h"

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

  // Sized by the loader before the service's second thread exists.
  std::unique_ptr<tclPrc[]> Records;
  int32_t Count = 0;
  int32_t RestartInterval = 1000;
  std::atomic<bool> StartingAll{false};
  std::atomic<bool> StartsBlocked{false};
};
