// Health checks in the supervision pass, against the simulated loopback, on
// the virtual clock.
#include <gtest/gtest.h>

#include "supervision/StatusFile.h"
#include "supervision/tclPrcList.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;

const uint16_t Port = 8080;

std::string AppOf(int n) { return "C:\\Srv\\srv" + std::to_string(n) + ".exe"; }

std::string Prefix(int n) { return "Process (" + std::to_string(n) + "): "; }

class HealthTest : public testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { sim::Reset(); }

  // A new machine for each case of a table.
  void Fresh() {
    sim::Reset();
    kit::FreshLog();
    sim::TicksFollowClock(true);   // the checks time themselves with the ticks
    seen_ = 0;
  }

  // n window-less programs, each checked on its own port (Port + n), with
  // the defaults but for the settings given; all started.
  void Table(int32_t n, const tclHealthCheck& check) {
    kit::FreshTable(n);
    for (int32_t i = 0; i < n; ++i) {
      kit::Configure(PrcList.Records[i], AppOf(i), kit::Windowless());
      PrcList.Records[i].Health = check;
      PrcList.Records[i].Health.Port = uint16_t(Port + i);
    }
    PrcList.StartAll();
    NewLines();
  }

  static tclHealthCheck EveryPass(tclHealthKind kind, uint32_t retries) {
    tclHealthCheck check;
    check.Kind = kind;
    check.Interval = 0;
    check.StartPeriod = 0;
    check.Retries = retries;
    return check;
  }

  uint64_t Pass() {
    uint64_t before = sim::Now();
    PrcList.CheckAll();
    return sim::Now() - before;
  }

  Lines NewLines() {
    Lines all = kit::LogMessages();
    Lines fresh(all.begin() + std::min(seen_, all.size()), all.end());
    seen_ = all.size();
    return fresh;
  }

  std::string State(int n) { return ProgramStatuses(PrcList)[n].State; }

 private:
  size_t seen_ = 0;
};

