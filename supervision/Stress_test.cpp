// The supervision loop and the control thread working on the same records at
// once. Meant to be run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "tests/unit/TestKit.h"
#include "supervision/tclPrcList.h"

namespace {

const int32_t Records = 6;
const int Operations = 3000;

std::string AppOf(int n) { return "C:\\Srv\\stress" + std::to_string(n) + ".exe"; }

// A mix of children that crash, hang, ignore the quit message or have no window.
sim::Program ProgramFor(int n) {
  sim::Program p;
  switch (n % 3) {
    case 0: p.exitAfterMs = 700 + 100 * n; break;
    case 1: p.hangAfterMs = 1500; break;
    default: break;
  }
  p.ignoresQuit = n % 2 == 1;
  p.quitTakesMs = 30 * n;
  p.hasWindow = n != 5;
  return p;
}

void ConfigureTable() {
  kit::FreshTable(Records);
  PrcList.RestartInterval = 60;
  for (int n = 0; n < Records; ++n) {
    tclPrc& r = PrcList.Records[n];
    kit::Configure(r, AppOf(n), ProgramFor(n));
    r.Settings.NumOfRespChecks = 1 + n % 2;
    r.Settings.StartPause = n % 2 == 0 ? 0 : 50;
    r.Settings.StopPause = n % 3 == 2 ? 0 : 100;
    r.Settings.ShowCommand = n == 5 ? SW_HIDE : SW_SHOWNA;
    r.Settings.PrcFileLogging = n != 4;
  }
}

// One random control, as the control handler would forward it; numbers are
// sometimes out of range.
void RandomControl(std::mt19937& rng) {
  int32_t n = int32_t(rng() % (Records + 2)) - 1;
  const uint32_t classes[] = {IDLE_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS,
                              BELOW_NORMAL_PRIORITY_CLASS};
  switch (rng() % 8) {
    case 0: PrcList.Start(n); break;
    case 1: PrcList.Stop(n, false); break;
    case 2: PrcList.Stop(n, true); break;
    case 3: PrcList.ShowHide(n, rng() % 2 == 0); break;
    case 4: PrcList.SetPriority(n, classes[rng() % 4]); break;
    case 5: PrcList.Pause(n); break;
    case 6: PrcList.Resume(n); break;
    default: PrcList.IsRunning(n); break;
  }
}

TEST(SupervisionStress, LoopAndControlsShareTheRecordsSafely) {
  kit::FreshLog();
  ConfigureTable();
  PrcList.StartAll();

  std::atomic<bool> done{false};
  std::atomic<int> passes{0};
  std::thread loop([&] {
    while (!done) {
      PrcList.CheckAll();
      ++passes;
    }
  });
  std::thread controls([&] {
    std::mt19937 rng(20070305);
    for (int i = 0; i < Operations; ++i) {
      RandomControl(rng);
      // Keep the loop going alongside, however the threads are scheduled.
      if (i % 8 == 0) {
        int target = passes + 1;
        kit::WaitUntil([&] { return passes >= target; });
      }
    }
    done = true;
  });
  controls.join();
  loop.join();
  EXPECT_GT(passes.load(), 0);

  // Every record is settled and tracks exactly the children that live.
  EXPECT_FALSE(PrcList.StartingAll);
  std::map<std::string, int> liveByCommandLine;
  std::vector<sim::LaunchRecord> launches = sim::Launches();
  std::map<DWORD, std::string> commandLineOf;
  for (const sim::LaunchRecord& l : launches)
    if (l.succeeded) commandLineOf[l.processId] = l.commandLine;
  for (DWORD id : sim::LiveProcessIds()) ++liveByCommandLine[commandLineOf[id]];
  for (int n = 0; n < Records; ++n) {
    SCOPED_TRACE(n);
    const tclPrc& r = PrcList.Records[n];
    EXPECT_FALSE(r.Busy);
    EXPECT_EQ(liveByCommandLine[r.Settings.Launch.FullCommandLine], PrcList.IsRunning(n) ? 1 : 0);
  }
  EXPECT_LE(sim::OpenHandleCount(), Records);  // at most one per record
  EXPECT_EQ(sim::InheritableHandleCount(), 0);

  // Every line is whole and one of the supervision's own.
  static const std::regex known(
      "(Process \\([0-5]\\): (Attempting to restart program|Program is not responding): "
      "C:\\\\Srv\\\\stress[0-5]\\.exe)|"
      "((Started program|Stopped process|Terminated process|Stop failed:|Terminate failed:) "
      "C:\\\\Srv\\\\stress[0-5]\\.exe)|"
      "(The program could not be restarted at this time\\.)|"
      "(Warning: The window setting cannot be changed for this process\\.)");
  kit::Lines log = kit::LogMessages();
  for (const std::string& line : log) EXPECT_TRUE(std::regex_match(line, known)) << line;

  // Each launch and each termination was logged once, except for the silent one.
  for (int n = 0; n < Records; ++n) {
    SCOPED_TRACE(n);
    const std::string app = AppOf(n);
    int started = 0, terminated = 0;
    for (const sim::LaunchRecord& l : launches) {
      if (!l.succeeded || l.commandLine != PrcList.Records[n].Settings.Launch.FullCommandLine)
        continue;
      ++started;
      if (sim::Process(l.processId).terminated) ++terminated;
    }
    long startedLines = std::count(log.begin(), log.end(), "Started program " + app);
    long terminatedLines = std::count(log.begin(), log.end(), "Terminated process " + app);
    if (n == 4) {
      EXPECT_EQ(startedLines + terminatedLines, 0);
      continue;
    }
    EXPECT_GT(started, 0);
    EXPECT_EQ(startedLines, started);
    EXPECT_EQ(terminatedLines, terminated);
  }

  // And everything can still be stopped.
  PrcList.StopAll(true);
  EXPECT_TRUE(sim::LiveProcessIds().empty());
  EXPECT_LE(sim::OpenHandleCount(), Records);
}

}  // namespace
