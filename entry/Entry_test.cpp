// The entry function: start-up, banner, usage, the argument-count rules, the
// command tables, the result message and the exit status, in both roles.
#include <gtest/gtest.h>

#include <fstream>

#include "entry/Entry.h"
#include "tests/unit/TestKit.h"

using kit::Console;
using kit::LogMessages;
using kit::Lines;
using Codes = std::vector<DWORD>;

namespace {

const std::string Name = "(Quarn) Server Loader";
const std::string Issued = "The command was issued - see log entry to see if it succeeded.";

// The usage text as the administrator sees it; the end-to-end tests expect
// the same file.
Lines ExpectedUsage() {
  std::ifstream in(QL_SOURCE_DIR "/tests/expected_usage.txt");
  Lines lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const Lines Usage = ExpectedUsage();

Lines Join(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class EntryTest : public testing::Test {
 protected:
  void SetUp() override { kit::FreshGlobals(); }

  // Runs the entry with the program path and the given arguments; the
  // console lines after the banner land in output_.
  int Run(const Lines& arguments) {
    std::vector<std::string> texts = {"C:\\QuarnLoader\\QuarnLoader.exe"};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& t : texts) argv.push_back(&t[0]);
    argv.push_back(nullptr);
    Console console;
    int status = Entry(int(texts.size()), argv.data());
    Lines all = console.Lines();
    banner_.assign(all.begin(), all.begin() + std::min<size_t>(4, all.size()));
    output_.assign(all.begin() + std::min<size_t>(4, all.size()), all.end());
    return status;
  }

  Lines banner_, output_;
};

TEST_F(EntryTest, BannerIsFourLinesWithTheVersion) {
  Run({"-bogus"});
  ASSERT_EQ(banner_.size(), 4u);
  EXPECT_EQ(banner_[0], "###");
  EXPECT_EQ(banner_[1], "### (Quarn) Server Loader version " + VersionText);
  EXPECT_EQ(banner_[2].compare(0, 4, "### "), 0) << banner_[2];
  EXPECT_GT(banner_[2].size(), 4u);
  EXPECT_EQ(banner_[3], "###");
}

TEST_F(EntryTest, NoArgumentFromAConsoleShowsTheUsageAndLogsNothing) {
  ASSERT_EQ(Usage.size(), 24u) << "tests/expected_usage.txt";
  EXPECT_EQ(Run({}), -1);
  EXPECT_EQ(output_, Usage);
  EXPECT_EQ(sim::ReadFile(kit::LogPath), "");
}

TEST_F(EntryTest, DispatcherFailingOtherwiseIsReportedWithoutUsage) {
  sim::FailNext("StartServiceCtrlDispatcherA", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Run({}), -1);
  const Lines expected = {"Error (87): The services event dispatcher could not be started."};
  EXPECT_EQ(output_, expected);
  EXPECT_EQ(LogMessages(), expected);
}

TEST_F(EntryTest, ThreeOrMoreArgumentsAreTooManyOnTheConsoleOnly) {
  for (const Lines& args : {Lines{"-stop", "1", "2"}, Lines{"-install", "a", "b", "c"}}) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, SERVICE_RUNNING);
    EXPECT_EQ(Run(args), -1);
    EXPECT_EQ(output_, Join({"Too many command options."}, Usage));
    EXPECT_EQ(sim::ReadFile(kit::LogPath), "");
    EXPECT_EQ(sim::ScmCalls(), Lines{});
  }
}

TEST_F(EntryTest, OptionsOutsideTheTableForTheirCountAreInvalid) {
  const Lines invalid[] = {{"-bogus"},  {""},         {"install"},     {"-instal"},
                           {"-install "}, {"--install"}, {"-install", "now"}, {"-remove", "1"},
                           {"-hide"},   {"-real"},    {"-bogus", "1"}, {"", ""},
                           {"stop", "1"}, {"-status", "x"}, {"-reload", "x"}};
  for (const Lines& args : invalid) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, SERVICE_RUNNING);
    EXPECT_EQ(Run(args), -1) << args[0];
    EXPECT_EQ(output_, Join({"Invalid command option."}, Usage)) << args[0];
    EXPECT_EQ(LogMessages(), Lines{"Invalid command option."}) << args[0];
    EXPECT_EQ(sim::ScmCalls(), Lines{}) << args[0];
  }
}

