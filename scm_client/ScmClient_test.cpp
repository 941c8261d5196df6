// The console-side service operations against the simulated service manager:
// their exact messages (console plain, log stamped), the calls they make in
// order, and the handles they leave behind (none).
#include <gtest/gtest.h>

#include "tests/unit/TestKit.h"

using kit::Console;
using kit::LogMessages;
using kit::Lines;

namespace {

const std::string Name = "(Quarn) Server Loader";

class ScmClient : public testing::Test {
 protected:
  void SetUp() override { kit::FreshGlobals(); }
  void TearDown() override { EXPECT_EQ(sim::OpenScHandleCount(), 0) << "handles left open"; }

  // The one message an operation reports, seen on the console and in the log.
  void ExpectReported(const Lines& console, const Lines& expected) {
    EXPECT_EQ(console, expected);
    EXPECT_EQ(LogMessages(), expected);
  }

  size_t CallCount(const std::string& call) { return kit::Count(sim::ScmCalls(), call); }
};

// --- Control-code sender ---

TEST_F(ScmClient, SendControlDeliversTheCodeSilentlyAndClosesServiceThenManager) {
  sim::AddService(Name, SERVICE_RUNNING);
  Console console;
  EXPECT_TRUE(Service.SendControl(SERVICE_CONTROL_PAUSE));
  EXPECT_EQ(console.Lines(), Lines{});
  EXPECT_EQ(sim::ReadFile(kit::LogPath), "");
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "OpenServiceA", "ControlService 2",
                                    "CloseServiceHandle service", "CloseServiceHandle manager"}));
  EXPECT_EQ(Service.Status.dwCurrentState, SERVICE_PAUSED) << "the answer lands in Status";
}

TEST_F(ScmClient, SendControlPassesAnyCodeUnchanged) {
  sim::AddService(Name, SERVICE_RUNNING);
  EXPECT_TRUE(Service.SendControl(200));
  EXPECT_EQ(sim::ControlsSent(), std::vector<DWORD>{200});
}

TEST_F(ScmClient, SendControlWithoutRightsReportsTheManagerAndTriesNothingElse) {
  sim::AddService(Name, SERVICE_RUNNING);
  sim::SetAdministrator(false);
  Console console;
  EXPECT_FALSE(Service.SendControl(SERVICE_CONTROL_PAUSE));
  ExpectReported(console.Lines(), {"Error (5): The service manager could not be opened."});
  EXPECT_EQ(sim::ScmCalls(), Lines{"OpenSCManagerA"});
}

TEST_F(ScmClient, SendControlToAMissingServiceClosesTheManager) {
  Console console;
  EXPECT_FALSE(Service.SendControl(SERVICE_CONTROL_PAUSE));
  ExpectReported(console.Lines(), {"Error (1060): The service could not be opened."});
  EXPECT_EQ(sim::ScmCalls(),
            (Lines{"OpenSCManagerA", "OpenServiceA", "CloseServiceHandle manager"}));
}

TEST_F(ScmClient, SendControlToAStoppedServiceClosesBothHandles) {
  sim::AddService(Name, SERVICE_STOPPED);
  Console console;
  EXPECT_FALSE(Service.SendControl(129));
  ExpectReported(console.Lines(), {"Error (1062) The service could not execute the command."});
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "OpenServiceA", "ControlService 129",
                                    "CloseServiceHandle service", "CloseServiceHandle manager"}));
}

TEST_F(ScmClient, SendControlRefusedByTheManagerIsReportedLikeAnyFailure) {
  sim::AddService(Name, SERVICE_RUNNING);
  Console console;
  EXPECT_FALSE(Service.SendControl(300));
  ExpectReported(console.Lines(), {"Error (87) The service could not execute the command."});
}

TEST_F(ScmClient, SendControlUsesTheConfiguredName) {
  Service.Name = "Other Name";
  sim::AddService("Other Name", SERVICE_RUNNING);
  EXPECT_TRUE(Service.SendControl(SERVICE_CONTROL_CONTINUE));
}

// --- Install ---

