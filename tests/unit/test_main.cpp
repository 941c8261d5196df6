#include <gtest/gtest.h>

#include "log/tclLog.h"
#include "platform/sim/sim.h"

// Every test starts on a fresh simulated machine, with a log in the console
// role's ways.
class FreshMachine : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    sim::Reset();
    Log.KeepUnwrittenLines(false);
    Log.SetRotation(0, 1);
  }
};

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new FreshMachine);
  int failed = RUN_ALL_TESTS();
  sim::Reset();  // ends a simulated service left running by the last test
  return failed;
}