// "-status": the service manager's state, then the status file as the
// service wrote it, or as an earlier run left it.
class StatusView : public EntryTest {
 protected:
  const char* const StatusPath = "C:\\QuarnLoader\\QuarnLoader.status";
  const std::string Header = "Service (Quarn) Server Loader: ";

  // A file in the documented form, by writer `writer` in service state `state`.
  void WriteStatusFile(DWORD writer, const std::string& state) {
    sim::WriteFile(StatusPath,
                   "QuarnLoader status 1\r\nWriter\t" + std::to_string(writer) +
                       "\r\nStarted\tMon Mar 05 09:04:05 2007\r\n"
                       "Written\tMon Mar 05 09:10:00 2007\r\nService\t" + state + "\r\n"
                       "Program\t0\tweb\trunning\t1000\tMon Mar 05 09:04:06 2007\t0\t0\r\n"
                       "Program\t1\t-\tpaused\t-\tMon Mar 05 09:04:05 2007\t0\t0\r\n"
                       "Program\t10\tdatabase\thung\t1012\tMon Mar 05 09:09:59 2007\t12\t2\r\n");
  }
  void RunningAs(DWORD processId) {
    sim::AddService(Name, SERVICE_RUNNING);
    sim::SetServiceProcessId(Name, processId);
  }
};

TEST_F(StatusView, ACurrentFileIsShownInAlignedRowsAndNothingIsLogged) {
  RunningAs(4242);
  WriteStatusFile(4242, "running");
  EXPECT_EQ(Run({"-STATUS"}), 0);
  const Lines expected = {
      Header + "running",
      "Status written Mon Mar 05 09:10:00 2007",
      " 0  web       running  1000  Mon Mar 05 09:04:06 2007   0",
      " 1  -         paused      -  Mon Mar 05 09:04:05 2007   0",
      "10  database  hung     1012  Mon Mar 05 09:09:59 2007  12"};
  EXPECT_EQ(output_, expected);
  EXPECT_EQ(sim::ReadFile(kit::LogPath), "");
  EXPECT_EQ(sim::ScmCalls(), (Lines{"OpenSCManagerA", "OpenServiceA", "QueryServiceStatusEx",
                                    "CloseServiceHandle service", "CloseServiceHandle manager"}));
  EXPECT_EQ(sim::OpenScHandleCount(), 0);

  sim::AddService(Name, SERVICE_PAUSED);
  EXPECT_EQ(Run({"-status"}), 0);
  EXPECT_EQ(output_[0], Header + "paused");
  EXPECT_EQ(output_[2], expected[2]) << "programs show their own state";
}

TEST_F(StatusView, AFileOfAnotherRunShowsEveryProgramStoppedWithANote) {
  const std::string note =
      "Note: written by an earlier run of the service (process 1111, started Mon Mar 05 09:04:05 "
      "2007), so every program shows stopped.";
  RunningAs(4242);
  WriteStatusFile(1111, "running");
  EXPECT_EQ(Run({"-status"}), 0);
  ASSERT_EQ(output_.size(), 6u);
  EXPECT_EQ(output_[2], note);
  EXPECT_EQ(output_[3], " 0  web       stopped  -  Mon Mar 05 09:04:06 2007   0");
  EXPECT_EQ(output_[5], "10  database  stopped  -  Mon Mar 05 09:09:59 2007  12");

  // Stopped: the file written at the stop is this run's last word; one that
  // says running was left by a service that ended without its stop.
  sim::AddService(Name, SERVICE_STOPPED);
  WriteStatusFile(4242, "stopped");
  EXPECT_EQ(Run({"-status"}), 0);
  ASSERT_EQ(output_.size(), 5u);
  EXPECT_EQ(output_[0], Header + "stopped");
  EXPECT_EQ(output_[2], " 0  web       stopped  -  Mon Mar 05 09:04:06 2007   0");
  WriteStatusFile(4242, "running");
  EXPECT_EQ(Run({"-status"}), 0);
  EXPECT_EQ(output_[2], "Note: written by an earlier run of the service (process 4242, started "
                        "Mon Mar 05 09:04:05 2007), so every program shows stopped.");
  EXPECT_EQ(sim::ReadFile(kit::LogPath), "");
}