// Failures in a row count up to HealthRetries; a success before that is
// reported once and starts the count again; reaching it stops the program as
// a hung one is, and the next pass starts it again.
TEST_F(HealthTest, FailuresInARowAreCountedUntilTheProgramIsStopped) {
  const std::string refused = "the connection was refused";
  const std::string stop = "The program failed its health check ";
  struct Case {
    uint32_t retries;
    std::vector<bool> listening;   // per pass
    std::vector<Lines> lines;      // per pass
    std::vector<std::string> states;
  } cases[] = {
      {3,
       {false, false, true, true},
       {{Prefix(0) + "Health check failed (1 of 3): " + refused},
        {Prefix(0) + "Health check failed (2 of 3): " + refused},
        {Prefix(0) + "Health check passed again."},
        {}},
       {"unhealthy", "unhealthy", "running", "running"}},
      {3,
       {false, false, false, false},
       {{Prefix(0) + "Health check failed (1 of 3): " + refused},
        {Prefix(0) + "Health check failed (2 of 3): " + refused},
        {Prefix(0) + "Health check failed (3 of 3): " + refused,
         Prefix(0) + stop + "3 times in a row: " + AppOf(0), "Stopped process " + AppOf(0)},
        {Prefix(0) + "Attempting to restart program: " + AppOf(0),
         "Started program " + AppOf(0)}},
       {"unhealthy", "unhealthy", "stopped", "running"}},
      {1,
       {true, false, true},
       {{},
        {Prefix(0) + "Health check failed (1 of 1): " + refused,
         Prefix(0) + stop + "1 times in a row: " + AppOf(0), "Stopped process " + AppOf(0)},
        {Prefix(0) + "Attempting to restart program: " + AppOf(0),
         "Started program " + AppOf(0)}},
       {"running", "stopped", "running"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retries);
    Fresh();
    Table(1, EveryPass(tclHealthKind::Tcp, c.retries));
    for (size_t pass = 0; pass < c.listening.size(); ++pass) {
      SCOPED_TRACE(pass);
      if (c.listening[pass])
        sim::Listen(Port, sim::Listener());
      else
        sim::StopListening(Port);
      Pass();
      EXPECT_EQ(NewLines(), c.lines[pass]);
      EXPECT_EQ(State(0), c.states[pass]);
    }
    EXPECT_EQ(sim::OpenSocketCount(), 0);
  }
}

// Within HealthStartPeriod of a launch failures are not counted, until the
// first success ends it; a program the loop does not watch is not checked.
TEST_F(HealthTest, StartPeriodAndUnwatchedProgramsLeaveFailuresUncounted) {
  struct Case {
    const char* name;
    uint32_t startPeriod;
    int64_t listensFrom;   // ms after the launch; -1 never
    int64_t stopsAt;       // ms after the launch; -1 never
    bool watched;
    int64_t firstCountedAt;   // pass start (ms after the launch) of the first "(1 of", -1 none
  } cases[] = {
      {"default period, never listens", 60000, -1, -1, true, 60000},
      {"no period", 0, -1, -1, true, 10000},
      {"slow starter within the period", 60000, 45000, -1, true, -1},
      {"first success ends the period", 60000, 0, 25000, true, 30000},
      {"paused or not restarted", 0, -1, -1, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    tclHealthCheck check;
    check.Kind = tclHealthKind::Tcp;
    check.StartPeriod = c.startPeriod;
    Table(1, check);
    PrcList.Records[0].Paused = !c.watched;
    uint64_t launched = sim::Now();
    int64_t counted = -1;
    while (sim::Now() - launched < 80000) {
      int64_t at = int64_t(sim::Now() - launched);
      bool up = c.listensFrom >= 0 && at >= c.listensFrom && (c.stopsAt < 0 || at < c.stopsAt);
      if (up)
        sim::Listen(Port, sim::Listener());
      else
        sim::StopListening(Port);
      Pass();
      Lines lines = NewLines();
      if (counted < 0 && kit::CountPrefix(lines, Prefix(0) + "Health check failed (1 of 3)") > 0)
        counted = at;
    }
    // Checks run every HealthInterval from the launch: the first counted one
    // is the first check at or after the moment.
    EXPECT_EQ(counted, c.firstCountedAt);
    EXPECT_EQ(sim::Requests(Port).empty(), !c.watched || c.listensFrom < 0);
  }
}

// Every due check starts when the pass begins and none outlives
// HealthTimeout: 126 failing checks give a pass of at most RestartInterval
// or HealthTimeout, whichever is longer.
TEST_F(HealthTest, FailingChecksDoNotStretchThePass) {
  sim::Listener silent;
  silent.acceptAfterMs = -1;
  sim::Listener mute;
  mute.answerAfterMs = -1;
  struct Case {
    const char* name;
    tclHealthKind kind;
    bool listening;
    sim::Listener listener;
    uint32_t timeout;
    int32_t restartInterval;
    uint64_t pass;
    std::string what;
  } cases[] = {
      {"refused", tclHealthKind::Tcp, false, sim::Listener(), 2000, 1000, 882, "the connection was refused"},
      {"never connects", tclHealthKind::Tcp, true, silent, 2000, 1000, 2000,
       "no connection within 2000 ms"},
      {"never answers", tclHealthKind::Http, true, mute, 2000, 1000, 2000,
       "no answer within 2000 ms"},
      {"timeout shorter than the pass", tclHealthKind::Http, true, mute, 500, 5000, 4914,
       "no answer within 500 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    tclHealthCheck check = EveryPass(c.kind, 3);
    check.Timeout = c.timeout;
    Table(126, check);
    PrcList.RestartInterval = c.restartInterval;
    for (int n = 0; c.listening && n < 126; ++n) sim::Listen(uint16_t(Port + n), c.listener);
    EXPECT_EQ(Pass(), c.pass);
    Lines lines = NewLines();
    ASSERT_EQ(lines.size(), 126u);
    for (int n = 0; n < 126; ++n)
      EXPECT_EQ(kit::Count(lines, Prefix(n) + "Health check failed (1 of 3): " + c.what), 1u);
    EXPECT_EQ(sim::OpenSocketCount(), 0);
  }
}

// Only the status line counts: 200 to 399 passes, redirects are not followed.
TEST_F(HealthTest, HttpStatusLineDecides) {
  struct Case {
    std::string answer;
    std::string failure;   // "" when the check passes
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
      {"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:9/\r\n\r\n", ""},
      {"HTTP/1.1 399 Odd\n", ""},
      {"HTTP/1.1 204", ""},
      {"HTTP/1.1 404 Not Found\r\n\r\n", "the answer has status 404"},
      {"HTTP/1.1 503 Busy\r\n", "the answer has status 503"},
      {"HTTP/1.1 199 Early\r\n", "the answer has status 199"},
      {"HTTP/1.1 2000 OK\r\n", "the answer is not HTTP"},
      {"SSH-2.0-server\r\n", "the answer is not HTTP"},
      {"", "the connection was closed without an answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Fresh();
    tclHealthCheck check = EveryPass(tclHealthKind::Http, 3);
    check.Path = "/health?full=1";
    Table(1, check);
    sim::Listener server;
    server.answer = c.answer;
    sim::Listen(Port, server);
    Pass();
    Lines expected;
    if (!c.failure.empty()) expected = {Prefix(0) + "Health check failed (1 of 3): " + c.failure};
    EXPECT_EQ(NewLines(), expected);
    EXPECT_EQ(sim::Requests(Port),
              Lines{"GET /health?full=1 HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n"});
  }
}

}  // namespace