TEST_F(ScmClient, InstallRegistersAnInteractiveAutoStartService) {
  Console console;
  EXPECT_TRUE(Service.Install());
  EXPECT_EQ(console.Lines(), (Lines{"", "*** The service will be Interactive ***", "",
                                    "The service (Quarn) Server Loader was successfully installed."}));
  EXPECT_EQ(LogMessages(), (Lines{"*** The service will be Interactive ***",
                                  "The service (Quarn) Server Loader was successfully installed."}));
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "CreateServiceA",
                                    "CloseServiceHandle service", "CloseServiceHandle manager"}));

  ASSERT_TRUE(sim::ServiceExists(Name));
  sim::ServiceConfig c = sim::Service(Name);
  EXPECT_EQ(c.name, Name);
  EXPECT_EQ(c.displayName, Name);
  EXPECT_EQ(c.binaryPath, "C:\\QuarnLoader\\QuarnLoader.exe");
  EXPECT_EQ(c.managerAccess, DWORD(SC_MANAGER_CREATE_SERVICE));
  EXPECT_EQ(c.desiredAccess, DWORD(SERVICE_ALL_ACCESS));
  EXPECT_EQ(c.serviceType, 0x110u);
  EXPECT_EQ(c.startType, DWORD(SERVICE_AUTO_START));
  EXPECT_EQ(c.errorControl, DWORD(SERVICE_ERROR_NORMAL));
  EXPECT_TRUE(c.loadOrderGroupNull);
  EXPECT_TRUE(c.tagNull);
  EXPECT_TRUE(c.dependenciesNull);
  EXPECT_TRUE(c.passwordNull);
  EXPECT_EQ(c.account, "") << "runs as the local system account";
}

TEST_F(ScmClient, InstallWithoutUserInterfaceRegistersAPlainOwnProcessService) {
  Service.Interactive = false;
  Console console;
  EXPECT_TRUE(Service.Install());
  EXPECT_EQ(console.Lines(), (Lines{"", "*** The service will not be interactive ***", "",
                                    "The service (Quarn) Server Loader was successfully installed."}));
  EXPECT_EQ(sim::Service(Name).serviceType, 0x10u);
}

TEST_F(ScmClient, InstallTwiceLeavesTheFirstRegistrationAlone) {
  {
    Console quiet;
    ASSERT_TRUE(Service.Install());
  }
  Service.Interactive = false;
  size_t logFrom = kit::LogLines().size();
  Console console;
  EXPECT_FALSE(Service.Install());
  EXPECT_EQ(console.Lines(), (Lines{"", "*** The service will not be interactive ***", "",
                                    "The service is already installed."}));
  EXPECT_EQ(LogMessages(logFrom), (Lines{"*** The service will not be interactive ***",
                                         "The service is already installed."}));
  EXPECT_EQ(sim::Service(Name).serviceType, 0x110u);
}

TEST_F(ScmClient, InstallWithoutRightsPrintsOnlyTheManagerError) {
  sim::SetAdministrator(false);
  Console console;
  EXPECT_FALSE(Service.Install());
  ExpectReported(console.Lines(), {"Error (5) Could not open the Service Manager."});
  EXPECT_FALSE(sim::ServiceExists(Name));
}

TEST_F(ScmClient, InstallReportsAnyOtherCreationError) {
  sim::FailNext("CreateServiceA", ERROR_INVALID_NAME);
  Console console;
  EXPECT_FALSE(Service.Install());
  Lines lines = console.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "Error (123) Could not install the Service.");
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "CreateServiceA",
                                    "CloseServiceHandle manager"}));
}

TEST_F(ScmClient, InstallQuotesAPathWithABlankOnly) {
  sim::SetModulePath("C:\\Program Files\\Quarn Loader\\QuarnLoader.exe");
  Service.SetUpPaths();
  {
    Console quiet;
    ASSERT_TRUE(Service.Install());
  }
  EXPECT_EQ(sim::Service(Name).binaryPath, "\"C:\\Program Files\\Quarn Loader\\QuarnLoader.exe\"");
}

TEST_F(ScmClient, InstallRegistersTheFixedFileNameWhateverTheRunningExecutableIsCalled) {
  sim::SetModulePath("D:\\Tools\\renamed.exe");
  Service.SetUpPaths();
  {
    Console quiet;
    ASSERT_TRUE(Service.Install());
  }
  EXPECT_EQ(sim::Service(Name).binaryPath, "D:\\Tools\\QuarnLoader.exe");
}

// --- Remove ---

TEST_F(ScmClient, RemoveOfAStoppedServiceSendsNoStop) {
  sim::AddService(Name, SERVICE_STOPPED);
  Console console;
  EXPECT_TRUE(Service.Remove());
  ExpectReported(console.Lines(), {"The service (Quarn) Server Loader was successfully removed."});
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus",
                                    "DeleteService", "CloseServiceHandle service",
                                    "CloseServiceHandle manager"}));
  EXPECT_FALSE(sim::ServiceExists(Name));
}

