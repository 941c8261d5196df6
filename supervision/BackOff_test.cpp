// The back-off on its own: ticks are plain numbers, no clock, no threads.
#include "supervision/BackOff.h"

#include <gtest/gtest.h>

namespace {

const uint32_t MinUptime = 5000, Ceiling = 3000;
const DWORD NearWrap = 0xFFFFFFFFu - 1500;   // every run below crosses the ticks' wrap

struct RunCase {
  DWORD start, end;
  int64_t lifetime;   // -1: the platform told none
  bool mayFail;
  uint32_t delay, ran;   // the verdict
};

TEST(BackOff, DelaysDoubleToTheCeilingAndALongRunClearsThem) {
  const RunCase runs[] = {
      {NearWrap, NearWrap + 2000, 100, true, 1000, 100},   // its lifetime, not the 2 s
      {NearWrap + 3000, NearWrap + 4000, -1, true, 2000, 1000},   // from its launch
      {NearWrap + 6000, NearWrap + 6100, 100, true, 3000, 100},   // capped
      {NearWrap + 9100, NearWrap + 9200, 100, false, 0, 100},     // an administrator's stop
      {NearWrap + 9300, NearWrap + 9400, 100, true, 3000, 100},   // ...keeps the count
      {NearWrap + 12400, NearWrap + 20000, 7600, true, 0, 7600},  // long: cleared
      {NearWrap + 20100, NearWrap + 20200, 100, true, 1000, 100},
  };
  tclBackOff backOff;
  for (const RunCase& run : runs) {
    EXPECT_FALSE(backOff.IsWaiting(run.start, nullptr)) << run.start;
    backOff.RunBegins(run.start);
    uint32_t lifetime = uint32_t(run.lifetime);
    tclRestartDelay verdict = backOff.RunEnds(run.lifetime >= 0 ? &lifetime : nullptr,
                                              run.mayFail, run.end, MinUptime, Ceiling);
    EXPECT_EQ(verdict.Delay, run.delay) << run.start;
    EXPECT_EQ(verdict.Ran, run.ran) << run.start;
    uint32_t remaining = 1;
    EXPECT_EQ(backOff.IsWaiting(run.end + 1, &remaining), run.delay > 0);
    EXPECT_EQ(remaining, run.delay > 0 ? run.delay - 1 : 1);
  }
}

TEST(BackOff, ARunIsJudgedOnceAndARunSeenLongStaysLong) {
  tclBackOff backOff;
  backOff.RunBegins(0);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, 100, MinUptime, Ceiling).Delay, 1000u);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, 200, MinUptime, Ceiling).Delay, 0u);   // judged
  backOff.Forget();   // an administrator's start
  EXPECT_FALSE(backOff.IsWaiting(300, nullptr));

  // Seen alive at MinUptime, then ended 49.7 days on: the ticks wrapped.
  backOff.RunBegins(1000);
  backOff.SeenAlive(1000 + MinUptime, MinUptime);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, 1100, MinUptime, Ceiling).Delay, 0u);
  backOff.RunBegins(2000);
  EXPECT_EQ(backOff.RunEnds(nullptr, true, 2100, 0, Ceiling).Delay, 0u);   // MinUptime 0: off
}

}  // namespace
