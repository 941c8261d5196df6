#include "supervision/StopMethod.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// A process has one console at a time, and both the supervision pass and the
// control handler stop programs.
std::mutex ConsoleLock;
bool RoutineInstalled = false;   // under ConsoleLock

// An event goes to every process attached to the console, the sender too,
// on a thread the console starts in it a little later. Until our own copy
// has been taken by the routine, removing the routine would hand that copy
// to the default handler, which ends the process.
std::mutex EchoLock;
std::condition_variable EchoCame;
bool Echoed = false;
const auto EchoWait = std::chrono::milliseconds(1000);

BOOL WINAPI TakeOwnEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  {
    std::lock_guard<std::mutex> hold(EchoLock);
    Echoed = true;
  }
  EchoCame.notify_all();
  return TRUE;
}

bool SendConsoleEvent(DWORD processId, DWORD event) {
  std::lock_guard<std::mutex> hold(ConsoleLock);
  if (!AttachConsole(processId)) return false;
  // A routine, not the form without one: that one is inherited by every
  // program started afterwards, and Ctrl+C would no longer reach them.
  if (!RoutineInstalled) RoutineInstalled = SetConsoleCtrlHandler(TakeOwnEvent, TRUE) != FALSE;
  bool sent = false, echoed = false;
  if (RoutineInstalled) {
    {
      std::lock_guard<std::mutex> hold(EchoLock);
      Echoed = false;
    }
    sent = GenerateConsoleCtrlEvent(event, 0) != FALSE;
    std::unique_lock<std::mutex> wait(EchoLock);
    echoed = sent && EchoCame.wait_for(wait, EchoWait, [] { return Echoed; });
  }
  FreeConsole();
  // A copy that has not come may still come: the routine then stays for it.
  if (RoutineInstalled && (echoed || !sent))
    RoutineInstalled = SetConsoleCtrlHandler(TakeOwnEvent, FALSE) == FALSE;
  return sent;
}

}  // namespace

DWORD StopMethodCreationFlags(tclStopMethod method) {
  // Not a new process group: that turns Ctrl+C off in the program.
  bool console = method == tclStopMethod::CtrlC || method == tclStopMethod::CtrlBreak;
  return console ? CREATE_NEW_CONSOLE : 0;
}

DWORD WindowProcessId(HWND window) {
  if (window == nullptr) return 0;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
}

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  std::vector<HWND> windows;
  for (HWND window = FindWindowA(nullptr, nullptr); window != nullptr;
       window = GetWindow(window, GW_HWNDNEXT))
    if (WindowProcessId(window) == processId) windows.push_back(window);
  return windows;
}

bool RequestStop(tclStopMethod method, DWORD processId, DWORD threadId) {
  bool delivered = false;
  if (method == tclStopMethod::CtrlC || method == tclStopMethod::CtrlBreak)
    delivered = SendConsoleEvent(processId, method == tclStopMethod::CtrlC ? CTRL_C_EVENT
                                                                           : CTRL_BREAK_EVENT);
  // The windows first: a message loop that met WM_QUIT first would end
  // before the program could act on WM_CLOSE.
  if (method != tclStopMethod::Quit)
    for (HWND window : TopLevelWindowsOf(processId))
      delivered = PostMessageA(window, WM_CLOSE, 0, 0) != FALSE || delivered;
  return PostThreadMessageA(threadId, WM_QUIT, 0, 0) != FALSE || delivered;
}