TEST_F(ScmClient, RemoveOfARunningOrPausedServiceStopsItFirstWithoutWaiting) {
  for (DWORD state : {DWORD(SERVICE_RUNNING), DWORD(SERVICE_PAUSED)}) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, state);
    sim::ScriptServiceStates(Name, {state});   // it does not stop at once
    Console console;
    EXPECT_TRUE(Service.Remove());
    ExpectReported(console.Lines(), {"The service (Quarn) Server Loader was successfully removed."});
    EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus",
                                      "ControlService 1", "DeleteService",
                                      "CloseServiceHandle service", "CloseServiceHandle manager"}))
        << "state " << state;
  }
}

TEST_F(ScmClient, RemoveFailuresEachReportOneMessageAndCloseWhatWasOpened) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string message;
    Lines calls;
    bool stillRegistered;
  };
  const Lines openBoth = {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus"};
  const Lines closeBoth = {"CloseServiceHandle service", "CloseServiceHandle manager"};
  auto join = [](Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  std::vector<Case> cases = {
      {"no rights", [] { sim::AddService(Name, SERVICE_STOPPED); sim::SetAdministrator(false); },
       "Error (5) Could not open the Service Manager.", {"OpenSCManagerA"}, true},
      {"not installed", [] {}, "Error (1060) Could not open the Service.",
       {"OpenSCManagerA", "OpenServiceA", "CloseServiceHandle manager"}, false},
      {"query fails",
       [] { sim::AddService(Name, SERVICE_STOPPED); sim::FailNext("QueryServiceStatus", 6); },
       "Error (6) Could not query the Service.", join(openBoth, closeBoth), true},
      {"stop refused",
       [] { sim::AddService(Name, SERVICE_RUNNING); sim::FailNext("ControlService", 1061); },
       "Error (1061) Could not stop the Service.",
       join(join(openBoth, {"ControlService 1"}), closeBoth), true},
      {"marked for delete",
       [] { sim::AddService(Name, SERVICE_STOPPED); sim::FailNext("DeleteService", 1072); },
       "Error (1072) Could not remove the service. Reason: The service is still running.",
       join(join(openBoth, {"DeleteService"}), closeBoth), true},
      {"other delete error",
       [] { sim::AddService(Name, SERVICE_STOPPED); sim::FailNext("DeleteService", 5); },
       "Error (5) Could not remove the service. Reason: See error code.",
       join(join(openBoth, {"DeleteService"}), closeBoth), true},
  };
  for (const Case& c : cases) {
    sim::Reset();
    kit::FreshGlobals();
    c.arrange();
    Console console;
    EXPECT_FALSE(Service.Remove()) << c.what;
    ExpectReported(console.Lines(), {c.message});
    EXPECT_EQ(sim::ScmCalls(), c.calls) << c.what;
    EXPECT_EQ(sim::ServiceExists(Name), c.stillRegistered) << c.what;
    EXPECT_EQ(sim::OpenScHandleCount(), 0) << c.what;
  }
}

// --- Start and stop ---

TEST_F(ScmClient, StartWaitsForRunningPollingOnceASecond) {
  sim::AddService(Name, SERVICE_STOPPED);
  sim::ScriptServiceStates(Name, {SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_START_PENDING,
                                  SERVICE_RUNNING});
  Console console;
  EXPECT_TRUE(Service.Start());
  ExpectReported(console.Lines(), {"The service was successfully started."});
  EXPECT_EQ(sim::ScmCalls(),
            (Lines{"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "StartServiceA",
                   "QueryServiceStatus", "Sleep 1000", "QueryServiceStatus", "Sleep 1000",
                   "QueryServiceStatus", "CloseServiceHandle service",
                   "CloseServiceHandle manager"}));
}

TEST_F(ScmClient, StartThatStaysPendingGivesUpAfterFourQueriesAndThreeSleeps) {
  sim::AddService(Name, SERVICE_STOPPED);
  sim::ScriptServiceStates(Name, {SERVICE_STOPPED, SERVICE_START_PENDING});
  Console console;
  EXPECT_FALSE(Service.Start());
  ExpectReported(console.Lines(), {"The service failed to start within the allowed time interval."});
  Lines calls = sim::ScmCalls();
  EXPECT_EQ(kit::Count(calls, "QueryServiceStatus"), 1u + 4u);
  EXPECT_EQ(kit::Count(calls, "Sleep 1000"), 3u);
  EXPECT_EQ(calls.back(), "CloseServiceHandle manager");
}

TEST_F(ScmClient, StartEndsTheWaitAtOnceWhenTheServiceFallsBackToStopped) {
  sim::AddService(Name, SERVICE_STOPPED);
  sim::ScriptServiceStates(Name, {SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_STOPPED});
  Console console;
  EXPECT_FALSE(Service.Start());
  ExpectReported(console.Lines(), {"The service failed to start within the allowed time interval."});
  EXPECT_EQ(CallCount("Sleep 1000"), 1u);
  EXPECT_EQ(CallCount("QueryServiceStatus"), 3u);
}

TEST_F(ScmClient, StartOfARunningOrPausedServiceMakesNoRequest) {
  const std::pair<DWORD, const char*> cases[] = {{SERVICE_RUNNING, "The service is running."},
                                                 {SERVICE_PAUSED, "The service is paused."}};
  for (const auto& c : cases) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, c.first);
    Console console;
    EXPECT_TRUE(Service.Start());
    ExpectReported(console.Lines(), {c.second});
    EXPECT_EQ(CallCount("StartServiceA"), 0u);
  }
}

