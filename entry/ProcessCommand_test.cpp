// The per-process command client: announcement, resolution of the argument
// to a process number, the two codes it sends, and every failure line.
#include <gtest/gtest.h>

#include <thread>

#include "entry/Entry.h"
#include "log/NamedLock.h"
#include "service/ControlCodes.h"
#include "tests/unit/TestKit.h"

using kit::Console;
using kit::LogMessages;
using kit::Lines;
using Codes = std::vector<DWORD>;

namespace {

const std::string Name = "(Quarn) Server Loader";
const std::string Issued = "The command was issued - see log entry to see if it succeeded.";
const std::string Failed = "The command failed - see log entry for details.";

// What a command sends: an interrogate, the operation, the process.
Codes Command(DWORD operation, DWORD processCode) {
  return {SERVICE_CONTROL_INTERROGATE, operation, processCode};
}

class ProcessCommand : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshGlobals();
    sim::AddService(Name, SERVICE_RUNNING);
  }
  void TearDown() override { EXPECT_EQ(sim::OpenScHandleCount(), 0); }

  // Program sections Process_0.. with the given names ("" for none).
  void Configure(const Lines& processNames) {
    std::string ini = "[Settings]\r\n";
    for (size_t i = 0; i < processNames.size(); ++i) {
      ini += "[Process_" + std::to_string(i) + "]\r\nAppName=C:\\Apps\\p" + std::to_string(i) +
             ".exe\r\n";
      if (!processNames[i].empty()) ini += "ProcessName=" + processNames[i] + "\r\n";
    }
    sim::WriteFile(kit::IniPath, ini);
  }

  // Runs one command quietly; the console lines land in console_.
  bool Send(unsigned code, const std::string& argument) {
    Console console;
    bool ok = SendProcessCommand(code, argument);
    console_ = console.Lines();
    return ok;
  }

  void ExpectRejected(const std::string& argument) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, SERVICE_RUNNING);
    Configure({"web"});
    EXPECT_FALSE(Send(OpStop, argument)) << "argument '" << argument << "'";
    Lines expected = {"Attempting to stop process " + argument + " ... ",
                      "Invalid process number or name: " + argument};
    EXPECT_EQ(console_, expected);
    EXPECT_EQ(LogMessages(), expected);
    EXPECT_EQ(sim::ScmCalls(), Lines{}) << "nothing may be sent for '" << argument << "'";
  }

  Lines console_;
};

TEST_F(ProcessCommand, StopThreeAnnouncesAndSendsOperationThenProcessCode) {
  EXPECT_TRUE(Send(OpStop, "3"));
  EXPECT_EQ(console_, (Lines{"Attempting to stop process 3 ... ", Issued}));
  EXPECT_EQ(LogMessages(), Lines{"Attempting to stop process 3 ... "}) << "the hint is console only";
  EXPECT_EQ(sim::ControlsSent(), Command(129, 131));
  const Lines one = {"OpenSCManagerA", "OpenServiceA", "ControlService 4", "ControlService 129",
                     "CloseServiceHandle service", "CloseServiceHandle manager"};
  Lines both = one;
  both.insert(both.end(), {"OpenSCManagerA", "OpenServiceA", "ControlService 131",
                           "CloseServiceHandle service", "CloseServiceHandle manager"});
  EXPECT_EQ(sim::ScmCalls(), both) << "each code opens and closes its own handles";
}

TEST_F(ProcessCommand, EveryOperationHasItsVerb) {
  const std::pair<unsigned, std::string> verbs[] = {
      {128, "start "},
      {129, "stop "},
      {130, "pause "},
      {131, "resume "},
      {132, "set priority to realtime on "},
      {133, "set priority to high on "},
      {134, "set priority to above normal on "},
      {135, "set priority to normal on "},
      {136, "set priority to below normal on "},
      {137, "set priority to low on "},
      {139, "hide "},
      {140, "show "},
  };
  for (const auto& v : verbs) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, SERVICE_RUNNING);
    EXPECT_TRUE(Send(v.first, "7"));
    EXPECT_EQ(console_, (Lines{"Attempting to " + v.second + "process 7 ... ", Issued}));
    EXPECT_EQ(sim::ControlsSent(), Command(v.first, 135));
  }
}

TEST_F(ProcessCommand, CodesWithoutAVerbAreUnknownAndSendNothing) {
  for (unsigned code : {138u, 127u, 141u, 0u, 2u}) {
    sim::Reset();
    kit::FreshGlobals();
    EXPECT_FALSE(Send(code, "1")) << code;
    EXPECT_EQ(console_, Lines{"Unknown command."});
    EXPECT_EQ(LogMessages(), Lines{"Unknown command."});
    EXPECT_EQ(sim::ScmCalls(), Lines{});
  }
}

TEST_F(ProcessCommand, ZeroIsProcessZeroAndNotAName) {
  Configure({"a", "b", "0"});
  EXPECT_TRUE(Send(OpStart, "0"));
  EXPECT_EQ(sim::ControlsSent(), Command(128, 128));
}

