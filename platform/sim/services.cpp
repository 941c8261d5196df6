// Simulated service manager: its database of services and handles, the
// console's calls on them, and the test-side controls and record of both.
#include <cstring>
#include <map>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

// The whole manager; Reset puts back a fresh one. Guarded by Mu().
struct Scm {
  std::map<std::string, Svc> services;   // by lower-cased name
  Objects<SimScObject> objects;
  bool administrator = true;
  std::map<std::string, DWORD> failNext;
  std::vector<std::string> calls;
  std::vector<DWORD> controlsSent;
};

Scm& ScmLocked() {
  static Scm scm;
  return scm;
}

int OpenConsoleHandlesLocked() {
  int open = 0;
  for (auto& h : ScmLocked().objects.all)
    if (!h->closed && h->kind != SimScObject::Status) ++open;
  return open;
}

// Records the console's call and takes the failure a test armed for it.
DWORD BeginLocked(const std::string& function) {
  ScmLocked().calls.push_back(function);
  return TakeFailureLocked(function);
}

// Begins a call on a service handle: the handle, unless an armed failure, a
// handle that is not open or missing access stops the call (error set).
SimScObject* BeginOnServiceLocked(const std::string& function, SC_HANDLE service, DWORD access) {
  if (DWORD error = BeginLocked(function)) return FailHandle(error);
  SimScObject* h = ValidLocked(service, SimScObject::Service);
  if (h == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
  return (h->access & access) ? h : FailHandle(ERROR_ACCESS_DENIED);
}

// Services without a live dispatcher accept stop, pause, continue and a
// changed configuration while running or paused.
SERVICE_STATUS SynthesizedStatus(const Svc& s, DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = s.config.serviceType != 0 ? s.config.serviceType : SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  if (state == SERVICE_RUNNING || state == SERVICE_PAUSED)
    status.dwControlsAccepted =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_PARAMCHANGE;
  return status;
}

// The status a control is judged by and answered with, without consuming a
// scripted state.
SERVICE_STATUS CurrentStatusLocked(const std::string& key, const Svc& s) {
  if (DispatcherLiveLocked(key)) {
    if (const SERVICE_STATUS* last = LastReportLocked()) return *last;
    return SynthesizedStatus(s, SERVICE_START_PENDING);
  }
  return SynthesizedStatus(s, s.state);
}

DWORD ScriptPeek(const Svc& s) {
  return s.script[s.scriptNext < s.script.size() ? s.scriptNext : s.script.size() - 1];
}

// The access right a control needs; 0 for a code that is no control.
DWORD AccessForControl(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP: return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_PARAMCHANGE: return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE: return SERVICE_INTERROGATE;
    default: return control >= 128 && control <= 255 ? SERVICE_USER_DEFINED_CONTROL : 0;
  }
}

}  // namespace

