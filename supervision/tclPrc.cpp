#include "supervision/tclPrc.h"

#include <vector>

#include "log/tclLog.h"

namespace {
const DWORD NoProcessId = DWORD(-1);
const UINT ProbeTimeout = 1000;
const DWORD BusyPollInterval = 1000;
const DWORD TerminateWait = 5000;
}  // namespace

tclPrc::tclPrc() {
  ProcessInfo.hProcess = nullptr;
  ProcessInfo.hThread = nullptr;
  ProcessInfo.dwProcessId = NoProcessId;
  ProcessInfo.dwThreadId = 0;
  GetLocalTime(&Since);   // a record is made when the service loads its list
}

tclPrc::tclPrc(const tclPrcSettings& settings) : tclPrc() {
  Settings = settings;
  PriorityClass = settings.Priority;
  Paused = settings.Paused;
}

// Only a record whose child has ended, or could not be ended, goes: the
// handle is all that is left of it.
tclPrc::~tclPrc() {
  if (ProcessInfo.hProcess != nullptr) CloseHandle(ProcessInfo.hProcess);
}

tclBusyClaim::tclBusyClaim(std::atomic<bool>& busy, bool wait) : Busy(busy) {
  bool expected = false;
  while (!(Held = Busy.compare_exchange_strong(expected, true)) && wait) {
    expected = false;
    Sleep(BusyPollInterval);
  }
}

void tclBusyClaim::Release() {
  if (Held) Busy = false;
  Held = false;
}

void LogProgramLine(bool fileLogging, const std::string& text) {
  FileSwitch program(Log, fileLogging);
  Log.FileLine(text, true);
}

// Waiting on the handle, not the exit code: a child that exited with code 259
// would otherwise pass for alive forever.
bool tclPrc::IsRunningLocked() {
  bool was = Running;
  Running = ProcessInfo.hProcess != nullptr &&
            WaitForSingleObject(ProcessInfo.hProcess, 0) == WAIT_TIMEOUT;
  if (Running && Settings.MinUptime > 0) BackOff.SeenAlive(GetTickCount(), Settings.MinUptime);
  if (was && !Running) GetLocalTime(&Since);
  return Running;
}

tclPrcFacts tclPrc::Facts() {
  std::lock_guard<std::mutex> hold(Guard);
  tclPrcFacts facts;
  facts.Alive = IsRunningLocked();
  facts.ProcessId = ProcessInfo.dwProcessId;
  facts.Since = Since;
  facts.Restarts = Launches > 0 ? Launches - 1 : 0;
  facts.HangCount = UnresponsiveCount;
  facts.Paused = Paused;
  facts.Unhealthy = facts.Alive && HealthCount.Failures() > 0;
  facts.GaveUp = Held == Hold::GaveUp;
  return facts;
}

bool tclPrc::IsRunning() {
  std::lock_guard<std::mutex> hold(Guard);
  return IsRunningLocked();
}

// A window that is gone, or that now belongs to another process, is no window
// of ours: it must not be probed or shown. A program that opens its window
// only after StartPause would otherwise never be probed (nor its window shown)
// until its next launch, so a missing window is looked for again.
HWND tclPrc::LiveMainWindowLocked() {
  if (MainWindow == nullptr || !IsWindow(MainWindow) ||
      WindowProcessId(MainWindow) != ProcessInfo.dwProcessId)
    MainWindow = Running ? FindMainWindow(ProcessInfo.dwProcessId) : nullptr;
  return MainWindow;
}

