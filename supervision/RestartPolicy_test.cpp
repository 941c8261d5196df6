// The restart policy's decisions on plain values: no platform, no clock.
#include "supervision/RestartPolicy.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using V = tclRestartVerdict;
using E = tclRunEnd;

TEST(RestartPolicy, DecidesFromTheEndTheCodesAndTheRestartsWithinTheWindow) {
  const DWORD now = 10000000;
  const std::vector<DWORD> none, five(5, now - 1000), oneOld = {now - 3600000, 1, 2, 3, 4},
                                 wrapped(5, now - 1000 - 0xFFFFFFFFu);
  // onfailure, SuccessExitCodes, MaxRestarts, the end, its code, earlier restarts: verdict, word
  const std::tuple<bool, std::vector<uint32_t>, uint32_t, E, uint32_t, const std::vector<DWORD>&,
                   V, const char*>
      rows[] = {
      {false, {0}, 0, E::Exited, 0, none, V::Restart, "exit"},
      {true, {0}, 0, E::Exited, 0, none, V::NotRestarted, "exit"},
      {true, {0}, 5, E::Exited, 0, five, V::NotRestarted, "exit"},
      {true, {0}, 0, E::Exited, 3, none, V::Restart, "exit"},
      {true, {0, 3}, 0, E::Exited, 3, none, V::NotRestarted, "exit"},
      {true, {3}, 0, E::Exited, 0, none, V::Restart, "exit"},
      {true, {0}, 0, E::Hung, 0, none, V::Restart, "hung"},
      {true, {0}, 0, E::Unhealthy, 0, none, V::Restart, "unhealthy"},
      {false, {0}, 0, E::Exited, 3, five, V::Restart, "exit"},
      {false, {0}, 5, E::Exited, 3, five, V::GiveUp, "gaveup"},
      {false, {0}, 5, E::Exited, 3, oneOld, V::Restart, "exit"},
      {false, {0}, 5, E::Exited, 3, wrapped, V::GiveUp, "gaveup"},
  };
  int row = 0;
  for (const auto& [onFailure, ok, maxRestarts, end, code, restarts, expected, word] : rows) {
    tclFailurePolicy p;
    p.OnFailureOnly = onFailure;
    p.SuccessCodes = ok;
    p.MaxRestarts = maxRestarts;
    EXPECT_EQ(DecideRestart(p, end, code, restarts, now), expected) << "row " << row;
    EXPECT_EQ(EventWord(end, expected), word) << "row " << row++;
  }
}

TEST(RestartPolicy, SuccessExitCodesAreDecimalsSeparatedByCommas) {
  const struct { const char* text; std::vector<uint32_t> codes; } rows[] = {   // {7}: refused
      {"0", {0}}, {" 0 , 3 ,4294967295", {0, 3, 4294967295u}},
      {"-1,-1073741819", {0xFFFFFFFFu, 0xC0000005u}}, {"", {7}}, {"0,,3", {7}}, {"0,", {7}},
      {"0x3", {7}}, {"0 3", {7}}, {"4294967296", {7}}, {"-2147483649", {7}},
  };
  for (const auto& r : rows) {
    std::vector<uint32_t> codes{7};
    EXPECT_EQ(ParseExitCodes(r.text, codes), r.codes != std::vector<uint32_t>{7}) << r.text;
    EXPECT_EQ(codes, r.codes) << r.text;
  }
}

}  // namespace