TEST_F(StatusView, NoServiceOrNoReadableFileFailsWithAReportedMessage) {
  EXPECT_EQ(Run({"-status"}), -1);
  EXPECT_EQ(output_, (Lines{Header + "not installed",
                            "The service is not installed, so it has no status."}));
  EXPECT_EQ(LogMessages(), Lines{"The service is not installed, so it has no status."});

  sim::Reset();
  kit::FreshGlobals();
  RunningAs(4242);
  EXPECT_EQ(Run({"-status"}), -1);
  EXPECT_EQ(output_, (Lines{Header + "running",
                            std::string("No status file was found: ") + StatusPath}));

  sim::WriteFile(StatusPath, "QuarnLoader status 2\r\nWriter\t4242\r\n");
  EXPECT_EQ(Run({"-status"}), -1);
  EXPECT_EQ(output_.back(), std::string("The status file cannot be read: ") + StatusPath);

  sim::SetAdministrator(false);
  EXPECT_EQ(Run({"-status"}), -1);
  EXPECT_EQ(output_, Lines{"Error (5) Could not open the Service Manager."});
}

// "-reload" checks the file first, and prints only its own request's outcome;
// the success path needs the service itself and is shown end to end.
TEST_F(StatusView, ReloadFailsWithAReasonUnlessTheServiceAnswers) {
  const std::string Missing =
      std::string("The configuration was not reloaded: the file is missing: ") + kit::IniPath;
  const std::string CannotTell =
      std::string("The reload was asked for, but its outcome cannot be told from the status "
                  "file: ") + StatusPath;
  struct Case {
    DWORD state;          // 0: not installed
    DWORD refusal;        // the manager's error for the control
    std::string last;     // the console's last line
    DWORD writer = 4242;  // of the status file
  } cases[] = {
      {0, 0, "The service is not installed."},
      {SERVICE_STOPPED, 0, "The service is not running."},
      {SERVICE_RUNNING, ERROR_INVALID_SERVICE_CONTROL,
       "Error (1052) The service could not execute the command."},
      {SERVICE_RUNNING, 0, Missing},
      {SERVICE_RUNNING, 0, CannotTell},  // the file never showed the request
      {SERVICE_RUNNING, 0, CannotTell, 4243},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.last);
    sim::Reset();
    kit::FreshGlobals();
    if (c.last != Missing) sim::WriteFile(kit::IniPath, "");
    if (c.state != 0) sim::AddService(Name, c.state);
    sim::SetServiceProcessId(Name, 4242);
    if (c.refusal != 0) sim::FailNext("ControlService", c.refusal);
    WriteStatusFile(c.writer, "running");  // with an outcome from before the command
    sim::WriteFile(StatusPath, sim::ReadFile(StatusPath) +
                                   "Reload\t1\tAn older outcome.\r\nReloadAsked\t1\t1\t0\r\n");
    EXPECT_EQ(Run({"-reload"}), -1);
    EXPECT_EQ(output_, (Lines{"Attempting to reload the configuration ...", c.last}));
    EXPECT_EQ(sim::ScmCalls().empty(), c.last == Missing);
  }
}

