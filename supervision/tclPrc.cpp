#include "supervision/tclPrc.h"

#include <vector>

#include "config/Globals.h"

namespace {
const DWORD NoProcessId = DWORD(-1);
const UINT ProbeTimeout = 1000;
const DWORD BusyPollInterval = 1000;
}  // namespace

tclPrc::tclPrc() {
  ProcessInfo.hProcess = nullptr;
  ProcessInfo.hThread = nullptr;
  ProcessInfo.dwProcessId = NoProcessId;
  ProcessInfo.dwThreadId = 0;
}

void tclPrc::LogLine(const std::string& text) {
  Log.SetFileEnabled(PrcFileLogging);
  Log.FileLine(text, true);
  Log.SetFileEnabled(true);
}

// Waiting on the handle, not the exit code: a child that exited with code 259
// would otherwise pass for alive forever.
bool tclPrc::IsRunningLocked() {
  Running = ProcessInfo.hProcess != nullptr &&
            WaitForSingleObject(ProcessInfo.hProcess, 0) == WAIT_TIMEOUT;
  return Running;
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
  if (!ClaimBusy()) return false;
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (IsRunningLocked()) {
      Busy = false;
      return false;
    }
    // The previous child has ended: its handle would leak with every restart.
    if (ProcessInfo.hProcess != nullptr) {
      CloseHandle(ProcessInfo.hProcess);
      ProcessInfo.hProcess = nullptr;
    }
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNA;
  // Handles to this child must not leak into the children started after it.
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = FALSE;
  std::vector<char> commandLine(FullCommandLine.begin(), FullCommandLine.end());
  commandLine.push_back('\0');
  PROCESS_INFORMATION created = {};
  // An empty directory string makes the call fail; none means "inherit ours".
  // Inheriting nothing: a child must not keep the log open for the other thread.
  BOOL ok = CreateProcessA(nullptr, commandLine.data(), &security, &security, FALSE,
                           PriorityClass, nullptr, StartDir.empty() ? nullptr : StartDir.c_str(),
                           &startup, &created);
  if (!ok) {
    DWORD error = GetLastError();
    LogLine("Error ( " + std::to_string(int32_t(error)) + " ): Failed to start program " + AppName);
    Busy = false;
    return false;
  }
  CloseHandle(created.hThread);
  created.hThread = nullptr;
  {
    std::lock_guard<std::mutex> hold(Guard);
    ProcessInfo = created;
    MainWindow = nullptr;
    UnresponsiveCount = 0;
    Running = true;
  }
  if (StartPause > 0) Sleep(StartPause);
  WaitForInputIdle(created.hProcess, StartPause);
  HWND window = FindMainWindow(created.dwProcessId);
  {
    std::lock_guard<std::mutex> hold(Guard);
    MainWindow = window;
  }

  std::string message = "Started program " + AppName;
  if (ShowCommand != SW_SHOWNA) {
    LogLine(message);
    message = ShowMainWindow(ShowCommand)
                  ? ""
                  : "Warning: The window setting cannot be changed for this process.";
  }
  Busy = false;
  if (!message.empty()) LogLine(message);
  return true;
}

HWND FindMainWindow(DWORD processId) {
  for (HWND window = FindWindowA(nullptr, nullptr); window != nullptr;
       window = GetWindow(window, GW_HWNDNEXT)) {
    if (GetParent(window) == nullptr && WindowProcessId(window) == processId) return window;
  }
  return nullptr;
}

DWORD WindowProcessId(HWND window) {
  if (window == nullptr) return 0;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
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
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (NumOfRespChecks <= 0 || !IsRunningLocked()) {
      UnresponsiveCount = 0;
      return false;
    }
    window = LiveMainWindowLocked();
    if (window == nullptr) return false;
  }
  DWORD_PTR result = 0;
  LRESULT answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                                         ProbeTimeout, &result);
  std::lock_guard<std::mutex> hold(Guard);
  if (answered != 0) {
    UnresponsiveCount = 0;
    return false;
  }
  ++UnresponsiveCount;
  return UnresponsiveCount >= NumOfRespChecks;
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
  if (wait) {
    // Waiting first means a launch in progress is stopped once it is done.
    while (!ClaimBusy()) Sleep(BusyPollInterval);
    if (!IsRunning()) {
      Busy = false;
      return false;
    }
  } else {
    if (!IsRunning()) return false;
    if (!ClaimBusy()) return false;
  }

  HANDLE process;
  DWORD threadId;
  {
    std::lock_guard<std::mutex> hold(Guard);
    process = ProcessInfo.hProcess;
    threadId = ProcessInfo.dwThreadId;
  }
  if (process == nullptr) {
    Busy = false;
    return false;
  }

  std::string message = "Stopped process ";
  if (StopPause > 0) {
    if (!PostThreadMessageA(threadId, WM_QUIT, 0, 0))
      LogLine("Stop failed: " + AppName);
    else
      WaitForSingleObject(process, StopPause);  // the grace period ends early if it quits
  }

  bool terminateFailed = false;
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (IsRunningLocked()) {
      message = "Terminated process ";
      terminateFailed = !TerminateProcess(process, 0);
    }
  }
  if (terminateFailed) {
    LogLine("Terminate failed: " + AppName);
    Busy = false;
    return false;
  }
  Log.SetFileEnabled(PrcFileLogging);
  Log.FileText(message, true);
  Log.FileLine(AppName, false);
  Log.SetFileEnabled(true);
  {
    std::lock_guard<std::mutex> hold(Guard);
    CloseHandle(ProcessInfo.hProcess);
    ProcessInfo.hProcess = nullptr;
    ProcessInfo.dwProcessId = NoProcessId;
    Running = false;
    MainWindow = nullptr;
    UnresponsiveCount = 0;
  }
  Busy = false;
  return true;
}
