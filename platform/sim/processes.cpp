// Simulated processes: programs, launches, handles, waits and exit codes.
#include <cstring>
#include <map>
#include <set>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

const DWORD FirstProcessId = 1000;
const DWORD FirstThreadId = 1002;
const DWORD IdStep = 4;

// Guarded by Mu(). Process records live until Reset, like handles.
struct Table {
  std::map<std::string, sim::Program> programs;   // by lower-cased path
  std::set<std::string> missingDirectories;        // lower-cased
  std::vector<sim::LaunchRecord> launches;
  std::vector<std::unique_ptr<ProcRec>> processes;
  Objects<SimObject> handles;
  DWORD nextProcessId = FirstProcessId;
  DWORD nextThreadId = FirstThreadId;
  int lastJob = 0;
  int lastConsole = 0;
  int inheritableHandles = 0;
} g_table;

std::string Trimmed(const std::string& path) {
  std::string p = path;
  while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  return Lower(p);
}

// Like Windows, a program named without an extension may be meant with ".exe".
const sim::Program* LookupProgramLocked(const std::string& name) {
  auto it = g_table.programs.find(Lower(name));
  if (it != g_table.programs.end()) return &it->second;
  size_t slash = name.find_last_of('\\');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    it = g_table.programs.find(Lower(name + ".exe"));
    if (it != g_table.programs.end()) return &it->second;
  }
  return nullptr;
}

// A quoted first token names the program; otherwise the shortest prefix that
// ends before a blank (or the whole line) and names a registered program.
const sim::Program* ProgramOfLocked(const char* applicationName, const std::string& commandLine) {
  if (applicationName != nullptr) return LookupProgramLocked(applicationName);
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t close = commandLine.find('"', 1);
    return LookupProgramLocked(commandLine.substr(1, close == std::string::npos
                                                         ? std::string::npos
                                                         : close - 1));
  }
  for (size_t i = 0; i < commandLine.size(); ++i) {
    if (commandLine[i] != ' ' && commandLine[i] != '\t') continue;
    if (const sim::Program* p = LookupProgramLocked(commandLine.substr(0, i))) return p;
  }
  return LookupProgramLocked(commandLine);
}

// With several class bits, the lowest class named wins; so a value is one
// class exactly when it gives itself back.
DWORD PriorityFromFlags(DWORD flags) {
  const DWORD order[] = {IDLE_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS,
                         NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS,
                         HIGH_PRIORITY_CLASS, REALTIME_PRIORITY_CLASS};
  for (DWORD c : order)
    if (flags & c) return c;
  return NORMAL_PRIORITY_CLASS;
}

ProcRec* NewProcessLocked(const sim::Program& program) {
  auto record = std::make_unique<ProcRec>();
  record->pid = g_table.nextProcessId;
  g_table.nextProcessId += IdStep;
  record->tid = g_table.nextThreadId;
  g_table.nextThreadId += IdStep;
  record->program = program;
  record->startMs = sim::Now();
  ProcRec* p = record.get();
  g_table.processes.push_back(std::move(record));
  if (program.hasWindow) p->window = NewWindowLocked(p);
  return p;
}

SimObject* ValidHandleLocked(HANDLE handle) {
  return g_table.handles.Has(handle) && !handle->closed ? handle : nullptr;
}

// Earliest clock time at which the process will die by itself; -1 never.
int64_t NextDeathLocked(const ProcRec& p) {
  if (p.dead) return -1;
  int64_t next = -1;
  if (p.program.exitAfterMs >= 0) next = int64_t(p.startMs) + p.program.exitAfterMs;
  for (int64_t at : {p.quitExitAt, p.terminateExitAt})
    if (at >= 0 && (next < 0 || at < next)) next = at;
  return next;
}

// `at`: the clock time of the death, which may lie before the moment it is noticed.
void DieLocked(ProcRec& p, DWORD exitCode, uint64_t at = sim::Now()) {
  if (p.dead) return;
  p.dead = true;
  p.exitCode = exitCode;
  p.endMs = at;
}

ProcRec* ValidProcessHandleLocked(HANDLE handle) {
  SimObject* h = ValidHandleLocked(handle);
  if (h == nullptr || h->kind != SimObject::ProcessHandle) return nullptr;
  return h->process;
}

int ValidJobLocked(HANDLE handle) {
  SimObject* h = ValidHandleLocked(handle);
  return h != nullptr && h->kind == SimObject::JobHandle ? h->job : 0;
}

