// Simulated service manager: the console-side calls, scripted services, and a
// dispatcher that runs a real service main and control handler.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <thread>
#include <unordered_set>

#include "platform/sim/sim_internal.h"

struct SimScObject {
  enum Kind { Manager, Service, Status } kind = Manager;
  DWORD access = 0;
  std::string key;   // lower-cased service name
  bool closed = false;
};

namespace {

using sim::detail::Mu;
using Clock = std::chrono::steady_clock;

const auto ControlWait = std::chrono::seconds(10);
const auto ResetWait = std::chrono::seconds(5);
const DWORD MaximumAllowed = 0x02000000u;
const DWORD ManagerConnect = 0x0001u;

struct Svc {
  sim::ServiceConfig config;
  DWORD state = SERVICE_STOPPED;
  std::vector<DWORD> script;
  size_t scriptNext = 0;
  bool markedForDelete = false;
  int openHandles = 0;
};

// Everything below is guarded by Mu().
std::map<std::string, Svc> g_services;   // by lower-cased name
std::vector<std::unique_ptr<SimScObject>> g_scObjects;
std::unordered_set<SimScObject*> g_scSet;
bool g_administrator = true;
bool g_startedByServiceManager = false;
std::map<std::string, DWORD> g_failNext;
std::vector<std::string> g_calls;
std::vector<DWORD> g_controlsSent;
std::vector<SERVICE_STATUS> g_reports;

struct Dispatcher {
  bool active = false;   // a thread is inside StartServiceCtrlDispatcherA
  std::string key;
  LPHANDLER_FUNCTION handler = nullptr;
  std::deque<DWORD> queue;
  uint64_t enqueued = 0;
  uint64_t handled = 0;
  bool hasReport = false;
  SERVICE_STATUS last = {};
  bool mainStarted = false;
  bool mainReturned = false;
  bool shutdown = false;
  std::thread mainThread;
};
Dispatcher g_disp;
uint64_t g_generation = 0;   // a service main left over from an earlier test must not touch this one
std::condition_variable g_changed;

DWORD TakeFailureLocked(const std::string& function) {
  auto it = g_failNext.find(function);
  if (it == g_failNext.end()) return 0;
  DWORD error = it->second;
  g_failNext.erase(it);
  return error;
}

DWORD MapServiceAccess(DWORD access) {
  if (access & (GENERIC_ALL | MaximumAllowed)) access |= SERVICE_ALL_ACCESS;
  if (access & GENERIC_READ)
    access |= SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
              SERVICE_ENUMERATE_DEPENDENTS | READ_CONTROL;
  if (access & GENERIC_WRITE) access |= SERVICE_CHANGE_CONFIG | READ_CONTROL;
  if (access & GENERIC_EXECUTE)
    access |= SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
              SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;
  return access;
}

DWORD MapManagerAccess(DWORD access) {
  access |= ManagerConnect;
  if (access & (GENERIC_ALL | MaximumAllowed)) access |= SC_MANAGER_ALL_ACCESS;
  if (access & GENERIC_WRITE) access |= SC_MANAGER_CREATE_SERVICE;
  return access;
}

SimScObject* NewScObjectLocked(SimScObject::Kind kind, DWORD access, const std::string& key) {
  auto object = std::make_unique<SimScObject>();
  object->kind = kind;
  object->access = access;
  object->key = key;
  SimScObject* h = object.get();
  g_scObjects.push_back(std::move(object));
  g_scSet.insert(h);
  if (kind == SimScObject::Service) ++g_services[key].openHandles;
  return h;
}

SimScObject* ValidLocked(SC_HANDLE handle, SimScObject::Kind kind) {
  if (handle == nullptr || g_scSet.count(handle) == 0 || handle->closed || handle->kind != kind)
    return nullptr;
  return handle;
}

int OpenConsoleHandlesLocked() {
  int open = 0;
  for (auto& h : g_scObjects)
    if (!h->closed && h->kind != SimScObject::Status) ++open;
  return open;
}

Svc* FindServiceLocked(const std::string& key) {
  auto it = g_services.find(key);
  return it == g_services.end() ? nullptr : &it->second;
}

// Windows removes a service marked for deletion once it is stopped and the
// last handle to it is closed.
void RemoveIfDueLocked(const std::string& key) {
  Svc* s = FindServiceLocked(key);
  if (s != nullptr && s->markedForDelete && s->openHandles == 0 && s->state == SERVICE_STOPPED)
    g_services.erase(key);
}

bool DispatcherLiveLocked(const std::string& key) { return g_disp.active && g_disp.key == key; }

// Services without a live dispatcher accept stop, pause and continue while
// running or paused.
SERVICE_STATUS SynthesizedStatus(const Svc& s, DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = s.config.serviceType != 0 ? s.config.serviceType : SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  if (state == SERVICE_RUNNING || state == SERVICE_PAUSED)
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
  return status;
}

// The status a control is judged by and answered with, without consuming a
// scripted state.
SERVICE_STATUS CurrentStatusLocked(const std::string& key, const Svc& s) {
  if (DispatcherLiveLocked(key)) {
    if (g_disp.hasReport) return g_disp.last;
    return SynthesizedStatus(s, SERVICE_START_PENDING);
  }
  return SynthesizedStatus(s, s.state);
}

DWORD ScriptPeek(const Svc& s) {
  return s.script[s.scriptNext < s.script.size() ? s.scriptNext : s.script.size() - 1];
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

SC_HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return nullptr;
}

void MarkMainReturned(uint64_t generation) {
  std::lock_guard<std::mutex> hold(Mu());
  if (generation != g_generation) return;
  g_disp.mainReturned = true;
  g_changed.notify_all();
}

}  // namespace

