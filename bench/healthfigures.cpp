// The health check's start period on the simulated platform's virtual clock,
// where ten launches of a server that opens its port 45 s after each start
// take a second instead of twenty minutes. Prints one "key=value" line per
// start period: launches, restarts the check caused, and the virtual time.
//
//   healthfigures [LAUNCHES]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "supervision/tclPrcList.h"

namespace {

const char* const App = "C:\\Srv\\slow.exe";
const uint16_t Port = 8080;
const uint64_t OpensAfter = 45000;
const int64_t RunsFor = 120000;   // then it exits by itself: the next launch

struct Figures {
  int launches = 0;
  int byCheck = 0;
  uint64_t virtualMs = 0;
};

int CountLines(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::string::size_type at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1))
    ++n;
  return n;
}

Figures Run(uint32_t startPeriod, int launches) {
  sim::Reset();
  sim::TicksFollowClock(true);
  Log.SetPath("C:\\QuarnLoader\\QuarnLoader.log");
  sim::Program slow;
  slow.hasWindow = false;
  slow.exitAfterMs = RunsFor;
  sim::AddProgram(App, slow);
  PrcList.Allocate(1);
  tclPrc& record = PrcList.Records[0];
  record.Settings.Launch.AppName = App;
  record.Settings.Launch.FullCommandLine = std::string(App) + " ";
  record.Settings.Launch.StartDir = "C:\\Srv";
  record.Settings.AutoRestart = true;
  record.Settings.Health.Kind = tclHealthKind::Tcp;
  record.Settings.Health.Port = Port;
  record.Settings.Health.StartPeriod = startPeriod;
  PrcList.StartAll();
  DWORD child = 0;
  uint64_t launched = 0;
  int seen = 0;
  while (seen <= launches) {   // until the run of the last one counted has ended
    std::vector<sim::LaunchRecord> all = sim::Launches();
    if (!all.empty() && all.back().processId != child) {
      child = all.back().processId;
      launched = sim::Now();
      ++seen;
    }
    if (sim::Now() - launched >= OpensAfter)
      sim::Listen(Port, sim::Listener());
    else
      sim::StopListening(Port);
    PrcList.CheckAll();
  }
  Figures f;
  f.launches = launches;
  std::string log = sim::ReadFile("C:\\QuarnLoader\\QuarnLoader.log");
  f.byCheck = CountLines(log, "The program failed its health check");
  f.virtualMs = sim::Now();
  PrcList.Clear();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int launches = argc > 1 ? atoi(argv[1]) : 10;
  for (uint32_t period : {60000u, 0u}) {
    Figures f = Run(period, launches);
    printf("HealthStartPeriod=%u launches=%d restarts_by_check=%d virtual_ms=%llu\n", period,
           f.launches, f.byCheck, (unsigned long long)f.virtualMs);
  }
  return 0;
}
