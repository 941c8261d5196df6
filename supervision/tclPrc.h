// One configured program that the service keeps alive, and the child process
// that currently runs it.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/win.h"

// What the status file tells about one program, read under one lock.
struct tclPrcFacts {
  bool Alive = false;
  DWORD ProcessId = 0;
  SYSTEMTIME Since;      // start of the current run, or when last found gone
  uint32_t Restarts = 0;  // launches after the first
  int32_t HangCount = 0;
  bool Paused = false;
};

class tclPrc {
 public:
  tclPrc();
  tclPrc(const tclPrc&) = delete;
  tclPrc& operator=(const tclPrc&) = delete;

  bool Launch();
  bool Stop(bool wait);
  bool IsRunning();
  bool IsNotResponding();
  bool SetPriority(uint32_t priorityClass);
  bool ShowHide(bool hide);
  bool ApplyShowCommand(int32_t showCommand);
  tclPrcFacts Facts();

  // The supervision pass's own stop of a hung program: the run it ends is
  // judged by SettleExit like one that ended by itself, not like a stop
  // asked for by an administrator.
  bool StopUnresponsive();
  // Called by the pass that finds the program no longer alive (or has just
  // stopped it): ends what the program left running and judges the run.
  // True when a restart delay begins now; delay and ran then say how long
  // it is and how long the run lasted, in milliseconds.
  bool SettleExit(uint32_t& delay, uint32_t& ran);
  // Whether a restart waits out a delay, and if so for how many more
  // milliseconds. Safe from any thread.
  bool IsWaitingToRestart(uint32_t* remainingMs = nullptr);
  // A start asked for by an administrator: no delay, no failed runs counted.
  void ForgetFailedRuns();

  // Set by the loader before any second thread exists. Afterwards only
  // PriorityClass and Paused change, by the control handler, hence atomic.
  std::string AppName;
  std::string ProcessName;
  std::string CommandLine;
  std::string FullCommandLine;
  std::string StartDir;
  std::atomic<uint32_t> PriorityClass{NORMAL_PRIORITY_CLASS};
  int32_t ShowCommand = SW_SHOWNA;
  uint32_t StartPause = 1000;
  uint32_t StopPause = 1000;
  bool PrcFileLogging = true;
  std::atomic<bool> Paused{false};
  bool AutoRestart = false;
  int32_t NumOfRespChecks = 0;
  uint32_t MinUptime = 0;            // 0: restarts are never delayed
  uint32_t MaxRestartDelay = 60000;
  bool StopProcessTree = false;

  // Held by a launch or a stop from its first step to its last; whoever
  // fails to claim it gives up (or, stopping with wait, waits).
  std::atomic<bool> Busy{false};

  // The table's start block, tested again once Busy is held, so that a stop
  // sequence that has passed this record finds no child created behind it.
  const std::atomic<bool>* StartsBlocked = nullptr;

 private:
  bool ClaimBusy() { bool expected = false; return Busy.compare_exchange_strong(expected, true); }
  bool IsRunningLocked();
  HWND LiveMainWindowLocked();
  bool ShowMainWindow(int32_t showCommand);
  bool StopChild(bool wait, bool byAdministrator);
  HANDLE StartJob();
  HANDLE JoinJob(HANDLE job, const PROCESS_INFORMATION& created);
  bool EndJob();
  void WarnTreeNotStopped(DWORD error);
  void BeginRunLocked();
  void EndRunByStopLocked(bool byAdministrator);
  void JudgeRunLocked(bool mayFail, DWORD end);

  // Guards the child's handles and what is known about it, which both the
  // supervision pass and the control handler read.
  std::mutex Guard;
  PROCESS_INFORMATION ProcessInfo;
  HWND MainWindow = nullptr;
  bool Running = false;
  int32_t UnresponsiveCount = 0;
  uint32_t Generation = 0;   // counts the children, so a late probe can tell its own

  // Restart back-off, in GetTickCount milliseconds (differences only, so the
  // ticks' wrap after 49 days does no harm).
  bool RunOpen = false;           // a child was launched and its run not judged yet
  DWORD RunStart = 0;
  bool RunLongEnough = false;     // seen alive at MinUptime: a wrap cannot undo it
  DWORD RunEnd = 0;               // when the pass's own stop ended the run
  bool RunStopped = false;
  uint32_t FailedRuns = 0;        // short runs in a row
  DWORD WaitFrom = 0;
  uint32_t WaitFor = 0;            // 0: no restart delay to wait out

  // The job holding the child's tree; touched only while Busy is held.
  HANDLE Job = nullptr;
  SYSTEMTIME Since;
  uint32_t Launches = 0;
};

// A stamped line about one program, written to the file only while its file
// logging is on.
void LogProgramLine(bool fileLogging, const std::string& text);

HWND FindMainWindow(DWORD processId);
DWORD WindowProcessId(HWND window);