namespace sim {
namespace detail {

void NoteSleep(DWORD ms) {
  if (OnServiceSide()) return;
  std::lock_guard<std::mutex> hold(Mu());
  if (OpenConsoleHandlesLocked() > 0) g_calls.push_back("Sleep " + std::to_string(ms));
}

void ResetServices() {
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
  g_disp.active = false;
  g_disp.key.clear();
  g_disp.handler = nullptr;
  g_disp.queue.clear();
  g_disp.enqueued = g_disp.handled = 0;
  g_disp.hasReport = false;
  g_disp.last = SERVICE_STATUS{};
  g_disp.mainStarted = g_disp.mainReturned = false;
  g_disp.shutdown = false;
  g_services.clear();
  g_scSet.clear();
  g_scObjects.clear();
  g_administrator = true;
  g_startedByServiceManager = false;
  g_failNext.clear();
  g_calls.clear();
  g_controlsSent.clear();
  g_reports.clear();
}

}  // namespace detail

void SetAdministrator(bool isAdministrator) {
  std::lock_guard<std::mutex> hold(Mu());
  g_administrator = isAdministrator;
}

bool ServiceExists(const std::string& name) {
  std::lock_guard<std::mutex> hold(Mu());
  return FindServiceLocked(detail::Lower(name)) != nullptr;
}

ServiceConfig Service(const std::string& name) {
  std::lock_guard<std::mutex> hold(Mu());
  Svc* s = FindServiceLocked(detail::Lower(name));
  return s != nullptr ? s->config : ServiceConfig();
}

void AddService(const std::string& name, DWORD state) {
  std::lock_guard<std::mutex> hold(Mu());
  std::string key = detail::Lower(name);
  Svc* s = FindServiceLocked(key);
  if (s == nullptr) {
    s = &g_services[key];
    s->config.name = name;
    s->config.displayName = name;
    s->config.serviceType = SERVICE_WIN32_OWN_PROCESS;
    s->config.startType = SERVICE_DEMAND_START;
    s->config.errorControl = SERVICE_ERROR_NORMAL;
  }
  s->state = state;
}

void ScriptServiceStates(const std::string& name, const std::vector<DWORD>& states) {
  std::lock_guard<std::mutex> hold(Mu());
  Svc* s = FindServiceLocked(detail::Lower(name));
  if (s == nullptr) return;
  s->script = states;
  s->scriptNext = 0;
}

void FailNext(const std::string& function, DWORD error) {
  std::lock_guard<std::mutex> hold(Mu());
  if (error == 0)
    g_failNext.erase(function);
  else
    g_failNext[function] = error;
}

std::vector<std::string> ScmCalls() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_calls;
}

int OpenScHandleCount() {
  std::lock_guard<std::mutex> hold(Mu());
  return OpenConsoleHandlesLocked();
}

std::vector<DWORD> ControlsSent() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_controlsSent;
}

