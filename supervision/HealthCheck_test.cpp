// Health checks in the supervision pass, against the simulated loopback, on
// the virtual clock.
#include "supervision/HealthProbe.h"

#include <gtest/gtest.h>

#include "supervision/StatusFile.h"
#include "supervision/tclPrcList.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;

const uint16_t Port = 8080;
const std::string App = "C:\\Srv\\srv.exe";
const std::string Refused = "the connection was refused";

class HealthTest : public testing::Test {
 protected:
  // n window-less programs on a fresh machine, all started, program i
  // checked on Port + i.
  void Start(int32_t n, const tclHealthCheck& check) {
    sim::Reset();
    kit::FreshLog();
    sim::TicksFollowClock(true);   // the checks time themselves with the ticks
    kit::FreshTable(n);
    for (int32_t i = 0; i < n; ++i) {
      kit::Configure(PrcList.Records[i], App, kit::Windowless());
      PrcList.Records[i].Settings.Health = check;
      PrcList.Records[i].Settings.Health.Port = uint16_t(Port + i);
    }
    PrcList.StartAll();
  }

  // One pass; the lines it logged.
  Lines Pass() {
    size_t from = kit::LogMessages().size();
    PrcList.CheckAll();
    return kit::LogMessages(from);
  }
};

// Failures in a row count up to HealthRetries; a success before that is
// reported once and starts the count again; reaching it stops the program as
// a hung one is, and the next pass starts it again.
TEST_F(HealthTest, FailuresInARowAreCountedUntilTheProgramIsStopped) {
  const std::string failed = "Process (0): Health check failed (";
  const struct {
    bool listening;
    Lines lines;
    const char* state;
  } passes[] = {
      {true, {}, "running"},
      {false, {failed + "1 of 2): " + Refused}, "unhealthy"},
      {true, {"Process (0): Health check passed again."}, "running"},
      {false, {failed + "1 of 2): " + Refused}, "unhealthy"},
      {false,
       {failed + "2 of 2): " + Refused,
        "Process (0): The program failed its health check 2 times in a row: " + App,
        "Stopped process " + App},
       "stopped"},
      {false, {"Process (0): Attempting to restart program: " + App, "Started program " + App},
       "running"},
      {true, {}, "running"},   // counted afresh from the new launch
  };
  // Kind, port, path, interval, timeout, retries, start period.
  Start(1, {tclHealthKind::Http, 0, "/health?full=1", 0, 2000, 2, 0});
  sim::Listener server;
  server.request = "GET /health?full=1 HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n";
  server.answer = "HTTP/1.1 204";   // ended by the close alone
  for (size_t i = 0; i < sizeof passes / sizeof passes[0]; ++i) {
    passes[i].listening ? sim::Listen(Port, server) : sim::StopListening(Port);
    EXPECT_EQ(Pass(), passes[i].lines) << i;
    EXPECT_EQ(ProgramStatuses(PrcList)[0].State, passes[i].state) << i;
  }
  EXPECT_EQ(sim::OpenSocketCount(), 0);
}

