// Simulated service manager, service side: a dispatcher that runs a real
// service main on a thread of its own and its control handler on the caller's.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <thread>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

const auto ControlWait = std::chrono::seconds(10);
const auto ResetWait = std::chrono::seconds(5);

struct Dispatcher {
  bool active = false;   // a thread is inside StartServiceCtrlDispatcherA
  std::string key;
  LPHANDLER_FUNCTION handler = nullptr;
  LPHANDLER_FUNCTION_EX handlerEx = nullptr;
  std::deque<DWORD> queue;
  uint64_t enqueued = 0;
  uint64_t handled = 0;
  bool hasReport = false;
  SERVICE_STATUS last = {};
  bool mainStarted = false;
  bool mainReturned = false;
  bool shutdown = false;
  std::thread mainThread;
  bool startedByServiceManager = false;
  std::vector<SERVICE_STATUS> reports;
  DWORD lastEvent = 0;
};

// All guarded by Mu().
Dispatcher g_disp;
uint64_t g_generation = 0;   // a service main left over from an earlier test must not touch this one
std::condition_variable g_changed;

void StartMainLocked(LPSERVICE_MAIN_FUNCTIONA serviceMain, std::string name) {
  uint64_t generation = g_generation;
  g_disp.mainThread = std::thread([serviceMain, name, generation]() mutable {
    SetServiceSide(true);
    LPSTR args[2] = {&name[0], nullptr};
    serviceMain(1, args);
    std::lock_guard<std::mutex> hold(Mu());
    if (generation != g_generation) return;
    g_disp.mainReturned = true;
    g_changed.notify_all();
  });
}

// Hands queued controls to the handler until the service reports stopped.
BOOL DispatchLocked(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (g_disp.shutdown) return TRUE;
    if (!g_disp.queue.empty()) {
      DWORD control = g_disp.queue.front();
      g_disp.queue.pop_front();
      LPHANDLER_FUNCTION handler = g_disp.handler;
      LPHANDLER_FUNCTION_EX handlerEx = g_disp.handlerEx;
      lock.unlock();
      if (handlerEx != nullptr)
        handlerEx(control, 0, nullptr, nullptr);
      else if (handler != nullptr)
        handler(control);
      lock.lock();
      ++g_disp.handled;
      g_changed.notify_all();
      continue;
    }
    if (g_disp.hasReport && g_disp.last.dwCurrentState == SERVICE_STOPPED) return TRUE;
    if (g_disp.mainReturned) {
      // Windows would wait for ever for a stop that nobody reports; a test
      // gets its thread back after a while of nothing happening.
      bool woke = g_changed.wait_for(lock, ControlWait, [] {
        return g_disp.shutdown || !g_disp.queue.empty() ||
               (g_disp.hasReport && g_disp.last.dwCurrentState == SERVICE_STOPPED);
      });
      if (!woke) {
        SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
        return FALSE;
      }
      continue;
    }
    g_changed.wait(lock);
  }
}

}  // namespace

namespace sim {
namespace detail {

bool DispatcherLiveLocked(const std::string& key) { return g_disp.active && g_disp.key == key; }

const SERVICE_STATUS* LastReportLocked() { return g_disp.hasReport ? &g_disp.last : nullptr; }

bool HandOverLocked(std::unique_lock<std::mutex>& lock, DWORD control) {
  g_disp.queue.push_back(control);
  uint64_t mine = ++g_disp.enqueued;
  g_changed.notify_all();
  g_changed.wait_for(lock, ControlWait, [mine] {
    return g_disp.handled >= mine || g_disp.shutdown;
  });
  return g_disp.handled >= mine;
}

void ResetDispatcher() {
  std::unique_lock<std::mutex> lock(Mu());
  g_disp.shutdown = true;
  g_changed.notify_all();
  bool ended = g_changed.wait_for(lock, ResetWait, [] {
    return !g_disp.active && (!g_disp.mainStarted || g_disp.mainReturned);
  });
  std::thread mainThread = std::move(g_disp.mainThread);
  ++g_generation;
  lock.unlock();
  if (mainThread.joinable()) {
    if (ended) {
      mainThread.join();
    } else {
      std::fprintf(stderr, "qlsim: a service main or dispatcher did not end; left running\n");
      mainThread.detach();
    }
  }
  lock.lock();
  g_disp = Dispatcher();
}

}  // namespace detail

void SetStartedByServiceManager(bool started) {
  std::lock_guard<std::mutex> hold(Mu());
  g_disp.startedByServiceManager = started;
}

bool DeliverControl(DWORD control) {
  std::unique_lock<std::mutex> lock(Mu());
  if (!g_disp.active || (g_disp.handler == nullptr && g_disp.handlerEx == nullptr)) return false;
  return HandOverLocked(lock, control);
}

DWORD DeliverShutdown() {
  std::unique_lock<std::mutex> lock(Mu());
  if (!g_disp.active || !g_disp.hasReport) return 0;
  DWORD accepted = g_disp.last.dwControlsAccepted;
  // Pre-shutdown reaches only a handler registered with the Ex call.
  DWORD control = (accepted & SERVICE_ACCEPT_PRESHUTDOWN) && g_disp.handlerEx != nullptr
                      ? SERVICE_CONTROL_PRESHUTDOWN
                  : (accepted & SERVICE_ACCEPT_SHUTDOWN) ? SERVICE_CONTROL_SHUTDOWN
                                                         : 0;
  if (control == 0) return 0;
  return HandOverLocked(lock, control) ? control : 0;
}

std::vector<SERVICE_STATUS> StatusReports() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_disp.reports;
}

