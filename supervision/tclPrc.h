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

  // Guards the child's handles and what is known about it, which both the
  // supervision pass and the control handler read.
  std::mutex Guard;
  PROCESS_INFORMATION ProcessInfo;
  HWND MainWindow = nullptr;
  bool Running = false;
  int32_t UnresponsiveCount = 0;
  uint32_t Generation = 0;   // counts the children, so a late probe can tell its own
  SYSTEMTIME Since;
  uint32_t Launches = 0;
};

// A stamped line about one program, written to the file only while its file
// logging is on.
void LogProgramLine(bool fileLogging, const std::string& text);

HWND FindMainWindow(DWORD processId);
DWORD WindowProcessId(HWND window);
