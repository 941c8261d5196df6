// Simulated top-level windows and the messages the system sends to them.
#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

// Guarded by Mu(). Windows live until Reset, like handles.
Objects<SimWindow> g_windows;
std::vector<SimWindow*> g_zOrder;   // front is the top

bool IsHungLocked(const SimWindow* window) {
  const ProcRec& p = *window->owner;
  if (p.hungByTest) return true;
  return p.program.hangAfterMs >= 0 &&
         sim::Now() >= p.startMs + uint64_t(p.program.hangAfterMs);
}

SimWindow* LiveWindowLocked(HWND window) {
  return g_windows.Has(window) && WindowLiveLocked(window) ? window : nullptr;
}

HWND FirstLiveFromLocked(size_t index) {
  for (; index < g_zOrder.size(); ++index)
    if (WindowLiveLocked(g_zOrder[index])) return g_zOrder[index];
  return nullptr;
}

}  // namespace

namespace sim {
namespace detail {

void ResetWindows() {
  std::lock_guard<std::mutex> hold(Mu());
  g_zOrder.clear();
  g_windows = Objects<SimWindow>();
}

SimWindow* NewWindowLocked(ProcRec* owner) {
  SimWindow* w = g_windows.Add({owner});
  g_zOrder.insert(g_zOrder.begin(), w);
  return w;
}

// A window goes with its process.
bool WindowLiveLocked(SimWindow* window) {
  return window != nullptr && !window->destroyed && AliveLocked(*window->owner);
}

}  // namespace detail

void HangWindow(DWORD processId, bool hung) {
  std::lock_guard<std::mutex> hold(Mu());
  if (ProcRec* p = FindProcessLocked(processId)) p->hungByTest = hung;
}

void CreateWindowFor(DWORD processId) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = FindProcessLocked(processId);
  if (p != nullptr && (p->window == nullptr || !WindowLiveLocked(p->window)))
    p->window = NewWindowLocked(p);
}

void DestroyWindow(DWORD processId) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = FindProcessLocked(processId);
  if (p != nullptr && p->window != nullptr) p->window->destroyed = true;
}

}  // namespace sim

// Only the walk over all top-level windows is simulated: class and title are
// not, so a search by either finds nothing.
HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  std::lock_guard<std::mutex> hold(Mu());
  if (className != nullptr || windowName != nullptr) return nullptr;
  return FirstLiveFromLocked(0);
}

HWND GetWindow(HWND window, UINT command) {
  std::lock_guard<std::mutex> hold(Mu());
  if (LiveWindowLocked(window) == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE, HWND());
  if (command != GW_HWNDNEXT) return Fail(ERROR_INVALID_PARAMETER, HWND());
  for (size_t i = 0; i < g_zOrder.size(); ++i)
    if (g_zOrder[i] == window) return FirstLiveFromLocked(i + 1);
  return nullptr;
}

HWND GetParent(HWND window) {
  std::lock_guard<std::mutex> hold(Mu());
  if (LiveWindowLocked(window) == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

BOOL IsWindow(HWND window) {
  std::lock_guard<std::mutex> hold(Mu());
  return LiveWindowLocked(window) != nullptr;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
  std::lock_guard<std::mutex> hold(Mu());
  SimWindow* w = LiveWindowLocked(window);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE, DWORD(0));
  if (processId != nullptr) *processId = w->owner->pid;
  return w->owner->tid;
}

BOOL ShowWindowAsync(HWND window, int command) {
  std::lock_guard<std::mutex> hold(Mu());
  SimWindow* w = LiveWindowLocked(window);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  w->owner->showCommands.push_back(command);
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM, LPARAM) {
  HoldPoint("PostThreadMessageA");
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = FindThreadLocked(threadId);
  if (p == nullptr || !AliveLocked(*p) || !p->program.hasMessageQueue)
    return Fail(ERROR_INVALID_THREAD_ID);
  if (message != WM_QUIT) return TRUE;
  ++p->quitMessages;
  if (!p->program.ignoresQuit) ExitOnRequestLocked(*p, p->program.quitTakesMs, 0);
  return TRUE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM, LPARAM) {
  std::lock_guard<std::mutex> hold(Mu());
  SimWindow* w = LiveWindowLocked(window);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (message != WM_CLOSE) return TRUE;
  ProcRec& p = *w->owner;
  ++p.closeMessages;
  if (p.program.exitsOnCloseMs >= 0) ExitOnRequestLocked(p, p.program.exitsOnCloseMs, 0);
  return TRUE;
}

// A hung window costs the caller the whole time-out.
LRESULT SendMessageTimeoutA(HWND window, UINT, WPARAM, LPARAM, UINT, UINT timeout,
                            PDWORD_PTR result) {
  HoldPoint("SendMessageTimeoutA");
  std::lock_guard<std::mutex> hold(Mu());
  SimWindow* w = LiveWindowLocked(window);
  if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
  if (IsHungLocked(w)) {
    sim::Advance(timeout);
    return Fail(ERROR_TIMEOUT, LRESULT(0));
  }
  if (result != nullptr) *result = 0;
  return 1;
}