// Within HealthStartPeriod of a launch failures are not counted, until the
// first success ends it; a paused program is not checked. Checks run every
// HealthInterval from the launch.
TEST_F(HealthTest, StartPeriodAndPausedProgramsLeaveFailuresUncounted) {
  const struct {
    const char* name;
    uint32_t startPeriod;
    int64_t listensFrom, stopsAt;   // ms after the launch; -1 never
    bool paused;
    int64_t firstCounted;   // ms after the launch; -1 none
  } cases[] = {
      {"default period, never listens", 60000, -1, -1, false, 60000},
      {"no period", 0, -1, -1, false, 10000},
      {"slow starter within the period", 60000, 45000, -1, false, -1},
      {"first success ends the period", 60000, 0, 25000, false, 30000},
      {"paused", 0, -1, -1, true, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(1, {tclHealthKind::Tcp, 0, "/", 10000, 2000, 3, c.startPeriod});
    PrcList.Records[0].Paused = c.paused;
    int64_t counted = -1;
    for (uint64_t launched = sim::Now(); sim::Now() - launched < 80000;) {
      int64_t at = int64_t(sim::Now() - launched);
      if (c.listensFrom >= 0 && at >= c.listensFrom && (c.stopsAt < 0 || at < c.stopsAt))
        sim::Listen(Port, {});
      else
        sim::StopListening(Port);
      if (kit::CountPrefix(Pass(), "Process (0): Health check failed (1 of 3)") && counted < 0)
        counted = at;
    }
    EXPECT_EQ(counted, c.firstCounted);
    EXPECT_EQ(sim::TimeWaitCount(), 0) << "a check left a port in TIME_WAIT";
  }
}

// The service's own failures to run a check (Winsock not started, no socket)
// say nothing about the program: they are logged once per outage, not
// counted, and Winsock is started again at a later check.
TEST_F(HealthTest, TheServicesOwnFaultsAreLoggedOnceAndNotCounted) {
  const char* cases[][2] = {{"WSAStartup", "the sockets could not be started."},
                            {"socket", "no socket could be made."},
                            {"ioctlsocket", "the socket could not be made non-blocking."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    const std::string cannot =
        std::string("Warning (10055): The health check could not be run: ") + c[1];
    const struct {
      bool fault, listening;
      Lines lines;
      const char* state;
    } passes[] = {
        {true, false, {cannot}, "running"},
        {true, false, {}, "running"},
        {false, false, {"Process (0): Health check failed (1 of 2): " + Refused}, "unhealthy"},
        {true, false, {cannot}, "unhealthy"},   // a new outage
        {false, true, {"Process (0): Health check passed again."}, "running"},
    };
    Start(1, {tclHealthKind::Tcp, 0, "/", 0, 2000, 2, 0});
    for (size_t i = 0; i < sizeof passes / sizeof passes[0]; ++i) {
      if (passes[i].fault) sim::FailNext(c[0], WSAENOBUFS);
      passes[i].listening ? sim::Listen(Port, {}) : sim::StopListening(Port);
      EXPECT_EQ(Pass(), passes[i].lines) << i;
      EXPECT_EQ(ProgramStatuses(PrcList)[0].State, passes[i].state) << i;
    }
  }
}

// Every due check starts when the pass begins and none outlives
// HealthTimeout: 126 checks that never end give a pass of RestartInterval or
// HealthTimeout, whichever is longer.
TEST_F(HealthTest, ChecksThatNeverEndDoNotStretchThePass) {
  const struct {
    tclHealthKind kind;
    bool connects;   // but never answers
    uint32_t timeout;
    int32_t restartInterval;
    uint64_t pass;   // each program's share of the interval is whole milliseconds
    std::string what;
  } cases[] = {
      {tclHealthKind::Tcp, false, 2000, 1000, 2000, "no connection within 2000 ms"},
      {tclHealthKind::Http, true, 500, 5000, 4914, "no answer within 500 ms"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(126, {c.kind, 0, "/", 0, c.timeout, 3, 0});
    PrcList.RestartInterval = c.restartInterval;
    sim::Listener server;   // with no request to answer
    server.accepts = c.connects;
    for (int n = 0; n < 126; ++n) sim::Listen(uint16_t(Port + n), server);
    uint64_t from = sim::Now();
    Lines lines = Pass();
    EXPECT_EQ(sim::Now() - from, c.pass);
    ASSERT_EQ(lines.size(), 126u);
    EXPECT_EQ(lines.back(), "Process (125): Health check failed (1 of 3): " + c.what);
    EXPECT_EQ(sim::OpenSocketCount(), 0);
    EXPECT_EQ(sim::TimeWaitCount(), 0);
  }
}

// Only the status line counts: 200 to 399 passes, redirects are not followed.
TEST(HttpAnswerTest, StatusLineDecides) {
  const struct {
    const char* answer;
    const char* failure;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
      {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/\r\n\r\n", ""},
      {"HTTP/1.1 399 Odd\n", ""},
      {"HTTP/1.1 400 Bad Request\r\n\r\n", "the answer has status 400"},
      {"HTTP/1.1 199 Early\r\n", "the answer has status 199"},
      {"HTTP/1.1 2000 OK\r\n", "the answer is not HTTP"},
      {"ICY 200 OK\r\n", "the answer is not HTTP"},
      {"", "the connection was closed without an answer"},
  };
  for (const auto& c : cases) EXPECT_EQ(HttpAnswerFailure(c.answer), c.failure) << c.answer;
}

}  // namespace
