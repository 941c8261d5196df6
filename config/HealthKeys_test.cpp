// Reading a program's health check keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "supervision/tclPrcList.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;

// The keys are echoed only when present; a check without a port from 1 to
// 65535 gets one error line and is not run.
TEST(HealthKeys, AreReadAndAPortlessCheckIsNotRun) {
  const std::string portError =
      "Error: The health check is not run: HealthPort must be from 1 to 65535.";
  const std::string none = "0 0 / 10000 2000 3 60000";   // kind port path times retries
  const struct {
    std::string keys;
    Lines account;
    std::string check;
  } cases[] = {
      {"", {}, none},
      {"HealthCheck=Http\r\nHealthPort=65535\r\nHealthPath=/ready\r\nHealthInterval=500\r\n"
       "HealthTimeout=-1\r\nHealthRetries=0\r\nHealthStartPeriod=0\r\n",
       {"   HealthCheck = Http", "   HealthPort = 65535", "   HealthPath = /ready",
        "   HealthInterval = 500", "   HealthTimeout = -1", "   HealthRetries = 0",
        "   HealthStartPeriod = 0"},
       "2 65535 /ready 500 0 1 0"},
      {"HealthCheck=TCP\r\n", {"   HealthCheck = TCP", portError}, none},
      {"HealthCheck=tcp\r\nHealthPort=65536\r\n",
       {"   HealthCheck = tcp", "   HealthPort = 65536", portError}, none},
      {"HealthCheck=ping\r\nHealthPort=80\r\n",
       {"   HealthCheck = ping", "Error: Invalid Setting = ping", "   HealthPort = 80"},
       "0 80 / 10000 2000 3 60000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    sim::Reset();
    kit::FreshGlobals();
    sim::WriteFile(kit::IniPath, "[Process_0]\r\nAppName=C:\\Apps\\p0.exe\r\n" + c.keys);
    ASSERT_TRUE(PrcList.LoadFromIni());
    const tclHealthCheck& h = PrcList.Records[0].Settings.Health;
    std::ostringstream got;
    got << int(h.Kind) << " " << h.Port << " " << h.Path << " " << h.Interval << " " << h.Timeout
        << " " << h.Retries << " " << h.StartPeriod;
    EXPECT_EQ(got.str(), c.check);
    // What the section's account says after its last original key.
    Lines log = kit::LogMessages();
    auto last = std::find(log.begin(), log.end(), "   PrcFileLogging = yes");
    ASSERT_NE(last, log.end());
    EXPECT_EQ(Lines(last + 1, log.end() - 2), c.account);
  }
}

}  // namespace
