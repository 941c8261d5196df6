// Simulated service manager: its database of services, its handles, and the
// test-side controls and record of both.
#include "platform/sim/services_internal.h"

namespace sim {
namespace detail {

Scm& ScmLocked() {
  static Scm scm;
  return scm;
}

DWORD TakeFailureLocked(const std::string& function) {
  auto& failNext = ScmLocked().failNext;
  auto it = failNext.find(function);
  if (it == failNext.end()) return 0;
  DWORD error = it->second;
  failNext.erase(it);
  return error;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

SC_HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return nullptr;
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
  Scm& scm = ScmLocked();
  auto object = std::make_unique<SimScObject>();
  object->kind = kind;
  object->access = access;
  object->key = key;
  SimScObject* h = object.get();
  scm.objects.push_back(std::move(object));
  scm.objectSet.insert(h);
  if (kind == SimScObject::Service) ++scm.services[key].openHandles;
  return h;
}

SimScObject* ValidLocked(SC_HANDLE handle, SimScObject::Kind kind) {
  if (handle == nullptr || ScmLocked().objectSet.count(handle) == 0 || handle->closed ||
      handle->kind != kind)
    return nullptr;
  return handle;
}

int OpenConsoleHandlesLocked() {
  int open = 0;
  for (auto& h : ScmLocked().objects)
    if (!h->closed && h->kind != SimScObject::Status) ++open;
  return open;
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

using detail::Mu;
using detail::ScmLocked;

void SetAdministrator(bool isAdministrator) {
  std::lock_guard<std::mutex> hold(Mu());
  ScmLocked().administrator = isAdministrator;
}

bool ServiceExists(const std::string& name) {
  std::lock_guard<std::mutex> hold(Mu());
  return detail::FindServiceLocked(detail::Lower(name)) != nullptr;
}

ServiceConfig Service(const std::string& name) {
  std::lock_guard<std::mutex> hold(Mu());
  detail::Svc* s = detail::FindServiceLocked(detail::Lower(name));
  return s != nullptr ? s->config : ServiceConfig();
}

void AddService(const std::string& name, DWORD state) {
  std::lock_guard<std::mutex> hold(Mu());
  std::string key = detail::Lower(name);
  detail::Svc* s = detail::FindServiceLocked(key);
  if (s == nullptr) {
    s = &detail::AddServiceLocked(key, name);
    s->config.startType = SERVICE_DEMAND_START;
    s->config.errorControl = SERVICE_ERROR_NORMAL;
  }
  s->state = state;
}

void ScriptServiceStates(const std::string& name, const std::vector<DWORD>& states) {
  std::lock_guard<std::mutex> hold(Mu());
  detail::Svc* s = detail::FindServiceLocked(detail::Lower(name));
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
  return detail::OpenConsoleHandlesLocked();
}

std::vector<DWORD> ControlsSent() {
  std::lock_guard<std::mutex> hold(Mu());
  return ScmLocked().controlsSent;
}

}  // namespace sim