// Request 3: answered by a reload begun after it, once ended; applying extends.
TEST(ReloadWaitTable, OnlyAReloadThatCoveredTheRequestAnswersIt) {
  const struct {
    uint32_t covered, budget;
    DWORD waited, limit, grown;
    ReloadWait verdict;
  } cases[] = {
      {3, 0, 250, 10000, 10000, ReloadWait::Answered},
      {2, 0, 250, 10000, 10000, ReloadWait::Waiting},        // an earlier request's reload
      {3, 40000, 250, 10000, 40000, ReloadWait::Waiting},    // ours, still applying
      {2, 0, 10000, 10000, 10000, ReloadWait::GaveUp},
      {3, 40000, 40000, 40000, 40000, ReloadWait::GaveUp},
  };
  for (const auto& c : cases) {
    StatusHeader file;
    file.ReloadsCovered = c.covered;
    file.ReloadBudget = c.budget;
    DWORD limit = c.limit;
    EXPECT_EQ(JudgeReloadWait(file, 3, c.waited, limit), c.verdict) << c.covered << " " << c.waited;
    EXPECT_EQ(limit, c.grown);
  }
}

TEST_F(EntryTest, ArgumentsAreLowerCasedBeforeComparison) {
  EXPECT_EQ(Run({"-INSTALL"}), 0);
  EXPECT_TRUE(sim::ServiceExists(Name));

  sim::Reset();
  kit::FreshGlobals();
  sim::AddService(Name, SERVICE_RUNNING);
  EXPECT_EQ(Run({"-Stop", "2"}), 0);
  EXPECT_EQ(sim::ControlsSent(), (Codes{SERVICE_CONTROL_INTERROGATE, 129, 130}));

  sim::Reset();
  kit::FreshGlobals();
  sim::AddService(Name, SERVICE_RUNNING);
  sim::WriteFile(kit::IniPath,
                 "[Process_0]\r\nAppName=C:\\a.exe\r\nProcessName=web\r\n");
  EXPECT_EQ(Run({"-HIDE", "WEB"}), 0);
  EXPECT_EQ(output_, (Lines{"Attempting to hide process web ... ", Issued}));
  EXPECT_EQ(sim::ControlsSent(), (Codes{SERVICE_CONTROL_INTERROGATE, 139, 128}));
}

// Letters beyond A to Z (here Latin capital A with grave, 0xC0) stay as they
// are, whatever the C library's locale would make of them.
TEST_F(EntryTest, OnlyAToZAreLowerCased) {
  sim::AddService(Name, SERVICE_RUNNING);
  sim::WriteFile(kit::IniPath,
                 "[Process_0]\r\nAppName=C:\\a.exe\r\nProcessName=x\r\n"
                 "[Process_1]\r\nAppName=C:\\b.exe\r\nProcessName=\xC0z\r\n");
  EXPECT_EQ(Run({"-show", "\xC0Z"}), 0);
  EXPECT_EQ(sim::ControlsSent(), (Codes{SERVICE_CONTROL_INTERROGATE, 140, 129}));
  EXPECT_EQ(Run({"-show", "\xE0z"}), -1);
}

TEST_F(EntryTest, ServiceCommandsAnnounceThemselvesAndMapTheirResult) {
  sim::AddService(Name, SERVICE_STOPPED);
  EXPECT_EQ(Run({"-remove"}), 0);
  EXPECT_EQ(output_, (Lines{"Attempting to remove service (Quarn) Server Loader ....",
                            "The service (Quarn) Server Loader was successfully removed."}));
  EXPECT_EQ(Run({"-remove"}), -1);
  EXPECT_EQ(output_, (Lines{"Attempting to remove service (Quarn) Server Loader ....",
                            "Error (1060) Could not open the Service."}));

  sim::AddService(Name, SERVICE_RUNNING);
  EXPECT_EQ(Run({"-start"}), 0);
  EXPECT_EQ(output_, (Lines{"Attempting to start the service ...", "The service is running."}));
  EXPECT_EQ(Run({"-stop"}), 0);
  EXPECT_EQ(output_,
            (Lines{"Attempting to stop the service ...", "The service was successfully stopped."}));
  sim::ScriptServiceStates(Name, {SERVICE_STOPPED, SERVICE_START_PENDING});
  EXPECT_EQ(Run({"-start"}), -1);
  EXPECT_EQ(output_, (Lines{"Attempting to start the service ...",
                            "The service failed to start within the allowed time interval."}));
}

