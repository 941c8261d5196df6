// The simulated Windows behaviours that the system's tests lean on hardest.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/sim/sim.h"

namespace {

struct Launched {
  BOOL ok = FALSE;
  DWORD error = 0;
  PROCESS_INFORMATION info = {};
};

Launched Launch(const std::string& commandLine, const char* directory = nullptr,
                DWORD flags = 0) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNA;
  Launched l;
  SetLastError(0);
  l.ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, directory,
                        &startup, &l.info);
  l.error = GetLastError();
  return l;
}

DWORD LaunchedPid(const std::string& commandLine) {
  Launched l = Launch(commandLine);
  EXPECT_TRUE(l.ok) << commandLine;
  return l.info.dwProcessId;
}

// --- Program lookup ---

TEST(SimProcess, CommandLineNamesTheShortestRegisteredPrefixOrTheQuotedToken) {
  sim::AddProgram("C:\\Apps\\My", sim::Program());
  sim::AddProgram("C:\\Apps\\My Tool.exe", sim::Program());
  sim::AddProgram("C:\\Apps\\plain.exe", sim::Program());

  DWORD shortest = LaunchedPid("C:\\Apps\\My Tool.exe -x");
  DWORD quoted = LaunchedPid("\"C:\\Apps\\My Tool.exe\" -x");
  DWORD whole = LaunchedPid("C:\\Apps\\plain.exe");
  DWORD noExtension = LaunchedPid("c:\\apps\\PLAIN -q");
  EXPECT_EQ(shortest, 1000u);
  EXPECT_EQ(quoted, 1004u);
  EXPECT_EQ(whole, 1008u);
  EXPECT_EQ(noExtension, 1012u);

  Launched unknown = Launch("C:\\Apps\\Other.exe");
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, DWORD(ERROR_FILE_NOT_FOUND));
  Launched quotedUnknown = Launch("\"C:\\Apps\\My\"x -x");
  EXPECT_TRUE(quotedUnknown.ok);   // the quoted token is "C:\Apps\My"

  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 6u);
  EXPECT_EQ(launches[4].commandLine, "C:\\Apps\\Other.exe");
  EXPECT_FALSE(launches[4].succeeded);
  EXPECT_TRUE(launches[0].succeeded);
  EXPECT_EQ(launches[0].startupShowWindow, WORD(SW_SHOWNA));
}

TEST(SimProcess, CreationFailsForBadDirectoriesAndScriptedErrors) {
  sim::Program failing;
  failing.failWithError = ERROR_ACCESS_DENIED;
  sim::AddProgram("C:\\a.exe", sim::Program());
  sim::AddProgram("C:\\b.exe", failing);
  sim::SetMissingDirectory("C:\\Gone\\");

  EXPECT_EQ(Launch("C:\\a.exe", "").error, DWORD(ERROR_DIRECTORY));
  EXPECT_EQ(Launch("C:\\a.exe", "c:\\gone").error, DWORD(ERROR_DIRECTORY));
  EXPECT_TRUE(Launch("C:\\a.exe", "C:\\Elsewhere\\").ok);
  EXPECT_EQ(Launch("C:\\b.exe").error, DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(sim::Launches().size(), 4u);
  EXPECT_EQ(sim::ProcessIds().size(), 1u);
}

// --- Process life ---

TEST(SimProcess, WaitsLetTimePassUntilTheProcessEnds) {
  sim::Program p;
  p.exitAfterMs = 5000;
  p.exitCode = 7;
  sim::AddProgram("C:\\p.exe", p);
  Launched l = Launch("C:\\p.exe", nullptr, HIGH_PRIORITY_CLASS);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(GetPriorityClass(l.info.hProcess), DWORD(HIGH_PRIORITY_CLASS));

  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(l.info.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 1000), WAIT_TIMEOUT);
  EXPECT_EQ(sim::Now(), 1000u);
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 5000u);
  EXPECT_TRUE(GetExitCodeProcess(l.info.hProcess, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(TerminateProcess(l.info.hProcess, 1));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

  EXPECT_EQ(sim::OpenHandleCount(), 2);
  EXPECT_TRUE(CloseHandle(l.info.hProcess));
  EXPECT_FALSE(CloseHandle(l.info.hProcess));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(GetExitCodeProcess(l.info.hProcess, &code));
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 0), WAIT_FAILED);
  EXPECT_FALSE(GetExitCodeProcess(nullptr, &code));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(sim::OpenHandleCount(), 1);
}