// What a program does once it runs: its children inherit its job.
void BeginRunningLocked(ProcRec& p) {
  sim::Program child;
  child.hasWindow = false;
  for (int i = 0; i < p.program.children; ++i) {
    ProcRec* c = NewProcessLocked(child);
    c->parentId = p.pid;
    c->job = p.job;
  }
}

// FILETIME units (100 ns) of clock time t, on an arbitrary base.
FILETIME FileTimeAt(uint64_t t) {
  uint64_t units = 128000000000000000ull + t * 10000;
  return {DWORD(units), DWORD(units >> 32)};
}

}  // namespace

namespace sim {
namespace detail {

void ResetProcesses() {
  std::lock_guard<std::mutex> hold(Mu());
  g_table = Table();
}

bool AliveLocked(ProcRec& p) {
  if (p.dead) return false;
  int64_t now = int64_t(Now());
  int64_t natural = p.program.exitAfterMs >= 0 ? int64_t(p.startMs) + p.program.exitAfterMs : -1;
  bool naturalDue = natural >= 0 && natural <= now;
  bool quitDue = p.quitExitAt >= 0 && p.quitExitAt <= now;
  bool terminateDue = p.terminateExitAt >= 0 && p.terminateExitAt <= now;
  if (naturalDue && (!quitDue || natural <= p.quitExitAt))
    DieLocked(p, p.program.exitCode, uint64_t(natural));
  else if (quitDue)
    DieLocked(p, p.quitExitCode, uint64_t(p.quitExitAt));
  else if (terminateDue)
    DieLocked(p, p.terminateExitCode, uint64_t(p.terminateExitAt));
  return !p.dead;
}

ProcRec* FindProcessLocked(DWORD processId) {
  for (auto& p : g_table.processes)
    if (p->pid == processId) return p.get();
  return nullptr;
}

ProcRec* FindThreadLocked(DWORD threadId) {
  for (auto& p : g_table.processes)
    if (p->tid == threadId) return p.get();
  return nullptr;
}

void ExitOnRequestLocked(ProcRec& p, int64_t afterMs, DWORD exitCode) {
  int64_t exitAt = int64_t(sim::Now()) + afterMs;
  if (p.quitExitAt >= 0 && p.quitExitAt <= exitAt) return;
  p.quitExitAt = exitAt;
  p.quitExitCode = exitCode;
}

std::vector<ProcRec*> AllProcessesLocked() {
  std::vector<ProcRec*> all;
  for (auto& p : g_table.processes) all.push_back(p.get());
  return all;
}

}  // namespace detail

void AddProgram(const std::string& path, const Program& program) {
  std::lock_guard<std::mutex> hold(Mu());
  g_table.programs[Lower(path)] = program;
}

void SetMissingDirectory(const std::string& windowsPath) {
  std::lock_guard<std::mutex> hold(Mu());
  g_table.missingDirectories.insert(Trimmed(windowsPath));
}

std::vector<LaunchRecord> Launches() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_table.launches;
}

ProcessState Process(DWORD processId) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcessState state;
  ProcRec* p = FindProcessLocked(processId);
  if (p == nullptr) return state;
  state.alive = AliveLocked(*p);
  state.exitCode = state.alive ? STILL_ACTIVE : p->exitCode;
  state.priorityClass = p->priorityClass;
  state.threadId = p->tid;
  state.window = WindowLiveLocked(p->window) ? p->window : nullptr;
  state.showCommands = p->showCommands;
  state.quitMessages = p->quitMessages;
  state.terminated = p->terminated;
  state.suspended = p->suspended;
  state.inJob = p->job != 0;
  state.ctrlEvents = p->ctrlEvents;
  state.closeMessages = p->closeMessages;
  return state;
}

std::vector<DWORD> ChildProcessIds(DWORD parentId) {
  std::lock_guard<std::mutex> hold(Mu());
  std::vector<DWORD> ids;
  for (auto& p : g_table.processes)
    if (p->parentId == parentId) ids.push_back(p->pid);
  return ids;
}

std::vector<DWORD> ProcessIds() {
  std::lock_guard<std::mutex> hold(Mu());
  std::vector<DWORD> ids;
  for (auto& p : g_table.processes) ids.push_back(p->pid);
  return ids;
}

std::vector<DWORD> LiveProcessIds() {
  std::lock_guard<std::mutex> hold(Mu());
  std::vector<DWORD> ids;
  for (auto& p : g_table.processes)
    if (AliveLocked(*p)) ids.push_back(p->pid);
  return ids;
}

void KillProcess(DWORD processId, DWORD exitCode) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = FindProcessLocked(processId);
  if (p != nullptr && AliveLocked(*p)) DieLocked(*p, exitCode);
}

