// Test-side controls of the simulated Windows: tests set up programs, files,
// services and the clock here, and inspect what the system did to them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/simwin.h"

namespace sim {

// Puts the whole simulated machine back to its first state: no processes, no
// windows, no services, no files, clock at its start, module path default,
// last error 0, administrator rights on, not started by the service manager.
void Reset();

// --- Virtual clock. Sleep and message time-outs advance it at once. ---
uint64_t Now();                 // milliseconds since Reset
void Advance(uint64_t ms);      // let time pass, as if someone slept
// Local time at Now() == 0; default Mon Mar 05 09:04:05 2007.
void SetLocalTimeBase(const SYSTEMTIME& t);
// GetTickCount follows real time, not the virtual clock, which a running
// supervision loop races ahead; tests move it on with AdvanceTicks.
void AdvanceTicks(DWORD ms);
// For tests of what is timed with GetTickCount against the programs' lives:
// the ticks then follow the virtual clock (AdvanceTicks still adds). Reset
// turns it off.
void TicksFollowClock(bool follow);

// --- Files. Windows paths ("C:\dir\f.ini", case kept) map to host files below
// a private root folder made by Reset. ---
std::string HostPath(const std::string& windowsPath);
void WriteFile(const std::string& windowsPath, const std::string& content);
std::string ReadFile(const std::string& windowsPath);   // "" when missing
bool FileExists(const std::string& windowsPath);
void RemoveFile(const std::string& windowsPath);
// A file that cannot be opened for writing, renamed, replaced or deleted (as
// if held without sharing).
void LockFile(const std::string& windowsPath, bool locked);
// Creates a folder (and the folders above it). Reset creates only the module's
// folder; WriteFile creates the folders of the files it writes.
void MakeDirectory(const std::string& windowsPath);
// A full disk: files still open for writing, but what is written to them is
// lost and the write or the close fails (the host's /dev/full takes their
// place). Reading, renaming and deleting go on as before.
void SetDiskFull(bool full);

// --- Module path returned by GetModuleFileNameA; default
// "C:\QuarnLoader\QuarnLoader.exe". Empty: the call fails (returns 0). ---
void SetModulePath(const std::string& path);

// --- Programs that CreateProcessA can start. The command line's program is
// the quoted first token, or else the shortest blank-separated prefix that
// names a registered program. Unknown programs fail with error 2. ---
struct Program {
  int64_t exitAfterMs = -1;      // exits by itself this long after start; -1 never
  DWORD exitCode = 0;
  bool hasWindow = true;         // owns a top-level window from its start
  int64_t hangAfterMs = -1;      // window stops answering after this; -1 never
  bool ignoresQuit = false;      // WM_QUIT to its primary thread is ignored
  int64_t quitTakesMs = 0;       // time from WM_QUIT to its exit
  DWORD failWithError = 0;       // CreateProcessA fails with this error
  int64_t endsAfterTerminateMs = 0;   // TerminateProcess takes effect this late; -1 never
  int children = 0;   // window-less, never-ending processes it starts once it runs
  // A console program has none: posting to its primary thread fails.
  bool hasMessageQueue = true;
  int64_t exitsOnCtrlMs = -1;    // ends with exitCode this long after Ctrl+C or
                                 // Ctrl+Break on its console; -1 ignores both
  int64_t exitsOnCloseMs = -1;   // ends this long after WM_CLOSE to its window;
                                 // -1 ignores it
};
void AddProgram(const std::string& path, const Program& program);
// A working directory that CreateProcessA rejects with 267, as a missing one;
// any other non-empty directory is accepted.
void SetMissingDirectory(const std::string& windowsPath);

// What one CreateProcessA call was given (failed calls included).
struct LaunchRecord {
  bool applicationNameNull = false;
  std::string commandLine;
  bool processAttributesInherit = false;
  bool threadAttributesInherit = false;
  bool inheritHandles = false;
  DWORD creationFlags = 0;
  bool currentDirectoryNull = false;
  std::string currentDirectory;
  bool environmentNull = false;
  std::vector<std::string> environment;   // the block's strings, in its order
  DWORD startupFlags = 0;
  WORD startupShowWindow = 0;
  bool succeeded = false;
  DWORD processId = 0;
};
std::vector<LaunchRecord> Launches();

// A simulated process, by id.
struct ProcessState {
  bool alive = false;
  DWORD exitCode = 0;
  DWORD priorityClass = 0;
  DWORD threadId = 0;
  HWND window = nullptr;          // null when it has none (or it was destroyed)
  std::vector<int> showCommands;  // every ShowWindowAsync on its window
  int quitMessages = 0;           // WM_QUIT messages received
  bool terminated = false;
  bool suspended = false;         // created suspended and not yet resumed
  bool inJob = false;
  int ctrlEvents = 0;             // console events that reached it
  int closeMessages = 0;          // WM_CLOSE messages its window received
};
ProcessState Process(DWORD processId);
// The processes a program started of its own (Program::children), in order.
// They belong to the job their parent was in when it began to run.
std::vector<DWORD> ChildProcessIds(DWORD parentId);
std::vector<DWORD> ProcessIds();      // every process ever started, in order
std::vector<DWORD> LiveProcessIds();
void KillProcess(DWORD processId, DWORD exitCode);   // dies from outside
void HangWindow(DWORD processId, bool hung);
void DestroyWindow(DWORD processId);
// Gives a live process (again) a top-level window, as a program that opens
// its window late does.
void CreateWindowFor(DWORD processId);
// A process that was not started by the system, owning a top-level window
// placed before all others; returns its id.
DWORD AddForeignProcessWithWindow();
// Number of process and thread handles not yet closed, and how many of the
// handles CreateProcessA returned were created inheritable.
int OpenHandleCount();
int InheritableHandleCount();

// --- Service manager. ---
void SetAdministrator(bool isAdministrator);   // false: OpenSCManagerA gives 5
struct ServiceConfig {
  std::string name, displayName, binaryPath, account;
  DWORD desiredAccess = 0, serviceType = 0, startType = 0, errorControl = 0;
  bool loadOrderGroupNull = true, tagNull = true, dependenciesNull = true, passwordNull = true;
  DWORD managerAccess = 0;   // access the manager handle was opened with
  DWORD preshutdownTimeout = 0;   // asked for with ChangeServiceConfig2A; 0: never
};
bool ServiceExists(const std::string& name);
ServiceConfig Service(const std::string& name);
void AddService(const std::string& name, DWORD state);    // installed, in that state
// The id GetCurrentProcessId gives: a service run by the simulated dispatcher
// lives in this process. A service without a live dispatcher that is not
// stopped reports the id set here (default 0).
const DWORD OwnProcessId = 900;
void SetServiceProcessId(const std::string& name, DWORD processId);
// Successive states that QueryServiceStatus reports for a service that has no
// live simulated dispatcher; the last one repeats.
void ScriptServiceStates(const std::string& name, const std::vector<DWORD>& states);
// Error that the next call of that function gives ("CreateJobObjectA",
// "SetInformationJobObject", "AssignProcessToJobObject", "GetProcessTimes", "StartServiceA",
// "ControlService", "QueryServiceStatus", "DeleteService", "OpenServiceA",
// "CreateServiceA", "SetServiceStatus", "QueryServiceStatusEx", "RegisterServiceCtrlHandlerA", "ChangeServiceConfig2A",
// "StartServiceCtrlDispatcherA", "CreateMutexA", "ReleaseMutex", "WSAStartup",
// "socket", "ioctlsocket"); 0 clears.
void FailNext(const std::string& function, DWORD error);
// Every console-side call in order, e.g. "OpenSCManagerA", "OpenServiceA",
// "ControlService 129", "QueryServiceStatus", "CloseServiceHandle service",
// "CloseServiceHandle manager", "Sleep 1000".
std::vector<std::string> ScmCalls();
int OpenScHandleCount();
// Every control code given to ControlService, in order, delivered or not.
std::vector<DWORD> ControlsSent();

// Makes StartServiceCtrlDispatcherA behave as in a process that the service
// manager started: it runs the service main on a thread of its own and
// delivers controls (from DeliverControl or ControlService) to the registered
// handler on the calling thread, one at a time, until the service reports
// stopped; then it returns TRUE. Otherwise it fails with 1063.
void SetStartedByServiceManager(bool started);
// Delivers one control to the running simulated service and waits until its
// handler has returned. False when no handler is registered.
bool DeliverControl(DWORD control);
// The system's shutdown as the manager announces it to the running service:
// pre-shutdown if its last status accepts it, else the shutdown control if
// that is accepted; waits for the handler. The control delivered, 0 for none.
DWORD DeliverShutdown();
// Every SERVICE_STATUS the service reported with SetServiceStatus, in order.
std::vector<SERVICE_STATUS> StatusReports();
// The id of the last entry given to ReportEventA, 0 for none.
DWORD LastEventReported();
// Waits (really, bounded) until the service main thread has returned.
bool WaitServiceMainReturned(int realTimeoutMs);

// --- Named mutexes. Whoever creates one gets full access; every later
// CreateMutexA or OpenMutexA of it is another account's (an administrator's)
// and gets what the creator's security grants: everything with default
// security, only what the Administrators entry ("...;;;BA)") of a descriptor
// string allows. CreateMutexA of an existing name fails with 5 unless that is
// everything. ---
// A mutex made by the service's account (LocalSystem) with default security:
// administrators may wait on it but not release it. Returns the maker's handle.
HANDLE CreateMutexAsService(const std::string& name);

// --- Consoles. A program created with CREATE_NEW_CONSOLE has one of its own;
// others share the one this process is attached to at the time, if any. The
// routines of this process outlive Reset, as its code does. An event goes to every
// process attached to the console, this one included: its routines run on a
// thread of their own a little later, as on Windows, newest first; when none
// returns TRUE, Windows would end this process, which the sim notes. ---
// Waits for the copies still on their way first.
bool EndedByConsoleEvent();
int ConsoleCtrlRoutineCount();   // routines of this process still registered

// --- Loopback sockets: only 127.0.0.1 can be reached, and a port nobody
// listens on refuses a connection at once. ---
struct Listener {
  bool accepts = true;   // else a connection stays pending
  std::string request;   // answered once a client has sent exactly this
  std::string answer;    // then the server closes the connection
};
// Connections made before a change keep what they were made with.
void Listen(uint16_t port, const Listener& listener);
void StopListening(uint16_t port);
int OpenSocketCount();
// Connections this side closed before the server did, which on Windows wait
// 240 s in TIME_WAIT; an abortive close (SO_LINGER, time-out 0) leaves none.
int TimeWaitCount();

// --- Races on purpose. The next thread that calls `function`
// ("CreateProcessA", "WaitForInputIdle", "SendMessageTimeoutA", "PostThreadMessageA",
// "TerminateProcess", "TerminateJobObject", "GenerateConsoleCtrlEvent"; "HandlerRoutine": the thread
// bringing this process its copy of a console event) waits at its start until
// ReleaseHold, while every other thread goes on. ---
void HoldAt(const std::string& function);
bool WaitHeld(int realTimeoutMs = 10000);   // really, bounded
void ReleaseHold();

}  // namespace sim