void SetStartedByServiceManager(bool started) {
  std::lock_guard<std::mutex> hold(Mu());
  g_startedByServiceManager = started;
}

bool DeliverControl(DWORD control) {
  std::unique_lock<std::mutex> lock(Mu());
  if (!g_disp.active || g_disp.handler == nullptr) return false;
  g_disp.queue.push_back(control);
  uint64_t mine = ++g_disp.enqueued;
  g_changed.notify_all();
  return g_changed.wait_for(lock, ControlWait, [mine] {
    return g_disp.handled >= mine || g_disp.shutdown;
  }) && g_disp.handled >= mine;
}

std::vector<SERVICE_STATUS> StatusReports() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_reports;
}

bool WaitServiceMainReturned(int realTimeoutMs) {
  std::unique_lock<std::mutex> lock(Mu());
  if (!g_disp.mainStarted) return false;
  return g_changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                            [] { return g_disp.mainReturned; });
}

}  // namespace sim

// --- Console side ---

SC_HANDLE OpenSCManagerA(LPCSTR, LPCSTR, DWORD desiredAccess) {
  std::lock_guard<std::mutex> hold(Mu());
  g_calls.push_back("OpenSCManagerA");
  if (DWORD error = TakeFailureLocked("OpenSCManagerA")) return FailHandle(error);
  if (!g_administrator) return FailHandle(ERROR_ACCESS_DENIED);
  return NewScObjectLocked(SimScObject::Manager, desiredAccess, "");
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
  std::lock_guard<std::mutex> hold(Mu());
  g_calls.push_back("OpenServiceA");
  if (DWORD error = TakeFailureLocked("OpenServiceA")) return FailHandle(error);
  if (ValidLocked(manager, SimScObject::Manager) == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
  if (serviceName == nullptr) return FailHandle(ERROR_INVALID_ADDRESS);
  std::string key = sim::detail::Lower(serviceName);
  Svc* s = FindServiceLocked(key);
  if (s == nullptr) return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
  if (s->markedForDelete) return FailHandle(ERROR_SERVICE_MARKED_FOR_DELETE);
  return NewScObjectLocked(SimScObject::Service, MapServiceAccess(desiredAccess), key);
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                         LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                         LPCSTR password) {
  std::lock_guard<std::mutex> hold(Mu());
  g_calls.push_back("CreateServiceA");
  if (DWORD error = TakeFailureLocked("CreateServiceA")) return FailHandle(error);
  SimScObject* m = ValidLocked(manager, SimScObject::Manager);
  if (m == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
  if (!(MapManagerAccess(m->access) & SC_MANAGER_CREATE_SERVICE))
    return FailHandle(ERROR_ACCESS_DENIED);
  if (serviceName == nullptr || *serviceName == '\0' ||
      std::string(serviceName).find_first_of("\\/") != std::string::npos)
    return FailHandle(ERROR_INVALID_NAME);
  if (binaryPathName == nullptr || *binaryPathName == '\0')
    return FailHandle(ERROR_INVALID_PARAMETER);
  std::string key = sim::detail::Lower(serviceName);
  if (Svc* existing = FindServiceLocked(key))
    return FailHandle(existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                : ERROR_SERVICE_EXISTS);
  Svc& s = g_services[key];
  s.config.name = serviceName;
  s.config.displayName = displayName != nullptr ? displayName : "";
  s.config.binaryPath = binaryPathName;
  s.config.account = serviceStartName != nullptr ? serviceStartName : "";
  s.config.desiredAccess = desiredAccess;
  s.config.serviceType = serviceType;
  s.config.startType = startType;
  s.config.errorControl = errorControl;
  s.config.loadOrderGroupNull = loadOrderGroup == nullptr;
  s.config.tagNull = tagId == nullptr;
  s.config.dependenciesNull = dependencies == nullptr;
  s.config.passwordNull = password == nullptr;
  s.config.managerAccess = m->access;
  return NewScObjectLocked(SimScObject::Service, MapServiceAccess(desiredAccess), key);
}

BOOL DeleteService(SC_HANDLE service) {
  std::lock_guard<std::mutex> hold(Mu());
  g_calls.push_back("DeleteService");
  if (DWORD error = TakeFailureLocked("DeleteService")) return Fail(error);
  SimScObject* h = ValidLocked(service, SimScObject::Service);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(h->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
  Svc* s = FindServiceLocked(h->key);
  if (s == nullptr || s->markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  s->markedForDelete = true;
  return TRUE;
}

BOOL StartServiceA(SC_HANDLE service, DWORD, LPCSTR*) {
  std::lock_guard<std::mutex> hold(Mu());
  g_calls.push_back("StartServiceA");
  if (DWORD error = TakeFailureLocked("StartServiceA")) return Fail(error);
  SimScObject* h = ValidLocked(service, SimScObject::Service);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(h->access & SERVICE_START)) return Fail(ERROR_ACCESS_DENIED);
  Svc* s = FindServiceLocked(h->key);
  if (s == nullptr || s->markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (s->config.startType == SERVICE_DISABLED) return Fail(ERROR_SERVICE_DISABLED);
  if (s->state != SERVICE_STOPPED || DispatcherLiveLocked(h->key))
    return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  s->state = SERVICE_START_PENDING;
  return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  std::unique_lock<std::mutex> lock(Mu());
  g_calls.push_back("ControlService " + std::to_string(control));
  g_controlsSent.push_back(control);
  if (DWORD error = TakeFailureLocked("ControlService")) return Fail(error);
  SimScObject* h = ValidLocked(service, SimScObject::Service);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  bool userDefined = control >= 128 && control <= 255;
  DWORD needed = 0;
  switch (control) {
    case SERVICE_CONTROL_STOP: needed = SERVICE_STOP; break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: needed = SERVICE_PAUSE_CONTINUE; break;
    case SERVICE_CONTROL_INTERROGATE: needed = SERVICE_INTERROGATE; break;
    default:
      if (!userDefined) return Fail(ERROR_INVALID_PARAMETER);
      needed = SERVICE_USER_DEFINED_CONTROL;
  }
  if (!(h->access & needed)) return Fail(ERROR_ACCESS_DENIED);
  std::string key = h->key;
  Svc* s = FindServiceLocked(key);
  if (s == nullptr) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  SERVICE_STATUS current = CurrentStatusLocked(key, *s);
  DWORD state = current.dwCurrentState;
  if (state == SERVICE_STOPPED) return Fail(ERROR_SERVICE_NOT_ACTIVE);
  if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
    return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  if ((control == SERVICE_CONTROL_STOP && !(current.dwControlsAccepted & SERVICE_ACCEPT_STOP)) ||
      ((control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) &&
       !(current.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE)))
    return Fail(ERROR_INVALID_SERVICE_CONTROL);

  if (DispatcherLiveLocked(key)) {
    g_disp.queue.push_back(control);
    uint64_t mine = ++g_disp.enqueued;
    g_changed.notify_all();
    g_changed.wait_for(lock, ControlWait, [mine] {
      return g_disp.handled >= mine || g_disp.shutdown;
    });
    if (g_disp.handled < mine) return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    if (status != nullptr) *status = g_disp.hasReport ? g_disp.last : current;
    return TRUE;
  }

  // Without a dispatcher: a scripted service answers from its script, any
  // other one obeys at once.
  if (!s->script.empty()) {
    if (status != nullptr) *status = SynthesizedStatus(*s, ScriptPeek(*s));
    return TRUE;
  }
  if (control == SERVICE_CONTROL_STOP) s->state = SERVICE_STOPPED;
  if (control == SERVICE_CONTROL_PAUSE) s->state = SERVICE_PAUSED;
  if (control == SERVICE_CONTROL_CONTINUE) s->state = SERVICE_RUNNING;
  if (status != nullptr) *status = SynthesizedStatus(*s, s->state);
  return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  std::lock_guard<std::mutex> hold(Mu());
  g_calls.push_back("QueryServiceStatus");
  if (DWORD error = TakeFailureLocked("QueryServiceStatus")) return Fail(error);
  SimScObject* h = ValidLocked(service, SimScObject::Service);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(h->access & SERVICE_QUERY_STATUS)) return Fail(ERROR_ACCESS_DENIED);
  if (status == nullptr) return Fail(ERROR_INVALID_ADDRESS);
  Svc* s = FindServiceLocked(h->key);
  if (s == nullptr) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  if (!DispatcherLiveLocked(h->key) && !s->script.empty()) {
    s->state = ScriptPeek(*s);
    if (s->scriptNext < s->script.size()) ++s->scriptNext;
  }
  *status = CurrentStatusLocked(h->key, *s);
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  std::lock_guard<std::mutex> hold(Mu());
  SimScObject* h = nullptr;
  if (handle != nullptr && g_scSet.count(handle) != 0 && !handle->closed &&
      handle->kind != SimScObject::Status)
    h = handle;
  if (h == nullptr) {
    g_calls.push_back("CloseServiceHandle invalid");
    return Fail(ERROR_INVALID_HANDLE);
  }
  h->closed = true;
  if (h->kind == SimScObject::Manager) {
    g_calls.push_back("CloseServiceHandle manager");
    return TRUE;
  }
  g_calls.push_back("CloseServiceHandle service");
  if (Svc* s = FindServiceLocked(h->key)) --s->openHandles;
  RemoveIfDueLocked(h->key);
  return TRUE;
}

// --- Service side ---

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
  std::unique_lock<std::mutex> lock(Mu());
  if (DWORD error = TakeFailureLocked("StartServiceCtrlDispatcherA")) return Fail(error);
  if (!g_startedByServiceManager) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (table == nullptr || table[0].lpServiceName == nullptr || table[0].lpServiceProc == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  if (g_disp.active || g_disp.mainStarted) return Fail(ERROR_SERVICE_ALREADY_RUNNING);

  std::string name = table[0].lpServiceName;
  std::string key = sim::detail::Lower(name);
  if (FindServiceLocked(key) == nullptr) {
    Svc& s = g_services[key];
    s.config.name = name;
    s.config.displayName = name;
    s.config.serviceType = SERVICE_WIN32_OWN_PROCESS;
  }
  g_services[key].state = SERVICE_START_PENDING;
  g_disp.active = true;
  g_disp.key = key;
  g_disp.mainStarted = true;

  auto argv = std::make_shared<std::vector<char>>(name.begin(), name.end());
  argv->push_back('\0');
  LPSERVICE_MAIN_FUNCTIONA serviceMain = table[0].lpServiceProc;
  uint64_t generation = g_generation;
  g_disp.mainThread = std::thread([argv, serviceMain, generation] {
    sim::detail::SetServiceSide(true);
    LPSTR args[2] = {argv->data(), nullptr};
    serviceMain(1, args);
    MarkMainReturned(generation);
  });

  // The calling thread is the service's own first thread from here on.
  bool wasServiceSide = sim::detail::OnServiceSide();
  sim::detail::SetServiceSide(true);
  BOOL result = TRUE;
  for (;;) {
    if (g_disp.shutdown) break;
    if (!g_disp.queue.empty()) {
      DWORD control = g_disp.queue.front();
      g_disp.queue.pop_front();
      LPHANDLER_FUNCTION handler = g_disp.handler;
      lock.unlock();
      if (handler != nullptr) handler(control);
      lock.lock();
      ++g_disp.handled;
      g_changed.notify_all();
      continue;
    }
    if (g_disp.hasReport && g_disp.last.dwCurrentState == SERVICE_STOPPED) break;
    if (g_disp.mainReturned) {
      // Windows would wait for ever for a stop that nobody reports; a test
      // gets its thread back after a while of nothing happening.
      bool woke = g_changed.wait_for(lock, ControlWait, [] {
        return g_disp.shutdown || !g_disp.queue.empty() ||
               (g_disp.hasReport && g_disp.last.dwCurrentState == SERVICE_STOPPED);
      });
      if (!woke) {
        SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
        result = FALSE;
        break;
      }
      continue;
    }
    g_changed.wait(lock);
  }
  g_disp.active = false;
  g_changed.notify_all();
  sim::detail::SetServiceSide(wasServiceSide);
  return result;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("RegisterServiceCtrlHandlerA")) return FailHandle(error);
  if (!g_disp.active) return FailHandle(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  if (serviceName == nullptr || handler == nullptr) return FailHandle(ERROR_INVALID_PARAMETER);
  g_disp.handler = handler;
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
  g_reports.push_back(*status);
  if (h->key == g_disp.key) {
    g_disp.hasReport = true;
    g_disp.last = *status;
    g_changed.notify_all();
  }
  if (Svc* s = FindServiceLocked(h->key)) s->state = status->dwCurrentState;
  RemoveIfDueLocked(h->key);
  return TRUE;
}
