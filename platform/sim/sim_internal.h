// What the parts of the simulated Windows share among themselves; tests and
// the system's code use sim.h and simwin.h instead.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/sim/sim.h"

struct SimScObject {
  enum Kind { Manager, Service, Status } kind = Manager;
  DWORD access = 0;
  std::string key;   // lower-cased service name
  bool closed = false;
};

namespace sim {
namespace detail {
struct ProcRec;
struct MutexRec;
}  // namespace detail
}  // namespace sim

// What a HANDLE points at: a process, its primary thread, a job or a mutex.
struct SimObject {
  enum Kind { ProcessHandle, ThreadHandle, JobHandle, MutexHandle } kind = ProcessHandle;
  sim::detail::ProcRec* process = nullptr;   // null for a job or a mutex
  bool closed = false;
  sim::detail::MutexRec* mutex = nullptr;
  int job = 0;
  DWORD access = 0;   // what a mutex handle was granted
  int fd = -1;        // a file's (files.cpp)
};

namespace sim {
namespace detail {

// Guards every piece of simulated state except the clock and the last error.
// Never held while the system's own code runs (service main, handlers).
std::mutex& Mu();

// Moves the clock forward to t; never backwards.
void AdvanceTo(uint64_t t);

// Threads that play the service's side (service main, dispatcher) are not
// console callers: their sleeps do not belong in the console's call record.
bool OnServiceSide();
void SetServiceSide(bool serviceSide);
void NoteSleep(DWORD ms);   // services.cpp

// Lower-case ASCII copy.
std::string Lower(const std::string& text);

// Sets the last error and gives the call's failure result.
template <typename T = BOOL>
T Fail(DWORD error, T result = FALSE) {
  SetLastError(error);
  return result;
}
inline SC_HANDLE FailHandle(DWORD error) { return Fail(error, SC_HANDLE()); }

// What handles point at. It lives until Reset, so that a stale handle is found
// closed (or unknown) instead of pointing at freed memory.
template <typename T>
struct Objects {
  std::vector<std::unique_ptr<T>> all;
  std::unordered_set<const T*> known;
  T* Add(T object) {
    all.push_back(std::make_unique<T>(std::move(object)));
    known.insert(all.back().get());
    return all.back().get();
  }
  bool Has(const T* object) const { return object != nullptr && known.count(object) != 0; }
};

// Each part puts itself back to its first state.
void ResetClock();
void ResetFiles();
void ResetProcesses();
void ResetWindows();
void ResetServices();   // may wait for service threads; call without Mu()
void ResetHolds();
void ResetMutexes();
void ResetConsoles();   // waits for the routines' threads; call without Mu()
int AttachedConsoleLocked();   // 0: none
void ResetSockets();

// Mutex handles (mutexes.cpp), which the handle calls of processes.cpp pass
// on; call without Mu().
bool IsMutexHandle(HANDLE handle);
BOOL CloseMutexHandle(HANDLE handle);
DWORD WaitForMutex(HANDLE handle, DWORD milliseconds);

// File handles (files.cpp); call without Mu().
BOOL CloseFileHandle(HANDLE handle);

// Where a test may hold a thread (holds.cpp); call without Mu().
void HoldPoint(const char* function);

// Processes and their windows (processes.cpp, windows.cpp); all *Locked
// functions expect Mu() to be held.
struct ProcRec {
  DWORD pid = 0;
  DWORD tid = 0;
  Program program;
  uint64_t startMs = 0;
  uint64_t endMs = 0;   // clock time of its death, once dead
  bool dead = false;
  DWORD exitCode = 0;
  bool terminated = false;
  int64_t quitExitAt = -1;   // clock time of the exit a request set off
  DWORD quitExitCode = 0;
  int64_t terminateExitAt = -1;   // and of the end a late TerminateProcess brings
  DWORD terminateExitCode = 0;
  DWORD priorityClass = NORMAL_PRIORITY_CLASS;
  SimWindow* window = nullptr;
  bool hungByTest = false;
  std::vector<int> showCommands;
  int quitMessages = 0;
  DWORD parentId = 0;   // set only for the children a simulated program starts
  int job = 0;          // 0: in no job
  bool suspended = false;
  int console = 0;   // 0: none of its own
  int ctrlEvents = 0;
  int closeMessages = 0;
};

// Brings a process's life up to the clock; returns whether it still lives.
bool AliveLocked(ProcRec& process);
ProcRec* FindProcessLocked(DWORD processId);
ProcRec* FindThreadLocked(DWORD threadId);
// A request it honours: it ends `afterMs` from now with that code, unless it
// was to end earlier anyway.
void ExitOnRequestLocked(ProcRec& process, int64_t afterMs, DWORD exitCode);
// Every process, for the console events (consoles.cpp).
std::vector<ProcRec*> AllProcessesLocked();

SimWindow* NewWindowLocked(ProcRec* owner);   // placed before all others
bool WindowLiveLocked(SimWindow* window);

// The service manager (services.cpp) and the service's own side
// (dispatcher.cpp); all *Locked functions expect Mu() to be held.
struct Svc {
  ServiceConfig config;
  DWORD state = SERVICE_STOPPED;
  std::vector<DWORD> script;
  size_t scriptNext = 0;
  bool markedForDelete = false;
  int openHandles = 0;
  DWORD processId = 0;
};

// The error FailNext armed for that function, taken; 0 when none.
DWORD TakeFailureLocked(const std::string& function);
Svc* FindServiceLocked(const std::string& key);
// Adds a service that CreateServiceA did not make: own process, named as given.
Svc& AddServiceLocked(const std::string& key, const std::string& name);
// Windows removes a service marked for deletion once it is stopped and the
// last handle to it is closed.
void RemoveIfDueLocked(const std::string& key);
SimScObject* NewScObjectLocked(SimScObject::Kind kind, DWORD access, const std::string& key);
// Null unless the handle is open and of that kind.
SimScObject* ValidLocked(SC_HANDLE handle, SimScObject::Kind kind);

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

struct SimWindow {
  sim::detail::ProcRec* owner = nullptr;
  bool destroyed = false;
};
