// One configured program that the service keeps alive, and the child process
// that currently runs it.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win.h"
#include "supervision/BackOff.h"
#include "supervision/FailureCommand.h"
#include "supervision/ChildStreams.h"
#include "supervision/HealthCheck.h"
#include "supervision/OutputCapture.h"
#include "supervision/ProcessTree.h"
#include "supervision/PrcSettings.h"

// What the status file tells about one program, read under one lock.
struct tclPrcFacts {
  bool Alive = false;
  DWORD ProcessId = 0;
  SYSTEMTIME Since;      // start of the current run, or when last found gone
  uint32_t Restarts = 0;  // launches after the first
  int32_t HangCount = 0;
  bool Paused = false;
  bool Unhealthy = false;   // alive, and its last counted health check failed
  bool GaveUp = false;      // restarted too often: not restarted until a start
};

class tclPrc {
 public:
  tclPrc();
  // Settings as loaded: the running priority and pause are the file's.
  explicit tclPrc(const tclPrcSettings& settings);
  ~tclPrc();
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

  // The supervision pass's own stop of a program it judged failed (hung or
  // unhealthy): the run it ends is judged like one that ended by itself, not
  // like a stop asked for by an administrator. `delay` tells whether a
  // restart delay begins.
  bool StopFailed(tclRestartDelay& delay);
  // Called by the pass that finds the program no longer alive: ends what the
  // program left running and judges the run; a delay that begins now.
  tclRestartDelay SettleExit();
  // Whether a restart waits out a delay, and if so for how many more
  // milliseconds. Safe from any thread.
  bool IsWaitingToRestart(uint32_t* remainingMs = nullptr);
  // A start asked for by an administrator: no delay, no failed runs counted,
  // no restarts either.
  void ForgetFailedRuns();

  // The exit code of a child that ended by itself, taken once per run by the
  // pass that finds it ended; false when there is no such run to judge.
  bool TakeExit(uint32_t& exitCode);
  // The restart policy's verdict on the run that ended; a restart it allows
  // counts from now.
  tclRestartVerdict JudgeEnd(tclRunEnd end, uint32_t exitCode);
  // Left stopped by the policy (ended cleanly, or given up on): not restarted
  // until an administrator's start or a reload of its policy.
  bool IsRestartHeld();
  void ForgetRestarts();
  // Run only by the supervision loop.
  tclFailureCommand FailureCommand;

  // Whether a health check of the live child is due now; if so it counts as
  // begun, and `child` tells which run it is about.
  bool HealthCheckDue(uint32_t& child);
  // Counts a finished check of that run; `failures` is the count it leaves.
  tclHealthVerdict CountHealthCheck(uint32_t child, bool passed, uint32_t& failures);
  // Called by the pass that found the program gone, before its restart:
  // whether its output has been written (or waited for long enough); then
  // its last words are logged, once, if it ended by itself.
  bool OutputSettled(const std::string& prefix);
  // The file options of the settings and number as they are now, applied to
  // the current run's files.
  void ApplyOutputOptions();

  // The live child failed its checks the configured number of times in a row.
  bool IsUnhealthy();
  // The check counted so far no longer stands: counting begins again.
  void ForgetHealthChecks();

  // Set by the loader before any second thread exists; afterwards a reload
  // assigns it while it holds the table and no command has the record pinned:
  // other threads read it holding one or the other.
  tclPrcSettings Settings;
  // Running values, which the console may set apart from the file's: the
  // control handler changes them, hence atomic.
  std::atomic<uint32_t> PriorityClass{NORMAL_PRIORITY_CLASS};
  std::atomic<bool> Paused{false};

  // Added or restarted by a reload while starts were blocked (the service
  // paused): started once they are not. Only the supervision loop touches it.
  bool StartOwed = false;

  // Console commands at work on this record; a reload leaves a pinned
  // record where it is until they are done.
  std::atomic<uint32_t> Pins{0};

  // Held by a launch or a stop from its first step to its last; whoever
  // fails to claim it gives up (or, stopping with wait, waits).
  std::atomic<bool> Busy{false};

  // Stops that had to terminate the program, for the service stop's summary.
  std::atomic<uint32_t> Terminations{0};

  // Set by the table: where captured output is read, and the number the
  // output's log lines name.
  tclOutputCapture* Capture = nullptr;
  std::atomic<int32_t> Number{0};

  // The table's start block, tested again once Busy is held, so that a stop
  // sequence that has passed this record finds no child created behind it.
  const std::atomic<bool>* StartsBlocked = nullptr;

 private:
  bool IsRunningLocked();
  HWND LiveMainWindowLocked();
  bool ShowMainWindow(int32_t showCommand);
  // Whether a stop that meets a launch or a stop under way waits for it, and
  // how the run it ends counts for the restart back-off.
  enum class BusyWait { GiveUp, Wait };
  enum class RunEnd { AsAsked, AsFailed };
  bool StopChild(BusyWait busy, RunEnd end, tclRestartDelay* delay);
  void WarnTreeNotStopped(DWORD error);
  tclRestartDelay EndRunLocked(bool mayFail);
  bool PrepareCapture(tclChildStreams& streams, STARTUPINFOEXA& startup);
  std::shared_ptr<tclCaptureRun> BeginCapture(tclChildStreams& streams);

  // Guards the child's handles and what is known about it, which both the
  // supervision pass and the control handler read.
  std::mutex Guard;
  PROCESS_INFORMATION ProcessInfo;
  HWND MainWindow = nullptr;
  bool Running = false;
  int32_t UnresponsiveCount = 0;
  uint32_t Generation = 0;   // counts the children, so a late probe can tell its own
  tclBackOff BackOff;
  tclHealthCount HealthCount;
  SYSTEMTIME Since;
  uint32_t Launches = 0;
  bool EndJudged = false;   // the current child's end was judged
  enum class Hold { None, Ended, GaveUp } Held = Hold::None;
  std::vector<DWORD> RestartTimes;   // ticks, only those within RestartWindow kept
  std::shared_ptr<tclCaptureRun> Output;   // the current run's, if captured

  // Touched only while Busy is held.
  tclProcessTree Tree;
};

// Holds a record's Busy flag for one scope. Whoever cannot claim it gives up
// or, told to wait, waits.
class tclBusyClaim {
 public:
  tclBusyClaim(std::atomic<bool>& busy, bool wait);
  ~tclBusyClaim() { Release(); }
  tclBusyClaim(const tclBusyClaim&) = delete;
  tclBusyClaim& operator=(const tclBusyClaim&) = delete;
  explicit operator bool() const { return Held; }
  void Release();

 private:
  std::atomic<bool>& Busy;
  bool Held = false;
};

// A stamped line about one program, written to the file only while its file
// logging is on.
void LogProgramLine(bool fileLogging, const std::string& text);

HWND FindMainWindow(DWORD processId);
