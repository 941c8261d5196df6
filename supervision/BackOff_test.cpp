// The back-off on its own, where the pass cannot reach: ticks are plain
// numbers, so the wrap and the fallback without process times are cheap to show.
#include "supervision/BackOff.h"

#include <gtest/gtest.h>

namespace {

const uint32_t MinUptime = 5000, Ceiling = 3000;
const DWORD NearWrap = 0xFFFFFFFFu - 1500;

TEST(BackOff, WithoutALifetimeARunCountsFromItsLaunchAcrossTheWrapAndIsJudgedOnce) {
  tclBackOff backOff;
  backOff.RunBegins(NearWrap);
  tclRestartDelay verdict = backOff.RunEnds(nullptr, true, NearWrap + 1000, MinUptime, Ceiling);
  EXPECT_EQ(verdict.Delay, 1000u);
  EXPECT_EQ(verdict.Ran, 1000u);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, NearWrap + 1100, MinUptime, Ceiling).Delay, 0u);
  uint32_t remaining = 0;
  EXPECT_TRUE(backOff.IsWaiting(NearWrap + 1900, &remaining));
  EXPECT_EQ(remaining, 100u);

  // Seen alive at MinUptime, then ended 49.7 days on: the ticks wrapped back.
  backOff.RunBegins(1000);
  backOff.SeenAlive(1000 + MinUptime, MinUptime);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, 1100, MinUptime, Ceiling).Delay, 0u);
  backOff.RunBegins(2000);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, 2100, MinUptime, Ceiling).Delay, 1000u)
      << "the long run cleared the count";
}

}  // namespace