DWORD LastEventReported() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_disp.lastEvent;
}

bool WaitServiceMainReturned(int realTimeoutMs) {
  std::unique_lock<std::mutex> lock(Mu());
  if (!g_disp.mainStarted) return false;
  return g_changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                            [] { return g_disp.mainReturned; });
}

}  // namespace sim

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
  std::unique_lock<std::mutex> lock(Mu());
  if (DWORD error = TakeFailureLocked("StartServiceCtrlDispatcherA")) return Fail(error);
  if (!g_disp.startedByServiceManager) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (table == nullptr || table[0].lpServiceName == nullptr || table[0].lpServiceProc == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (g_disp.active || g_disp.mainStarted) return Fail(ERROR_SERVICE_ALREADY_RUNNING);

  std::string name = table[0].lpServiceName;
  std::string key = Lower(name);
  Svc* s = FindServiceLocked(key);
  if (s == nullptr) s = &AddServiceLocked(key, name);
  s->state = SERVICE_START_PENDING;
  g_disp.active = true;
  g_disp.key = key;
  g_disp.mainStarted = true;
  StartMainLocked(table[0].lpServiceProc, name);

  // The calling thread is the service's own first thread from here on.
  bool wasServiceSide = OnServiceSide();
  SetServiceSide(true);
  BOOL result = DispatchLocked(lock);
  g_disp.active = false;
  g_changed.notify_all();
  SetServiceSide(wasServiceSide);
  return result;
}

BOOL ReportEventA(HANDLE, WORD, WORD, DWORD eventId, LPVOID, WORD, DWORD, LPCSTR*, LPVOID) {
  std::lock_guard<std::mutex> hold(Mu());
  g_disp.lastEvent = eventId;
  return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("RegisterServiceCtrlHandlerA")) return FailHandle(error);
  if (!g_disp.active) return FailHandle(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (serviceName == nullptr || handler == nullptr) return FailHandle(ERROR_INVALID_PARAMETER);
  g_disp.handler = handler;
  return NewScObjectLocked(SimScObject::Status, 0, g_disp.key);
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(LPCSTR serviceName,
                                                    LPHANDLER_FUNCTION_EX handler, LPVOID) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("RegisterServiceCtrlHandlerExA")) return FailHandle(error);
  if (!g_disp.active) return FailHandle(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (serviceName == nullptr || handler == nullptr) return FailHandle(ERROR_INVALID_PARAMETER);
  g_disp.handlerEx = handler;
  return NewScObjectLocked(SimScObject::Status, 0, g_disp.key);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("SetServiceStatus")) return Fail(error);
  SimScObject* h = ValidLocked(handle, SimScObject::Status);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (status == nullptr) return Fail(ERROR_INVALID_ADDRESS);
  if (status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED)
    return Fail(ERROR_INVALID_DATA);
  g_disp.reports.push_back(*status);
  if (h->key == g_disp.key) {
    g_disp.hasReport = true;
    g_disp.last = *status;
    g_changed.notify_all();
  }
  if (Svc* s = FindServiceLocked(h->key)) s->state = status->dwCurrentState;
  RemoveIfDueLocked(h->key);
  return TRUE;
}