namespace sim {
namespace detail {

DWORD TakeFailureLocked(const std::string& function) {
  auto& failNext = ScmLocked().failNext;
  auto it = failNext.find(function);
  if (it == failNext.end()) return 0;
  DWORD error = it->second;
  failNext.erase(it);
  return error;
}

Svc* FindServiceLocked(const std::string& key) {
  auto& services = ScmLocked().services;
  auto it = services.find(key);
  return it == services.end() ? nullptr : &it->second;
}

Svc& AddServiceLocked(const std::string& key, const std::string& name) {
  Svc& s = ScmLocked().services[key];
  s.config.name = name;
  s.config.displayName = name;
  s.config.serviceType = SERVICE_WIN32_OWN_PROCESS;
  return s;
}

void RemoveIfDueLocked(const std::string& key) {
  Svc* s = FindServiceLocked(key);
  if (s != nullptr && s->markedForDelete && s->openHandles == 0 && s->state == SERVICE_STOPPED)
    ScmLocked().services.erase(key);
}

SimScObject* NewScObjectLocked(SimScObject::Kind kind, DWORD access, const std::string& key) {
  if (kind == SimScObject::Service) ++ScmLocked().services[key].openHandles;
  return ScmLocked().objects.Add({kind, access, key});
}

SimScObject* ValidLocked(SC_HANDLE handle, SimScObject::Kind kind) {
  bool valid = ScmLocked().objects.Has(handle) && !handle->closed && handle->kind == kind;
  return valid ? handle : nullptr;
}

void NoteSleep(DWORD ms) {
  if (OnServiceSide()) return;
  std::lock_guard<std::mutex> hold(Mu());
  if (OpenConsoleHandlesLocked() > 0) ScmLocked().calls.push_back("Sleep " + std::to_string(ms));
}

void ResetServices() {
  ResetDispatcher();
  std::lock_guard<std::mutex> hold(Mu());
  ScmLocked() = Scm();
}

}  // namespace detail

void SetAdministrator(bool isAdministrator) {
  std::lock_guard<std::mutex> hold(Mu());
  ScmLocked().administrator = isAdministrator;
}

bool ServiceExists(const std::string& name) {
  std::lock_guard<std::mutex> hold(Mu());
  return FindServiceLocked(Lower(name)) != nullptr;
}

ServiceConfig Service(const std::string& name) {
  std::lock_guard<std::mutex> hold(Mu());
  Svc* s = FindServiceLocked(Lower(name));
  return s != nullptr ? s->config : ServiceConfig();
}

void AddService(const std::string& name, DWORD state) {
  std::lock_guard<std::mutex> hold(Mu());
  std::string key = Lower(name);
  Svc* s = FindServiceLocked(key);
  if (s == nullptr) {
    s = &AddServiceLocked(key, name);
    s->config.startType = SERVICE_DEMAND_START;
    s->config.errorControl = SERVICE_ERROR_NORMAL;
  }
  s->state = state;
}

void SetServiceProcessId(const std::string& name, DWORD processId) {
  std::lock_guard<std::mutex> hold(Mu());
  if (Svc* s = FindServiceLocked(Lower(name))) s->processId = processId;
}

void ScriptServiceStates(const std::string& name, const std::vector<DWORD>& states) {
  std::lock_guard<std::mutex> hold(Mu());
  Svc* s = FindServiceLocked(Lower(name));
  if (s == nullptr) return;
  s->script = states;
  s->scriptNext = 0;
}

void FailNext(const std::string& function, DWORD error) {
  std::lock_guard<std::mutex> hold(Mu());
  if (error == 0)
    ScmLocked().failNext.erase(function);
  else
    ScmLocked().failNext[function] = error;
}

std::vector<std::string> ScmCalls() {
  std::lock_guard<std::mutex> hold(Mu());
  return ScmLocked().calls;
}

int OpenScHandleCount() {
  std::lock_guard<std::mutex> hold(Mu());
  return OpenConsoleHandlesLocked();
}

std::vector<DWORD> ControlsSent() {
  std::lock_guard<std::mutex> hold(Mu());
  return ScmLocked().controlsSent;
}

}  // namespace sim

SC_HANDLE OpenSCManagerA(LPCSTR, LPCSTR, DWORD desiredAccess) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = BeginLocked("OpenSCManagerA")) return FailHandle(error);
  if (!ScmLocked().administrator) return FailHandle(ERROR_ACCESS_DENIED);
  return NewScObjectLocked(SimScObject::Manager, desiredAccess, "");
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = BeginLocked("OpenServiceA")) return FailHandle(error);
  if (ValidLocked(manager, SimScObject::Manager) == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
  if (serviceName == nullptr) return FailHandle(ERROR_INVALID_ADDRESS);
  std::string key = Lower(serviceName);
  Svc* s = FindServiceLocked(key);
  if (s == nullptr) return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
  if (s->markedForDelete) return FailHandle(ERROR_SERVICE_MARKED_FOR_DELETE);
  return NewScObjectLocked(SimScObject::Service, desiredAccess, key);
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                         LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                         LPCSTR password) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = BeginLocked("CreateServiceA")) return FailHandle(error);
  SimScObject* m = ValidLocked(manager, SimScObject::Manager);
  if (m == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
  if (!(m->access & SC_MANAGER_CREATE_SERVICE)) return FailHandle(ERROR_ACCESS_DENIED);
  if (serviceName == nullptr || *serviceName == '\0' ||
      std::string(serviceName).find_first_of("\\/") != std::string::npos)
    return FailHandle(ERROR_INVALID_NAME);
  if (binaryPathName == nullptr || *binaryPathName == '\0')
    return FailHandle(ERROR_INVALID_PARAMETER);
  std::string key = Lower(serviceName);
  if (Svc* existing = FindServiceLocked(key))
    return FailHandle(existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                : ERROR_SERVICE_EXISTS);
  sim::ServiceConfig& c = ScmLocked().services[key].config;
  c.name = serviceName;
  c.displayName = displayName != nullptr ? displayName : "";
  c.binaryPath = binaryPathName;
  c.account = serviceStartName != nullptr ? serviceStartName : "";
  c.desiredAccess = desiredAccess;
  c.serviceType = serviceType;
  c.startType = startType;
  c.errorControl = errorControl;
  c.loadOrderGroupNull = loadOrderGroup == nullptr;
  c.tagNull = tagId == nullptr;
  c.dependenciesNull = dependencies == nullptr;
  c.passwordNull = password == nullptr;
  c.managerAccess = m->access;
  return NewScObjectLocked(SimScObject::Service, desiredAccess, key);
}