TEST_F(ScmClient, StartRequestRefused) {
  sim::AddService(Name, SERVICE_STOPPED);
  sim::FailNext("StartServiceA", ERROR_SERVICE_DISABLED);
  Console console;
  EXPECT_FALSE(Service.Start());
  ExpectReported(console.Lines(), {"Error (1058) The service failed to start."});
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus",
                                    "StartServiceA", "CloseServiceHandle service",
                                    "CloseServiceHandle manager"}));
}

TEST_F(ScmClient, StopWaitsForStoppedPollingOnceASecond) {
  sim::AddService(Name, SERVICE_RUNNING);
  sim::ScriptServiceStates(Name, {SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED});
  Console console;
  EXPECT_TRUE(Service.Stop());
  ExpectReported(console.Lines(), {"The service was successfully stopped."});
  EXPECT_EQ(sim::ScmCalls(),
            (Lines{"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "ControlService 1",
                   "QueryServiceStatus", "Sleep 1000", "QueryServiceStatus",
                   "CloseServiceHandle service", "CloseServiceHandle manager"}));
}

TEST_F(ScmClient, StopThatStaysPendingGivesUpAfterFiveQueriesAndFourSleeps) {
  sim::AddService(Name, SERVICE_RUNNING);
  sim::ScriptServiceStates(Name, {SERVICE_RUNNING, SERVICE_STOP_PENDING});
  Console console;
  EXPECT_FALSE(Service.Stop());
  ExpectReported(console.Lines(), {"The service failed to stop within the allowed time interval."});
  EXPECT_EQ(CallCount("QueryServiceStatus"), 1u + 5u);
  EXPECT_EQ(CallCount("Sleep 1000"), 4u);
}

TEST_F(ScmClient, StopOfAStoppedServiceMakesNoRequest) {
  sim::AddService(Name, SERVICE_STOPPED);
  Console console;
  EXPECT_TRUE(Service.Stop());
  ExpectReported(console.Lines(), {"The service is not running."});
  EXPECT_EQ(CallCount("ControlService 1"), 0u);
}

TEST_F(ScmClient, StopRequestRefused) {
  sim::AddService(Name, SERVICE_RUNNING);
  sim::FailNext("ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  Console console;
  EXPECT_FALSE(Service.Stop());
  ExpectReported(console.Lines(), {"Error (1061) Could not control the Service."});
  EXPECT_EQ(CallCount("QueryServiceStatus"), 1u);
}

TEST_F(ScmClient, StartAndStopShareTheOpeningFailures) {
  using Op = bool (tclService::*)();
  for (Op op : {Op(&tclService::Start), Op(&tclService::Stop)}) {
    struct Case {
      std::function<void()> arrange;
      std::string message;
      Lines calls;
    };
    std::vector<Case> cases = {
        {[] { sim::SetAdministrator(false); }, "Error (5) Could not open the Service Manager.",
         {"OpenSCManagerA"}},
        {[] {}, "Error (1060) Could not open the Service.",
         {"OpenSCManagerA", "OpenServiceA", "CloseServiceHandle manager"}},
        {[] { sim::AddService(Name, SERVICE_RUNNING); sim::FailNext("QueryServiceStatus", 6); },
         "Error (6) Could not query the Service.",
         {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "CloseServiceHandle service",
          "CloseServiceHandle manager"}},
    };
    for (const Case& c : cases) {
      sim::Reset();
      kit::FreshGlobals();
      c.arrange();
      Console console;
      EXPECT_FALSE((Service.*op)());
      ExpectReported(console.Lines(), {c.message});
      EXPECT_EQ(sim::ScmCalls(), c.calls);
    }
  }
}

}  // namespace