TEST(SimProcess, QuitMessageEndsTheProcessAfterItsQuitTime) {
  sim::Program slow;
  slow.quitTakesMs = 300;
  sim::Program stubborn;
  stubborn.ignoresQuit = true;
  sim::AddProgram("C:\\slow.exe", slow);
  sim::AddProgram("C:\\stubborn.exe", stubborn);
  Launched a = Launch("C:\\slow.exe");
  Launched b = Launch("C:\\stubborn.exe");

  EXPECT_TRUE(PostThreadMessageA(a.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_TRUE(PostThreadMessageA(b.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_EQ(WaitForSingleObject(a.info.hProcess, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 300u);
  EXPECT_EQ(WaitForSingleObject(b.info.hProcess, 1000), WAIT_TIMEOUT);
  EXPECT_EQ(sim::Process(b.info.dwProcessId).quitMessages, 1);
  EXPECT_TRUE(sim::Process(b.info.dwProcessId).alive);

  EXPECT_FALSE(PostThreadMessageA(a.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
  EXPECT_FALSE(PostThreadMessageA(12345, WM_QUIT, 0, 0));

  EXPECT_TRUE(TerminateProcess(b.info.hProcess, 3));
  sim::ProcessState s = sim::Process(b.info.dwProcessId);
  EXPECT_FALSE(s.alive);
  EXPECT_TRUE(s.terminated);
  EXPECT_EQ(s.exitCode, 3u);
}

// --- Windows ---

TEST(SimWindowTest, NewWindowsComeFirstAndGoWithTheirProcess) {
  sim::AddProgram("C:\\w.exe", sim::Program());
  DWORD first = LaunchedPid("C:\\w.exe");
  DWORD foreign = sim::AddForeignProcessWithWindow();
  DWORD second = LaunchedPid("C:\\w.exe");

  std::vector<DWORD> order;
  for (HWND w = FindWindowA(nullptr, nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    EXPECT_EQ(GetParent(w), nullptr);
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(w, &pid);
    EXPECT_EQ(thread, sim::Process(pid).threadId);
    order.push_back(pid);
  }
  EXPECT_EQ(order, (std::vector<DWORD>{second, foreign, first}));

  HWND gone = sim::Process(foreign).window;
  sim::KillProcess(foreign, 1);
  EXPECT_FALSE(IsWindow(gone));
  EXPECT_EQ(sim::Process(foreign).window, nullptr);
  DWORD pid = 77;
  EXPECT_EQ(GetWindowThreadProcessId(gone, &pid), 0u);
  EXPECT_EQ(pid, 77u);
  EXPECT_FALSE(ShowWindowAsync(gone, SW_HIDE));
  EXPECT_EQ(GetWindow(FindWindowA(nullptr, nullptr), GW_HWNDNEXT), sim::Process(first).window);
}

TEST(SimWindowTest, HungWindowCostsTheWholeTimeoutAndFailsWithTimeout) {
  sim::Program p;
  p.hangAfterMs = 2000;
  sim::AddProgram("C:\\h.exe", p);
  DWORD pid = LaunchedPid("C:\\h.exe");
  HWND w = sim::Process(pid).window;
  ASSERT_NE(w, nullptr);

  DWORD_PTR result = 99;
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 1000, &result), 1);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(sim::Now(), 0u);

  sim::Advance(2000);
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 1000, &result), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_TIMEOUT));
  EXPECT_EQ(sim::Now(), 3000u);

  sim::DestroyWindow(pid);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, 0, 1000, &result), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(sim::Now(), 3000u);
}

TEST(SimWindowTest, HangWindowMakesAResponsiveWindowHang) {
  sim::AddProgram("C:\\w.exe", sim::Program());
  DWORD pid = LaunchedPid("C:\\w.exe");
  HWND w = sim::Process(pid).window;
  sim::HangWindow(pid, true);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, 0, 500, nullptr), 0);
  sim::HangWindow(pid, false);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, 0, 500, nullptr), 1);
  EXPECT_EQ(sim::Now(), 500u);
}

// --- Clock, module path, files ---

