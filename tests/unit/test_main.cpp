#include <gtest/gtest.h>

#include "platform/sim/sim.h"

// Every test starts on a fresh simulated machine.
class FreshMachine : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { sim::Reset(); }
};

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new FreshMachine);
  int failed = RUN_ALL_TESTS();
  sim::Reset();  // ends a simulated service left running by the last test
  return failed;
}
