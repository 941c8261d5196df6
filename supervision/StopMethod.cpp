#include "supervision/StopMethod.h"

namespace {

// A process has one console at a time, and both the supervision pass and the
// control handler stop programs; a launch takes it too.
std::mutex ConsoleLock;
bool RoutineInstalled = false;   // under ConsoleLock

// An event goes to every process attached to the console, the sender too, on
// a thread the console starts in it some time later, however late. A service
// never wants these events, so the routine stays for the process's life: a
// copy that met no routine would go to the default handler, which ends the
// process.
BOOL WINAPI TakeOwnEvent(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

bool SendConsoleEvent(DWORD processId, DWORD event) {
  std::lock_guard<std::mutex> hold(ConsoleLock);
  // A routine, not the form without one: that one is inherited by every
  // program started afterwards, and Ctrl+C would no longer reach them.
  if (!RoutineInstalled) RoutineInstalled = SetConsoleCtrlHandler(TakeOwnEvent, TRUE) != FALSE;
  if (!RoutineInstalled || !AttachConsole(processId)) return false;
  bool sent = GenerateConsoleCtrlEvent(event, 0) != FALSE;
  FreeConsole();
  return sent;
}

}  // namespace

std::unique_lock<std::mutex> ExcludeConsoleAttach() {
  return std::unique_lock<std::mutex>(ConsoleLock);
}

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