TEST_F(EntryTest, InstallWritesTheVersionToTheLogOnlyAndRereadsTheUserInterface) {
  sim::WriteFile(kit::IniPath, "[Settings]\r\nUserInterface=no\r\n");
  EXPECT_EQ(Run({"-install"}), 0);
  EXPECT_EQ(output_, (Lines{"", "Attempting to install the service ...", "",
                            "*** The service will not be interactive ***", "",
                            "The service (Quarn) Server Loader was successfully installed."}));
  EXPECT_EQ(LogMessages(), (Lines{"Attempting to install the service ...",
                                  "Version is " + VersionText,
                                  "*** The service will not be interactive ***",
                                  "The service (Quarn) Server Loader was successfully installed."}));
  EXPECT_EQ(sim::Service(Name).serviceType, 0x10u);

  EXPECT_EQ(Run({"-install"}), -1);
  EXPECT_EQ(output_.back(), "The service is already installed.");
}

TEST_F(EntryTest, PauseAndResumeGiveTheHintOnTheConsoleOnly) {
  sim::AddService(Name, SERVICE_RUNNING);
  EXPECT_EQ(Run({"-pause"}), 0);
  EXPECT_EQ(output_, (Lines{"Attempting to pause the service ...", Issued}));
  EXPECT_EQ(LogMessages(), Lines{"Attempting to pause the service ..."});
  EXPECT_EQ(sim::ControlsSent(), Codes{SERVICE_CONTROL_PAUSE});

  size_t from = kit::LogLines().size();
  EXPECT_EQ(Run({"-resume"}), 0);
  EXPECT_EQ(output_, (Lines{"Attempting to resume the service ...", Issued}));
  EXPECT_EQ(LogMessages(from), Lines{"Attempting to resume the service ..."});
  EXPECT_EQ(sim::ControlsSent(), (Codes{SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE}));
}

TEST_F(EntryTest, PauseAndResumeFailuresAreReportedToBoth) {
  const std::pair<const char*, const char*> cases[] = {
      {"-pause", "The service could not be paused."},
      {"-resume", "The service could not be resumed."}};
  for (const auto& c : cases) {
    sim::Reset();
    kit::FreshGlobals();
    EXPECT_EQ(Run({c.first}), -1);
    Lines expected = {std::string("Attempting to ") + (c.first + 1) + " the service ...",
                      "Error (1060): The service could not be opened.", c.second};
    EXPECT_EQ(output_, expected);
    EXPECT_EQ(LogMessages(), expected);
  }
}

TEST_F(EntryTest, ProcessCommandsMapTheirResultToTheExitStatus) {
  sim::AddService(Name, SERVICE_RUNNING);
  EXPECT_EQ(Run({"-low", "4"}), 0);
  EXPECT_EQ(Run({"-low", "-4"}), -1);
  EXPECT_EQ(output_, (Lines{"Attempting to set priority to low on process -4 ... ",
                            "Invalid process number or name: -4"}));
  EXPECT_EQ(sim::ControlsSent(), (Codes{SERVICE_CONTROL_INTERROGATE, 137, 132}));
}