DWORD AddForeignProcessWithWindow() {
  std::lock_guard<std::mutex> hold(Mu());
  Program program;
  program.hasWindow = true;
  return NewProcessLocked(program)->pid;
}

int OpenHandleCount() {
  std::lock_guard<std::mutex> hold(Mu());
  int open = 0;
  for (auto& h : g_table.handles.all)
    if (!h->closed) ++open;
  return open;
}

int InheritableHandleCount() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_table.inheritableHandles;
}

}  // namespace sim

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation) {
  HoldPoint("CreateProcessA");
  std::lock_guard<std::mutex> hold(Mu());
  sim::LaunchRecord record;
  record.applicationNameNull = applicationName == nullptr;
  record.commandLine = commandLine != nullptr ? commandLine : "";
  record.processAttributesInherit = processAttributes != nullptr && processAttributes->bInheritHandle;
  record.threadAttributesInherit = threadAttributes != nullptr && threadAttributes->bInheritHandle;
  record.inheritHandles = inheritHandles != FALSE;
  record.creationFlags = creationFlags;
  record.currentDirectoryNull = currentDirectory == nullptr;
  record.currentDirectory = currentDirectory != nullptr ? currentDirectory : "";
  record.environmentNull = environment == nullptr;
  for (const char* v = static_cast<const char*>(environment); v != nullptr && *v != '\0';
       v += strlen(v) + 1)
    record.environment.push_back(v);
  if (startupInfo != nullptr) {
    record.startupFlags = startupInfo->dwFlags;
    record.startupShowWindow = startupInfo->wShowWindow;
  }
  g_table.launches.push_back(record);
  sim::LaunchRecord& stored = g_table.launches.back();

  if (startupInfo == nullptr || processInformation == nullptr ||
      (applicationName == nullptr && commandLine == nullptr))
    return Fail(ERROR_INVALID_PARAMETER);
  if (currentDirectory != nullptr &&
      (*currentDirectory == '\0' || g_table.missingDirectories.count(Trimmed(currentDirectory))))
    return Fail(ERROR_DIRECTORY);
  const sim::Program* program = ProgramOfLocked(applicationName, stored.commandLine);
  if (program == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  if (program->failWithError != 0) return Fail(program->failWithError);

  ProcRec* p = NewProcessLocked(*program);
  p->priorityClass = PriorityFromFlags(creationFlags);
  p->suspended = (creationFlags & CREATE_SUSPENDED) != 0;
  // Without a console of its own it shares the one this process is attached to.
  p->console = (creationFlags & CREATE_NEW_CONSOLE) ? ++g_table.lastConsole
                                                    : AttachedConsoleLocked();
  if (!p->suspended) BeginRunningLocked(*p);
  processInformation->hProcess = g_table.handles.Add({SimObject::ProcessHandle, p});
  processInformation->hThread = g_table.handles.Add({SimObject::ThreadHandle, p});
  processInformation->dwProcessId = p->pid;
  processInformation->dwThreadId = p->tid;
  if (stored.processAttributesInherit) ++g_table.inheritableHandles;
  if (stored.threadAttributesInherit) ++g_table.inheritableHandles;
  stored.succeeded = true;
  stored.processId = p->pid;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (IsMutexHandle(handle)) return CloseMutexHandle(handle);
  if (CloseFileHandle(handle)) return TRUE;
  std::lock_guard<std::mutex> hold(Mu());
  SimObject* h = ValidHandleLocked(handle);
  if (h == nullptr) return Fail(ERROR_INVALID_HANDLE);
  h->closed = true;
  return TRUE;
}

// Time passes in the wait: up to the process's end or the whole time-out.
// A mutex is waited for in real time instead (mutexes.cpp).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (IsMutexHandle(handle)) return WaitForMutex(handle, milliseconds);
  std::lock_guard<std::mutex> hold(Mu());
  SimObject* h = ValidHandleLocked(handle);
  if (h == nullptr || h->process == nullptr) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  ProcRec& p = *h->process;
  if (!AliveLocked(p)) return WAIT_OBJECT_0;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  int64_t death = NextDeathLocked(p);
  uint64_t now = sim::Now();
  if (death >= 0 && (milliseconds == INFINITE || uint64_t(death) - now <= milliseconds)) {
    AdvanceTo(uint64_t(death));
    AliveLocked(p);
    return WAIT_OBJECT_0;
  }
  // Nothing would ever end an endless wait here; it returns as if timed out.
  if (milliseconds != INFINITE) AdvanceTo(now + milliseconds);
  return WAIT_TIMEOUT;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = ValidProcessHandleLocked(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (exitCode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *exitCode = AliveLocked(*p) ? STILL_ACTIVE : p->exitCode;
  return TRUE;
}

// Like Windows: the exit time of a live process is zero.
BOOL GetProcessTimes(HANDLE process, LPFILETIME creation, LPFILETIME exit, LPFILETIME kernel,
                     LPFILETIME user) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("GetProcessTimes")) return Fail(error);
  ProcRec* p = ValidProcessHandleLocked(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!creation || !exit || !kernel || !user) return Fail(ERROR_NOACCESS);
  *creation = FileTimeAt(p->startMs);
  *exit = AliveLocked(*p) ? FILETIME{0, 0} : FileTimeAt(p->endMs);
  *kernel = *user = FILETIME{0, 0};
  return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  HoldPoint("TerminateProcess");
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = ValidProcessHandleLocked(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!AliveLocked(*p)) return Fail(ERROR_ACCESS_DENIED);
  p->terminated = true;
  // Termination is asynchronous: the process may linger for a while.
  int64_t late = p->program.endsAfterTerminateMs;
  if (late == 0) {
    DieLocked(*p, exitCode);
  } else if (late > 0 && p->terminateExitAt < 0) {
    p->terminateExitAt = int64_t(sim::Now()) + late;
    p->terminateExitCode = exitCode;
  }
  return TRUE;
}

BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = ValidProcessHandleLocked(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (PriorityFromFlags(priorityClass) != priorityClass) return Fail(ERROR_INVALID_PARAMETER);
  if (!AliveLocked(*p)) return Fail(ERROR_ACCESS_DENIED);
  p->priorityClass = priorityClass;
  return TRUE;
}

DWORD GetPriorityClass(HANDLE process) {
  std::lock_guard<std::mutex> hold(Mu());
  ProcRec* p = ValidProcessHandleLocked(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE, DWORD(0));
  if (!AliveLocked(*p)) return Fail(ERROR_ACCESS_DENIED, DWORD(0));
  return p->priorityClass;
}

DWORD WaitForInputIdle(HANDLE process, DWORD /*milliseconds*/) {
  HoldPoint("WaitForInputIdle");
  std::lock_guard<std::mutex> hold(Mu());
  return ValidProcessHandleLocked(process) ? 0 : Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
}

DWORD ResumeThread(HANDLE thread) {
  std::lock_guard<std::mutex> hold(Mu());
  SimObject* h = ValidHandleLocked(thread);
  if (h == nullptr || h->kind != SimObject::ThreadHandle)
    return Fail(ERROR_INVALID_HANDLE, DWORD(-1));
  ProcRec& p = *h->process;
  if (!p.suspended) return 0;
  p.suspended = false;
  BeginRunningLocked(p);
  return 1;
}

HANDLE CreateJobObjectA(LPSECURITY_ATTRIBUTES jobAttributes, LPCSTR /*name*/) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("CreateJobObjectA")) return Fail(error, HANDLE());
  SimObject job;
  job.kind = SimObject::JobHandle;
  job.job = ++g_table.lastJob;
  if (jobAttributes != nullptr && jobAttributes->bInheritHandle) ++g_table.inheritableHandles;
  return g_table.handles.Add(job);
}

BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info,
                             DWORD length) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("SetInformationJobObject")) return Fail(error);
  if (ValidJobLocked(job) == 0) return Fail(ERROR_INVALID_HANDLE);
  if (infoClass != JobObjectExtendedLimitInformation || info == nullptr ||
      length != sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION))
    return Fail(ERROR_INVALID_PARAMETER);
  return TRUE;
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("AssignProcessToJobObject")) return Fail(error);
  int id = ValidJobLocked(job);
  ProcRec* p = ValidProcessHandleLocked(process);
  if (id == 0 || p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (p->job != 0 || !AliveLocked(*p)) return Fail(ERROR_ACCESS_DENIED);
  p->job = id;
  return TRUE;
}

BOOL TerminateJobObject(HANDLE job, UINT exitCode) {
  HoldPoint("TerminateJobObject");
  std::lock_guard<std::mutex> hold(Mu());
  int id = ValidJobLocked(job);
  if (id == 0) return Fail(ERROR_INVALID_HANDLE);
  for (auto& p : g_table.processes) {
    if (p->job != id || !AliveLocked(*p)) continue;
    p->terminated = true;
    DieLocked(*p, exitCode);
  }
  return TRUE;
}