TEST(SimClock, LocalTimeFollowsTheCalendar) {
  SYSTEMTIME t = {};
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2007);
  EXPECT_EQ(t.wDayOfWeek, 1);
  EXPECT_EQ(t.wDay, 5);
  EXPECT_EQ(t.wSecond, 5);

  SYSTEMTIME base = {};
  base.wYear = 2008;
  base.wMonth = 2;
  base.wDay = 28;
  base.wHour = 23;
  base.wMinute = 59;
  base.wSecond = 59;
  sim::SetLocalTimeBase(base);
  Sleep(1250);
  GetLocalTime(&t);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 29);
  EXPECT_EQ(t.wDayOfWeek, 5);
  EXPECT_EQ(t.wHour, 0);
  EXPECT_EQ(t.wMilliseconds, 250);
  sim::Advance(24u * 3600 * 1000);
  GetLocalTime(&t);
  EXPECT_EQ(t.wMonth, 3);
  EXPECT_EQ(t.wDay, 1);
}

TEST(SimClock, LastErrorBelongsToEachThread) {
  SetLastError(5);
  DWORD other = 1;
  std::thread([&other] { other = GetLastError(); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 5u);
}

TEST(SimFiles, ModulePathIsTruncatedLikeWindows) {
  char buffer[64];
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 30u);
  EXPECT_STREQ(buffer, "C:\\QuarnLoader\\QuarnLoader.exe");
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_STREQ(buffer, "C:\\Quar");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  sim::SetModulePath("");
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u);
}

