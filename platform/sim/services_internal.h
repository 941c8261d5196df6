// What the simulated service manager's three parts share: its database and
// handles (services.cpp), the console's calls (manager_calls.cpp) and the
// service's own side (dispatcher.cpp). All of it is guarded by Mu().
#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/sim/sim_internal.h"

struct SimScObject {
  enum Kind { Manager, Service, Status } kind = Manager;
  DWORD access = 0;
  std::string key;   // lower-cased service name
  bool closed = false;
};

namespace sim {
namespace detail {

struct Svc {
  ServiceConfig config;
  DWORD state = SERVICE_STOPPED;
  std::vector<DWORD> script;
  size_t scriptNext = 0;
  bool markedForDelete = false;
  int openHandles = 0;
};

// The whole manager; Reset puts back a fresh one. Handles live until then,
// so that a stale one is found closed.
struct Scm {
  std::map<std::string, Svc> services;   // by lower-cased name
  std::vector<std::unique_ptr<SimScObject>> objects;
  std::unordered_set<SimScObject*> objectSet;
  bool administrator = true;
  std::map<std::string, DWORD> failNext;
  std::vector<std::string> calls;
  std::vector<DWORD> controlsSent;
};
Scm& ScmLocked();

// The error FailNext armed for that function, taken; 0 when none.
DWORD TakeFailureLocked(const std::string& function);
BOOL Fail(DWORD error);
SC_HANDLE FailHandle(DWORD error);

Svc* FindServiceLocked(const std::string& key);
// Adds a service that CreateServiceA did not make: own process, named as given.
Svc& AddServiceLocked(const std::string& key, const std::string& name);
// Windows removes a service marked for deletion once it is stopped and the
// last handle to it is closed.
void RemoveIfDueLocked(const std::string& key);

SimScObject* NewScObjectLocked(SimScObject::Kind kind, DWORD access, const std::string& key);
// Null unless the handle is open and of that kind.
SimScObject* ValidLocked(SC_HANDLE handle, SimScObject::Kind kind);
int OpenConsoleHandlesLocked();

// The dispatcher, as the console's calls see it.
bool DispatcherLiveLocked(const std::string& key);
const SERVICE_STATUS* LastReportLocked();   // null until the service reports
// Queues a control for the handler and waits until it has run; false when
// it has not in time or Reset ended the dispatcher.
bool HandOverLocked(std::unique_lock<std::mutex>& lock, DWORD control);
// Ends a running dispatcher and service main; call without Mu().
void ResetDispatcher();

}  // namespace detail
}  // namespace sim