bool tclPrc::Launch() {
  tclBusyClaim claim(Busy, false);
  if (!claim || (StartsBlocked != nullptr && *StartsBlocked)) return false;
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (IsRunningLocked()) return false;
    // The previous child has ended: its handle would leak with every restart.
    if (ProcessInfo.hProcess != nullptr) {
      CloseHandle(ProcessInfo.hProcess);
      ProcessInfo.hProcess = nullptr;
    }
  }
  Tree.End();   // what the previous child left running must not meet the new one
  tclProcessTree tree;
  if (Settings.StopProcessTree)
    if (DWORD error = tree.Create()) WarnTreeNotStopped(error);

  STARTUPINFOEXA startup = {};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_SHOWNA;
  tclChildStreams streams;
  bool captured = Settings.Launch.IsCaptured() && PrepareCapture(streams, startup);
  // Handles to this child must not leak into the children started after it.
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = FALSE;
  std::vector<char> commandLine(Settings.Launch.FullCommandLine.begin(),
                                Settings.Launch.FullCommandLine.end());
  commandLine.push_back('\0');
  PROCESS_INFORMATION created = {};
  uint32_t createdWith = PriorityClass;
  // Suspended until it is in its job, so that nothing it starts escapes.
  DWORD flags = createdWith | StopMethodCreationFlags(Settings.StopMethod) |
                (tree.Holds() ? CREATE_SUSPENDED : 0) |
                (captured ? EXTENDED_STARTUPINFO_PRESENT : 0);
  // An empty directory string makes the call fail; none means "inherit ours".
  // Nothing else is inherited: a child holding the log open would keep it
  // from being renamed or deleted for as long as it runs, and one holding
  // another program's pipe would keep that open as long as it lives.
  // Not while attached to another program's console: it would share that one.
  std::unique_lock<std::mutex> console = ExcludeConsoleAttach();
  BOOL ok = CreateProcessA(
      nullptr, commandLine.data(), &security, &security, captured ? TRUE : FALSE, flags,
      Settings.Launch.Environment.empty() ? nullptr : &Settings.Launch.Environment[0],
      Settings.Launch.StartDir.empty() ? nullptr : Settings.Launch.StartDir.c_str(),
      &startup.StartupInfo, &created);
  DWORD launchError = ok ? 0 : GetLastError();   // before the unlock can change it
  streams.CloseChildEnds();
  console.unlock();
  if (!ok) {
    LogProgramLine(Settings.PrcFileLogging, "Error ( " + std::to_string(int32_t(launchError)) +
                                                " ): Failed to start program " +
                                                Settings.Launch.AppName);
    return false;
  }
  if (tree.Holds())
    if (DWORD error = tree.Join(created)) WarnTreeNotStopped(error);
  Tree = std::move(tree);
  CloseHandle(created.hThread);
  created.hThread = nullptr;
  std::shared_ptr<tclCaptureRun> run = captured ? BeginCapture(streams) : nullptr;
  {
    std::lock_guard<std::mutex> hold(Guard);
    Output = run;
    BackOff.RunBegins(GetTickCount());
    HealthCount.LaunchBegins(GetTickCount());
    ProcessInfo = created;
    MainWindow = nullptr;
    UnresponsiveCount = 0;
    Running = true;
    ++Generation;
    ++Launches;
    EndJudged = false;
    GetLocalTime(&Since);
    // A priority set while the child was being created found no child to
    // apply it to; from here on SetPriority finds this one.
    if (PriorityClass != createdWith) SetPriorityClass(created.hProcess, PriorityClass);
  }
  if (Settings.StartPause > 0) Sleep(Settings.StartPause);
  WaitForInputIdle(created.hProcess, Settings.StartPause);
  HWND window = FindMainWindow(created.dwProcessId);
  {
    std::lock_guard<std::mutex> hold(Guard);
    MainWindow = window;
  }

  std::string message = "Started program " + Settings.Launch.AppName;
  if (Settings.ShowCommand != SW_SHOWNA) {
    LogProgramLine(Settings.PrcFileLogging, message);
    message = ShowMainWindow(Settings.ShowCommand)
                  ? ""
                  : "Warning: The window setting cannot be changed for this process.";
  }
  claim.Release();
  if (!message.empty()) LogProgramLine(Settings.PrcFileLogging, message);
  return true;
}

void tclPrc::WarnTreeNotStopped(DWORD error) {
  LogProgramLine(Settings.PrcFileLogging, "Warning ( " + std::to_string(int32_t(error)) +
                                     " ): The process tree cannot be stopped for program " +
                                     Settings.Launch.AppName);
}

HWND FindMainWindow(DWORD processId) {
  for (HWND window : TopLevelWindowsOf(processId))
    if (GetParent(window) == nullptr) return window;
  return nullptr;
}

// The asynchronous call: a hung window must not block the control handler.
bool tclPrc::ShowMainWindow(int32_t showCommand) {
  std::lock_guard<std::mutex> hold(Guard);
  if (!Running) return false;
  HWND window = LiveMainWindowLocked();
  if (window == nullptr) return false;
  ShowWindowAsync(window, showCommand);
  return true;
}

bool tclPrc::ApplyShowCommand(int32_t showCommand) {
  if (Busy) return false;
  return ShowMainWindow(showCommand);
}

bool tclPrc::ShowHide(bool hide) {
  if (!IsRunning()) return false;
  return ApplyShowCommand(hide ? SW_HIDE : SW_SHOWNA);
}