BOOL DeleteService(SC_HANDLE service) {
  std::lock_guard<std::mutex> hold(Mu());
  SimScObject* h = BeginOnServiceLocked("DeleteService", service, DELETE);
  if (h == nullptr) return FALSE;
  Svc* s = FindServiceLocked(h->key);
  if (s == nullptr || s->markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  s->markedForDelete = true;
  return TRUE;
}

BOOL StartServiceA(SC_HANDLE service, DWORD, LPCSTR*) {
  std::lock_guard<std::mutex> hold(Mu());
  SimScObject* h = BeginOnServiceLocked("StartServiceA", service, SERVICE_START);
  if (h == nullptr) return FALSE;
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
  ScmLocked().calls.push_back("ControlService " + std::to_string(control));
  ScmLocked().controlsSent.push_back(control);
  if (DWORD error = TakeFailureLocked("ControlService")) return Fail(error);
  SimScObject* h = ValidLocked(service, SimScObject::Service);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  DWORD needed = AccessForControl(control);
  if (needed == 0) return Fail(ERROR_INVALID_PARAMETER);
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
       !(current.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE)) ||
      (control == SERVICE_CONTROL_PARAMCHANGE &&
       !(current.dwControlsAccepted & SERVICE_ACCEPT_PARAMCHANGE)))
    return Fail(ERROR_INVALID_SERVICE_CONTROL);

  if (DispatcherLiveLocked(key)) {
    if (!HandOverLocked(lock, control)) return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    const SERVICE_STATUS* last = LastReportLocked();
    if (status != nullptr) *status = last != nullptr ? *last : current;
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

BOOL ChangeServiceConfig2A(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
  std::lock_guard<std::mutex> hold(Mu());
  SimScObject* h = BeginOnServiceLocked("ChangeServiceConfig2A", service, SERVICE_CHANGE_CONFIG);
  if (h == nullptr) return FALSE;
  if (infoLevel != SERVICE_CONFIG_PRESHUTDOWN_INFO) return Fail(ERROR_INVALID_LEVEL);
  if (info == nullptr) return Fail(ERROR_INVALID_ADDRESS);
  Svc* s = FindServiceLocked(h->key);
  if (s == nullptr) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  s->config.preshutdownTimeout = static_cast<SERVICE_PRESHUTDOWN_INFO*>(info)->dwPreshutdownTimeout;
  return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  std::lock_guard<std::mutex> hold(Mu());
  SimScObject* h = BeginOnServiceLocked("QueryServiceStatus", service, SERVICE_QUERY_STATUS);
  if (h == nullptr) return FALSE;
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

BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                          LPDWORD needed) {
  std::lock_guard<std::mutex> hold(Mu());
  SimScObject* h = BeginOnServiceLocked("QueryServiceStatusEx", service, SERVICE_QUERY_STATUS);
  if (h == nullptr) return FALSE;
  if (level != SC_STATUS_PROCESS_INFO) return Fail(ERROR_INVALID_LEVEL);
  if (needed == nullptr) return Fail(ERROR_INVALID_ADDRESS);
  *needed = sizeof(SERVICE_STATUS_PROCESS);
  if (buffer == nullptr || size < sizeof(SERVICE_STATUS_PROCESS))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  Svc* s = FindServiceLocked(h->key);
  if (s == nullptr) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  SERVICE_STATUS status = CurrentStatusLocked(h->key, *s);
  SERVICE_STATUS_PROCESS out = {};
  out.dwServiceType = status.dwServiceType;
  out.dwCurrentState = status.dwCurrentState;
  out.dwControlsAccepted = status.dwControlsAccepted;
  out.dwWin32ExitCode = status.dwWin32ExitCode;
  out.dwServiceSpecificExitCode = status.dwServiceSpecificExitCode;
  out.dwCheckPoint = status.dwCheckPoint;
  out.dwWaitHint = status.dwWaitHint;
  // As on Windows, a stopped service has no process.
  if (status.dwCurrentState != SERVICE_STOPPED)
    out.dwProcessId = DispatcherLiveLocked(h->key) ? sim::OwnProcessId : s->processId;
  memcpy(buffer, &out, sizeof out);
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
  std::lock_guard<std::mutex> hold(Mu());
  std::vector<std::string>& calls = ScmLocked().calls;
  SimScObject* h = ValidLocked(handle, SimScObject::Manager);
  if (h == nullptr) h = ValidLocked(handle, SimScObject::Service);
  if (h == nullptr) {
    calls.push_back("CloseServiceHandle invalid");
    return Fail(ERROR_INVALID_HANDLE);
  }
  h->closed = true;
  if (h->kind == SimScObject::Manager) {
    calls.push_back("CloseServiceHandle manager");
    return TRUE;
  }
  calls.push_back("CloseServiceHandle service");
  if (Svc* s = FindServiceLocked(h->key)) --s->openHandles;
  RemoveIfDueLocked(h->key);
  return TRUE;
}