TEST(SimFiles, LockedFilesAndMissingFoldersCannotBeWritten) {
  EXPECT_EQ(sim::HostPath("D:\\Dir\\f.txt").substr(sim::HostPath("C:\\").size() - 2), "d/Dir/f.txt");
  FILE* f = OpenFileA("C:\\QuarnLoader\\QuarnLoader.log", "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("line\r\n", f);
  std::fclose(f);
  EXPECT_EQ(sim::ReadFile("C:\\QuarnLoader\\QuarnLoader.log"), "line\r\n");

  sim::LockFile("C:\\QuarnLoader\\QuarnLoader.log", true);
  EXPECT_EQ(OpenFileA("C:\\QuarnLoader\\QuarnLoader.log", "ab"), nullptr);
  f = OpenFileA("C:\\QuarnLoader\\QuarnLoader.log", "rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(OpenFileA("C:\\Nowhere\\x.log", "ab"), nullptr);
  EXPECT_EQ(GetFileAttributesA("C:\\QuarnLoader"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("C:\\Nowhere\\x.log"), INVALID_FILE_ATTRIBUTES);

  sim::Reset();
  EXPECT_FALSE(sim::FileExists("C:\\QuarnLoader\\QuarnLoader.log"));
}

// --- Profile reader ---

std::string Profile(const char* section, const char* key, const char* def, DWORD size = 64) {
  std::vector<char> buffer(size + 1, 'x');
  DWORD n = GetPrivateProfileStringA(section, key, def, buffer.data(), size, "C:\\q.ini");
  EXPECT_EQ(n, std::strlen(buffer.data()));
  return buffer.data();
}

TEST(SimProfile, ReadsTheFileFormat) {
  sim::WriteFile("C:\\q.ini",
                 "top=no\r\n"
                 "[Settings]\r\n"
                 "; Name=comment\r\n"
                 "  name \t=  spaced value \r\n"
                 "quoted=\"  q  \"\n"
                 "single='s'\n"
                 "half=\"h\n"
                 "empty=\n"
                 "noequals\n"
                 "Name=second\n"
                 "[ process_1 ]\n"
                 "AppName=C:\\x.exe\n"
                 "[settings]\n"
                 "later=1\n"
                 "[Last]\n"
                 "end=final");
  EXPECT_EQ(Profile("SETTINGS", "NAME", "d"), "spaced value");
  EXPECT_EQ(Profile("Settings", "quoted", "d"), "  q  ");
  EXPECT_EQ(Profile("Settings", "single", "d"), "s");
  EXPECT_EQ(Profile("Settings", "half", "d"), "\"h");
  EXPECT_EQ(Profile("Settings", "empty", "d"), "");
  EXPECT_EQ(Profile("Settings", "noequals", "d"), "d");
  EXPECT_EQ(Profile("Settings", "top", "d"), "d");
  EXPECT_EQ(Profile("Settings", "later", "d"), "d");
  EXPECT_EQ(Profile("Process_1", "appname", "d"), "C:\\x.exe");
  EXPECT_EQ(Profile("Last", "end", "d"), "final");
  EXPECT_EQ(Profile("Missing", "end", nullptr), "");
  EXPECT_EQ(Profile("Settings", "name", "d", 4), "spa");
  EXPECT_EQ(Profile("Settings", "missing", "default  ", 5), "defa");
  EXPECT_EQ(Profile("Settings", "missing", "trail  "), "trail");
}

TEST(SimProfile, MissingFileGivesTheDefault) {
  char buffer[8];
  EXPECT_EQ(GetPrivateProfileStringA("S", "K", "dflt", buffer, sizeof buffer, "C:\\none.ini"), 4u);
  EXPECT_STREQ(buffer, "dflt");
}

// --- Service manager, console side ---

void PollUntil(SC_HANDLE service, DWORD wanted) {
  SERVICE_STATUS status = {};
  for (int i = 0; i < 10 && QueryServiceStatus(service, &status) &&
                  status.dwCurrentState != wanted;
       ++i)
    Sleep(1000);
}

TEST(SimScm, ScriptedStartAndStopReportTheirStatesInOrder) {
  sim::AddService("Svc", SERVICE_STOPPED);
  sim::ScriptServiceStates("Svc", {SERVICE_START_PENDING, SERVICE_START_PENDING, SERVICE_RUNNING});
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = OpenServiceA(m, "svc", SERVICE_ALL_ACCESS);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(StartServiceA(s, 0, nullptr));
  PollUntil(s, SERVICE_RUNNING);
  EXPECT_FALSE(StartServiceA(s, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_ALREADY_RUNNING));

  sim::ScriptServiceStates("Svc", {SERVICE_STOP_PENDING, SERVICE_STOPPED});
  SERVICE_STATUS status = {};
  EXPECT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, DWORD(SERVICE_STOP_PENDING));
  PollUntil(s, SERVICE_STOPPED);
  EXPECT_FALSE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_FALSE(ControlService(s, 127, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(CloseServiceHandle(s));
  EXPECT_TRUE(CloseServiceHandle(m));
  Sleep(1000);   // no handle open: not part of the record

  EXPECT_EQ(sim::ScmCalls(),
            (std::vector<std::string>{
                "OpenSCManagerA", "OpenServiceA", "StartServiceA", "QueryServiceStatus",
                "Sleep 1000", "QueryServiceStatus", "Sleep 1000", "QueryServiceStatus",
                "StartServiceA", "ControlService 1", "QueryServiceStatus", "Sleep 1000",
                "QueryServiceStatus", "ControlService 1", "ControlService 127",
                "CloseServiceHandle service", "CloseServiceHandle manager"}));
  EXPECT_EQ(sim::ControlsSent(), (std::vector<DWORD>{1, 1, 127}));
  EXPECT_EQ(sim::OpenScHandleCount(), 0);
}

TEST(SimScm, DeletionWaitsForTheLastHandle) {
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  SC_HANDLE s = CreateServiceA(m, "Svc", "Display", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, "C:\\x.exe", nullptr,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(sim::Service("svc").displayName, "Display");
  EXPECT_EQ(sim::Service("svc").managerAccess, DWORD(SC_MANAGER_CREATE_SERVICE));
  EXPECT_EQ(CreateServiceA(m, "SVC", "", SERVICE_ALL_ACCESS, 0x10, 2, 1, "C:\\x.exe", nullptr,
                           nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_EXISTS));

  EXPECT_TRUE(DeleteService(s));
  EXPECT_FALSE(DeleteService(s));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_EQ(OpenServiceA(m, "Svc", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_TRUE(sim::ServiceExists("Svc"));
  CloseServiceHandle(s);
  EXPECT_FALSE(sim::ServiceExists("Svc"));
  EXPECT_EQ(OpenServiceA(m, "Svc", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
  CloseServiceHandle(m);

  sim::SetAdministrator(false);
  EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST(SimScm, FailNextFailsOnlyTheNextCall) {
  sim::AddService("Svc", SERVICE_RUNNING);
  sim::FailNext("QueryServiceStatus", ERROR_ACCESS_DENIED);
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = OpenServiceA(m, "Svc", SERVICE_ALL_ACCESS);
  SERVICE_STATUS status = {};
  EXPECT_FALSE(QueryServiceStatus(s, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(QueryServiceStatus(s, &status));
  EXPECT_EQ(status.dwCurrentState, DWORD(SERVICE_RUNNING));
  CloseServiceHandle(s);
  CloseServiceHandle(m);
}

// --- Dispatcher ---

namespace svc {
std::mutex mu;
SERVICE_STATUS_HANDLE handle = nullptr;
std::vector<std::pair<DWORD, std::thread::id>> handled;
std::thread::id mainThread;
std::atomic<bool> stopped{false};
std::string argv0;

void Report(DWORD state) {
  SERVICE_STATUS s = {};
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(handle, &s);
}

void WINAPI Handler(DWORD control) {
  {
    std::lock_guard<std::mutex> hold(mu);
    handled.emplace_back(control, std::this_thread::get_id());
  }
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOPPED);
    stopped = true;
  }
}

void WINAPI Main(DWORD argc, LPSTR* argv) {
  {
    std::lock_guard<std::mutex> hold(mu);
    mainThread = std::this_thread::get_id();
    argv0 = argc > 0 ? argv[0] : "";
  }
  handle = RegisterServiceCtrlHandlerA("Svc", Handler);
  Report(SERVICE_RUNNING);
  while (!stopped) Sleep(1000);
}

void Clear() {
  handle = nullptr;
  handled.clear();
  stopped = false;
}
}  // namespace svc

TEST(SimDispatcher, DeliversControlsOnTheCallingThreadUntilStopped) {
  svc::Clear();
  char name[] = "Svc";
  SERVICE_TABLE_ENTRYA table[] = {{name, svc::Main}, {nullptr, nullptr}};
  EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));

  sim::SetStartedByServiceManager(true);
  std::thread::id dispatcherThread;
  BOOL returned = FALSE;
  std::thread dispatcher([&] {
    dispatcherThread = std::this_thread::get_id();
    returned = StartServiceCtrlDispatcherA(table);
  });

  while (sim::StatusReports().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = OpenServiceA(m, "Svc", SERVICE_ALL_ACCESS);
  ASSERT_NE(s, nullptr);
  SERVICE_STATUS status = {};

  EXPECT_TRUE(sim::DeliverControl(SERVICE_CONTROL_INTERROGATE));
  EXPECT_TRUE(ControlService(s, 129, &status));
  EXPECT_EQ(status.dwCurrentState, DWORD(SERVICE_RUNNING));
  EXPECT_FALSE(ControlService(s, SERVICE_CONTROL_PAUSE, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SERVICE_CONTROL));
  EXPECT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, DWORD(SERVICE_STOPPED));
  dispatcher.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
  CloseServiceHandle(s);
  CloseServiceHandle(m);

  std::lock_guard<std::mutex> hold(svc::mu);
  EXPECT_EQ(svc::argv0, "Svc");
  ASSERT_EQ(svc::handled.size(), 3u);
  EXPECT_EQ(svc::handled[0].first, DWORD(SERVICE_CONTROL_INTERROGATE));
  EXPECT_EQ(svc::handled[1].first, 129u);
  EXPECT_EQ(svc::handled[2].first, DWORD(SERVICE_CONTROL_STOP));
  for (auto& h : svc::handled) {
    EXPECT_EQ(h.second, dispatcherThread);
    EXPECT_NE(h.second, svc::mainThread);
  }
  auto reports = sim::StatusReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(sim::ControlsSent(), (std::vector<DWORD>{129, SERVICE_CONTROL_PAUSE, 1}));
}

TEST(SimDispatcher, ResetEndsADispatcherLeftRunning) {
  svc::Clear();
  char name[] = "Svc";
  SERVICE_TABLE_ENTRYA table[] = {{name, svc::Main}, {nullptr, nullptr}};
  sim::SetStartedByServiceManager(true);
  std::thread dispatcher([&] { StartServiceCtrlDispatcherA(table); });
  while (sim::StatusReports().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  svc::stopped = true;   // lets the service main return; nobody reports stopped
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
  sim::Reset();
  dispatcher.join();
  EXPECT_FALSE(sim::DeliverControl(SERVICE_CONTROL_STOP));
  EXPECT_TRUE(sim::StatusReports().empty());
}

}  // namespace
