// How a program is asked to quit: the requests each method delivers, the
// outcome line, and the console the program is started with.
#include "supervision/StopMethod.h"

#include <gtest/gtest.h>

#include <thread>

#include "supervision/tclPrc.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
using kit::LogMessages;
using kit::PrcTest;

// A console server: no message queue, ends when its handler sees Ctrl+C.
sim::Program ConsoleServer(int64_t exitsOnCtrlMs = 200) {
  sim::Program p;
  p.hasWindow = false;
  p.hasMessageQueue = false;
  p.exitsOnCtrlMs = exitsOnCtrlMs;
  p.exitCode = 7;
  return p;
}

// A windowed program that leaves only when its window is closed.
sim::Program ClosesOnlyItsWindow() {
  sim::Program p;
  p.ignoresQuit = true;
  p.exitsOnCloseMs = 300;
  return p;
}

TEST_F(PrcTest, EachStopMethodDeliversItsRequestsWithinOneGracePeriod) {
  const std::string stopped = "Stopped process C:\\Srv\\alpha.exe";
  const std::string terminated = "Terminated process C:\\Srv\\alpha.exe";
  const std::string failed = "Stop failed: C:\\Srv\\alpha.exe";
  struct Case {
    const char* what;
    tclStopMethod method;
    sim::Program program;
    DWORD flags;
    int quits, closes, events;
    Lines lines;   // after "Started program"
    DWORD exitCode;
  } cases[] = {
      {"quit, console server", tclStopMethod::Quit, ConsoleServer(), NORMAL_PRIORITY_CLASS,
       0, 0, 0, {failed, terminated}, 0},
      {"ctrlc, console server", tclStopMethod::CtrlC, ConsoleServer(),
       NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE, 0, 0, 1, {stopped}, 7},
      {"ctrlc, console server slower than the grace", tclStopMethod::CtrlC,
       ConsoleServer(1500), NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE, 0, 0, 1, {terminated},
       0},
      {"close, window closed only", tclStopMethod::Close, ClosesOnlyItsWindow(),
       NORMAL_PRIORITY_CLASS, 1, 1, 0, {stopped}, 0},
      {"ctrlc, window closed only", tclStopMethod::CtrlC, ClosesOnlyItsWindow(),
       NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE, 1, 1, 1, {stopped}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    kit::FreshLog();
    tclPrc r;
    kit::Configure(r, App, c.program);
    r.Settings.StopMethod = c.method;
    ASSERT_TRUE(r.Launch());
    DWORD child = kit::LastChildOf(r.Settings.Launch.FullCommandLine);
    uint64_t before = sim::Now();

    EXPECT_TRUE(r.Stop(false));
    EXPECT_LE(sim::Now() - before, 1000u) << "one grace period for all requests";
    EXPECT_EQ(sim::Launches().back().creationFlags, c.flags);
    sim::ProcessState s = sim::Process(child);
    EXPECT_FALSE(s.alive);
    EXPECT_EQ(s.quitMessages, c.quits);
    EXPECT_EQ(s.closeMessages, c.closes);
    EXPECT_EQ(s.ctrlEvents, c.events);
    EXPECT_EQ(s.exitCode, c.exitCode);
    Lines expected = {"Started program C:\\Srv\\alpha.exe"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(LogMessages(), expected);
    // The service's own copy of the event comes later: one routine takes it,
    // there for the process's life.
    EXPECT_FALSE(sim::EndedByConsoleEvent()) << "the service was ended by its own copy";
    EXPECT_LE(sim::ConsoleCtrlRoutineCount(), 1);
  }
}

// The service's copy of the first event comes after the second's was taken;
// a program started during an attach would share that console and its event.
TEST_F(PrcTest, ConsoleEventsEndNeitherTheServiceNorAProgramStartedMeanwhile) {
  tclPrc other;
  kit::Configure(rec, App, ConsoleServer());
  kit::Configure(other, "C:\\Srv\\beta.exe", ConsoleServer());
  rec.Settings.StopMethod = tclStopMethod::CtrlC;
  ASSERT_TRUE(rec.Launch());
  sim::HoldAt("GenerateConsoleCtrlEvent");
  std::thread stopper([&] { rec.Stop(false); });
  ASSERT_TRUE(sim::WaitHeld());   // attached to the program's console
  std::thread launcher([&] { other.Launch(); });
  kit::WaitUntil([] { return sim::Launches().size() == 2; }, 200);   // if it may
  sim::ReleaseHold();
  stopper.join();
  launcher.join();
  EXPECT_EQ(sim::Process(kit::LastChildOf(other.Settings.Launch.FullCommandLine)).ctrlEvents, 0);
  EXPECT_FALSE(sim::EndedByConsoleEvent());   // and every copy has come

  other.Settings.StopMethod = tclStopMethod::CtrlC;
  ASSERT_TRUE(rec.Launch() && other.Stop(false) && other.Launch());
  sim::HoldAt("HandlerRoutine");
  EXPECT_TRUE(rec.Stop(false));
  ASSERT_TRUE(sim::WaitHeld());
  EXPECT_TRUE(other.Stop(false));
  sim::ReleaseHold();
  EXPECT_FALSE(sim::EndedByConsoleEvent()) << "the service was ended by a late copy";
  EXPECT_EQ(sim::ConsoleCtrlRoutineCount(), 1);
}

}  // namespace