TEST_F(ProcessCommand, NamesResolveToTheFirstMatchingSectionSilently) {
  Configure({"", "db", "web", "web"});
  EXPECT_TRUE(Send(OpHide, "web"));
  EXPECT_EQ(console_, (Lines{"Attempting to hide process web ... ", Issued}));
  EXPECT_EQ(sim::ControlsSent(), Command(139, 130));
  EXPECT_EQ(LogMessages(), Lines{"Attempting to hide process web ... "})
      << "the name lookup writes no echo lines";
}

TEST_F(ProcessCommand, NamesMatchExactlySoCapitalsInTheFileCannotBeReached) {
  Configure({"Web"});
  EXPECT_FALSE(Send(OpHide, "web"));
  EXPECT_EQ(console_.back(), "Invalid process number or name: web");
}

TEST_F(ProcessCommand, ZeroValuedTextsOtherThanZeroAreNames) {
  Configure({"x", "00"});
  EXPECT_TRUE(Send(OpStop, "00"));
  EXPECT_EQ(sim::ControlsSent(), Command(129, 129));
  ExpectRejected("0x");
}

TEST_F(ProcessCommand, NumbersAreReadUpToTheFirstNonDigit) {
  for (const char* argument : {"3x", "+3", " 3", "\t3", "03", "3 4"}) {
    sim::Reset();
    kit::FreshGlobals();
    sim::AddService(Name, SERVICE_RUNNING);
    EXPECT_TRUE(Send(OpStop, argument)) << argument;
    EXPECT_EQ(sim::ControlsSent(), Command(129, 131)) << argument;
  }
}

TEST_F(ProcessCommand, NumbersWithinTheTableLimitAreSentEvenBeyondTheConfiguredCount) {
  Configure({"a"});
  EXPECT_TRUE(Send(OpStop, "126"));
  EXPECT_EQ(sim::ControlsSent(), Command(129, 254));
}

// Codes 1 to 4 would stop or pause the whole service, codes above 255 are
// refused after the operation was delivered: neither may leave the console.
TEST_F(ProcessCommand, NumbersOutsideTheTableAndUnknownNamesAreRejectedBeforeSending) {
  for (const char* argument :
       {"-1", "-127", "-124", "127", "128", "200", "2147483647", "2147483648", "-2147483648",
        "4294967424", "99999999999999999999", "nosuch", "", "-", "+", "-0x"})
    ExpectRejected(argument);
  ExpectRejected(std::string(600, 'n'));
}

TEST_F(ProcessCommand, AFailedFirstSendMeansTheSecondIsNeverSent) {
  sim::Reset();
  kit::FreshGlobals();
  sim::AddService(Name, SERVICE_STOPPED);
  EXPECT_FALSE(Send(OpStop, "2"));
  Lines expected = {"Attempting to stop process 2 ... ",
                    "Error (1062) The service could not execute the command.", Failed};
  EXPECT_EQ(console_, expected);
  EXPECT_EQ(LogMessages(), expected) << "the failed interrogate adds nothing";
  EXPECT_EQ(sim::ControlsSent(), (Codes{SERVICE_CONTROL_INTERROGATE, 129}));
}

TEST_F(ProcessCommand, WithoutTheServiceInstalledNothingIsDelivered) {
  sim::Reset();
  kit::FreshGlobals();
  EXPECT_FALSE(Send(OpShow, "1"));
  Lines expected = {"Attempting to show process 1 ... ",
                    "Error (1060): The service could not be opened.", Failed};
  EXPECT_EQ(console_, expected);
  EXPECT_EQ(LogMessages(), expected);
  EXPECT_EQ(sim::ControlsSent(), Codes{});
}

TEST_F(ProcessCommand, WithoutRightsNothingIsDelivered) {
  sim::SetAdministrator(false);
  EXPECT_FALSE(Send(OpLow, "1"));
  EXPECT_EQ(console_, (Lines{"Attempting to set priority to low on process 1 ... ",
                             "Error (5): The service manager could not be opened.", Failed}));
  EXPECT_EQ(sim::ScmCalls(), Lines{"OpenSCManagerA"});
}

// Two administrators at once: codes of two commands interleaved would pair
// one command's operation with the other's process. Whichever console came
// first made the lock, under another account.
TEST_F(ProcessCommand, AConsoleSendsNothingWhileAnotherSendsItsCommand) {
  HANDLE other = MakeOrOpenLock(CommandLockName(Name));
  ASSERT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
  std::thread console([&] { EXPECT_TRUE(Send(OpStop, "3")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(sim::ControlsSent(), Codes{});
  ReleaseMutex(other);
  console.join();
  CloseHandle(other);
  EXPECT_EQ(sim::ControlsSent(), Command(129, 131));
}

TEST(CommandLockName, OnePerServiceWhateverItsLetterCaseAndAValidObjectName) {
  const std::string odd(256, '\\');
  EXPECT_EQ(CommandLockName(Name), CommandLockName("(QUARN) server loader"));
  for (const std::string& other : {std::string("Other Loader"), odd, odd.substr(1)})
    EXPECT_NE(CommandLockName(Name), CommandLockName(other)) << other;
  EXPECT_EQ(CommandLockName(odd).find('\\', 7), std::string::npos);
  EXPECT_LT(CommandLockName(odd).size(), size_t(MAX_PATH));
}

}  // namespace
