// The simulated service manager: the console's calls and the dispatcher.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/sim/sim.h"

namespace {

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

// The state and process id QueryServiceStatusEx gives; state 0 when it fails.
std::pair<DWORD, DWORD> StateAndProcess(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                            sizeof status, &needed))
    return {0, 0};
  return {status.dwCurrentState, status.dwProcessId};
}

TEST(SimScm, ExtendedQueryGivesTheProcessOnlyWhileNotStopped) {
  sim::AddService("Svc", SERVICE_RUNNING);
  sim::SetServiceProcessId("Svc", 4242);
  SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE s = OpenServiceA(m, "svc", SERVICE_QUERY_STATUS);
  EXPECT_EQ(StateAndProcess(s), std::make_pair(DWORD(SERVICE_RUNNING), DWORD(4242)));
  sim::AddService("Svc", SERVICE_STOPPED);
  EXPECT_EQ(StateAndProcess(s), std::make_pair(DWORD(SERVICE_STOPPED), DWORD(0)));

  BYTE small[8];
  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, small, sizeof small, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, DWORD(sizeof(SERVICE_STATUS_PROCESS)));
  sim::FailNext("QueryServiceStatusEx", ERROR_ACCESS_DENIED);
  EXPECT_EQ(StateAndProcess(s).first, 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  CloseServiceHandle(s);
  CloseServiceHandle(m);
  sim::Reset();
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
  EXPECT_EQ(StateAndProcess(s), std::make_pair(DWORD(SERVICE_RUNNING), sim::OwnProcessId));
  EXPECT_EQ(GetCurrentProcessId(), sim::OwnProcessId);
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