bool tclPrc::IsNotResponding() {
  HWND window;
  uint32_t probed;
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (Settings.NumOfRespChecks <= 0 || !IsRunningLocked()) {
      UnresponsiveCount = 0;
      return false;
    }
    window = LiveMainWindowLocked();
    if (window == nullptr) return false;
    probed = Generation;
  }
  DWORD_PTR result = 0;
  LRESULT answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                                         ProbeTimeout, &result);
  std::lock_guard<std::mutex> hold(Guard);
  // Stopped or replaced while the probe waited: the verdict is about a child
  // that is gone and must not count against its successor.
  if (Generation != probed) return false;
  if (answered != 0) {
    UnresponsiveCount = 0;
    return false;
  }
  ++UnresponsiveCount;
  return UnresponsiveCount >= Settings.NumOfRespChecks;
}

// The stored handle, never the id: after the child's exit its id may already
// belong to an unrelated process.
bool tclPrc::SetPriority(uint32_t priorityClass) {
  PriorityClass = priorityClass;
  std::lock_guard<std::mutex> hold(Guard);
  if (!IsRunningLocked()) return true;
  return SetPriorityClass(ProcessInfo.hProcess, priorityClass) != 0;
}

bool tclPrc::Stop(bool wait) {
  return StopChild(wait ? BusyWait::Wait : BusyWait::GiveUp, RunEnd::AsAsked, nullptr);
}

bool tclPrc::StopFailed(tclRestartDelay& delay) {
  return StopChild(BusyWait::GiveUp, RunEnd::AsFailed, &delay);
}

bool tclPrc::StopChild(BusyWait busy, RunEnd end, tclRestartDelay* delay) {
  // Waiting first means a launch in progress is stopped once it is done.
  tclBusyClaim claim(Busy, busy == BusyWait::Wait);
  if (!claim) return false;
  HANDLE process;
  DWORD processId, threadId;
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (!IsRunningLocked()) {
      // What a program that ended by itself left in its job would otherwise
      // run on, holding its ports, with nobody to end it.
      Tree.End();
      return false;
    }
    process = ProcessInfo.hProcess;
    processId = ProcessInfo.dwProcessId;
    threadId = ProcessInfo.dwThreadId;
  }

  std::string message = "Stopped process ";
  if (Settings.StopPause > 0) {
    if (!RequestStop(Settings.StopMethod, processId, threadId))
      LogProgramLine(Settings.PrcFileLogging, "Stop failed: " + Settings.Launch.AppName);
    else
      WaitForSingleObject(process, Settings.StopPause);  // the grace period ends early if it quits
  }

  bool lives;
  {
    std::lock_guard<std::mutex> hold(Guard);
    lives = IsRunningLocked();
  }
  bool treeEnded = Tree.End();   // the main process too, if it is still there
  // The handle cannot go away here: only a launch or a stop, which both need
  // Busy, replace or close it.
  if (lives) {
    message = "Terminated process ";
    ++Terminations;
    if (!treeEnded && !TerminateProcess(process, 0)) {
      LogProgramLine(Settings.PrcFileLogging, "Terminate failed: " + Settings.Launch.AppName);
      return false;
    }
    // Termination is asynchronous: a replacement started now could meet the
    // old instance still holding its ports and files. One that lingers stays
    // the record's child, so nothing is started beside it.
    if (WaitForSingleObject(process, TerminateWait) != WAIT_OBJECT_0) {
      LogProgramLine(
          Settings.PrcFileLogging,
          "Warning: The process has not ended after its termination: " + Settings.Launch.AppName);
      return false;
    }
  }
  {
    FileSwitch program(Log, Settings.PrcFileLogging);
    Log.FileText(message, true);
    Log.FileLine(Settings.Launch.AppName, false);
  }
  {
    std::lock_guard<std::mutex> hold(Guard);
    tclRestartDelay verdict = EndRunLocked(end == RunEnd::AsFailed);   // before the handle goes
    if (delay != nullptr) *delay = verdict;
    if (Output) Output->Stopped = true;
    CloseHandle(ProcessInfo.hProcess);
    ProcessInfo.hProcess = nullptr;
    ProcessInfo.dwProcessId = NoProcessId;
    Running = false;
    MainWindow = nullptr;
    UnresponsiveCount = 0;
    ++Generation;
    GetLocalTime(&Since);
  }
  return true;
}