TEST_F(EntryTest, FilesLieBesideTheExecutableAndTheSettingsAreReadSilently) {
  sim::SetModulePath("D:\\Srv Dir\\QuarnLoader.exe");
  sim::WriteFile("D:\\Srv Dir\\QuarnLoader.ini", "[Settings]\r\nServiceName=My Service\r\n");
  sim::AddService("My Service", SERVICE_PAUSED);
  EXPECT_EQ(Run({"-resume"}), 0);
  EXPECT_EQ(Service.Directory, "D:\\Srv Dir\\");
  EXPECT_EQ(Service.Name, "My Service");
  EXPECT_STREQ(Service.NameBuffer, "My Service");
  // Read as messages, the line must also carry its stamp.
  Lines lines = kit::LogMessages(0, "D:\\Srv Dir\\QuarnLoader.log");
  ASSERT_EQ(lines.size(), 1u) << "no echo of the service settings";
  EXPECT_EQ(lines[0], "Attempting to resume the service ...");
  EXPECT_FALSE(sim::FileExists(kit::LogPath));
}

// The console role bounds the log too: the limit is read at start-up.
TEST_F(EntryTest, TheLogLimitIsReadSilentlyAtStartUpAndBoundsTheConsolesLines) {
  sim::WriteFile(kit::IniPath, "[Settings]\r\nLogMaxSize=1\r\nLogBackups=2\r\n");
  const std::string old = std::string(1000, 'x') + "\r\n";
  sim::WriteFile(kit::LogPath, old);
  sim::AddService(Name, SERVICE_PAUSED);
  EXPECT_EQ(Run({"-resume"}), 0);
  EXPECT_EQ(sim::ReadFile("C:\\QuarnLoader\\QuarnLoader.1.log"), old);
  EXPECT_EQ(LogMessages(), Lines{"Attempting to resume the service ..."});
}

// --- Service role ---

class EntryServiceRole : public EntryTest {
 protected:
  void StartEntry() {
    sim::SetStartedByServiceManager(true);
    thread_ = std::thread([this] {
      char path[] = "C:\\QuarnLoader\\QuarnLoader.exe";
      char* argv[] = {path, nullptr};
      status_ = Entry(1, argv);
      lastEventAtReturn_ = sim::LastEventReported();
      done_ = true;
    });
  }
  void TearDown() override {
    if (thread_.joinable()) {
      sim::DeliverControl(SERVICE_CONTROL_STOP);
      thread_.join();
    }
    sim::Reset();   // joins the simulated service main's thread
  }
  std::thread thread_;
  std::atomic<bool> done_{false};
  int status_ = 99;
  DWORD lastEventAtReturn_ = 0;
};

TEST_F(EntryServiceRole, RunsTheServiceUntilItStopsThenExitsZero) {
  Console console;
  StartEntry();
  ASSERT_TRUE(kit::WaitUntil([] { return kit::ReportsWithState(SERVICE_RUNNING) > 0; }));
  EXPECT_FALSE(done_);
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_STOP));
  thread_.join();
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(sim::StatusReports().back().dwCurrentState, DWORD(SERVICE_STOPPED));
  Lines out = console.Lines();
  ASSERT_EQ(out.size(), 4u) << "the banner, and nothing else";
}

// The stop reports stopped while the supervision pass is still going; the
// entry must not return (and the globals go away) before the service main has.
// Its last entry, written after stopped was reported, shows how far it got.
TEST_F(EntryServiceRole, WaitsForTheServiceMainBeforeReturning) {
  std::string ini = "[Settings]\r\nEventLog=yes\r\n";
  for (int i = 0; i < 60; ++i) {
    std::string app = "C:\\Apps\\p" + std::to_string(i) + ".exe";
    sim::Program program;
    program.exitAfterMs = 1;   // dies at once: every pass tries to restart it
    sim::AddProgram(app, program);
    ini += "[Process_" + std::to_string(i) + "]\r\nAppName=" + app + "\r\nStartPause=0\r\n";
  }
  sim::WriteFile(kit::IniPath, ini);
  StartEntry();   // its banner is left on the console: a failure's message must not be taken
  ASSERT_TRUE(kit::WaitUntil([] {
    return kit::CountPrefix(LogMessages(), "Process (59): Attempting to restart program") > 0;
  }));
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_STOP));
  thread_.join();
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(lastEventAtReturn_, 101u) << "the service's stopped entry";
}

}  // namespace
