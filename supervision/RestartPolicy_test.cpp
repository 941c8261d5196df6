// The restart policy's decisions on plain values: no platform, no clock.
#include "supervision/RestartPolicy.h"

#include <gtest/gtest.h>

#include "supervision/FailureCommand.h"

namespace {

using V = tclRestartVerdict;
using E = tclRunEnd;

tclFailurePolicy Policy(bool onFailure, std::vector<uint32_t> ok, uint32_t max) {
  tclFailurePolicy p;
  p.OnFailureOnly = onFailure;
  p.SuccessCodes = ok;
  p.MaxRestarts = max;
  return p;
}

TEST(RestartPolicy, DecidesFromTheEndTheCodesAndTheRestartsWithinTheWindow) {
  const DWORD now = 10000000, hour = 3600000;
  const std::vector<DWORD> none, fiveRecent(5, now - 1000),
      fourRecentOneOld = {now - hour, now - 5, now - 4, now - 3, now - 2},
      acrossTheWrap(5, now - 1000 - 0xFFFFFFFFu);   // ticks wrapped: still recent
  const struct {
    const char* row;
    tclFailurePolicy policy;
    E end;
    uint32_t code;
    std::vector<DWORD> restarts;
    V expected;
  } rows[] = {
      {"yes restarts a clean end", Policy(false, {0}, 0), E::Exited, 0, none, V::Restart},
      {"yes restarts a failure", Policy(false, {0}, 0), E::Exited, 3, none, V::Restart},
      {"onfailure leaves a clean end", Policy(true, {0}, 0), E::Exited, 0, none, V::NotRestarted},
      {"onfailure restarts code 3", Policy(true, {0}, 0), E::Exited, 3, none, V::Restart},
      {"3 made a success", Policy(true, {0, 3}, 0), E::Exited, 3, none, V::NotRestarted},
      {"0 left out of the list", Policy(true, {3}, 0), E::Exited, 0, none, V::Restart},
      {"hung whatever its code", Policy(true, {0}, 0), E::Hung, 0, none, V::Restart},
      {"unhealthy whatever its code", Policy(true, {0}, 0), E::Unhealthy, 0, none, V::Restart},
      {"no limit", Policy(false, {0}, 0), E::Exited, 3, fiveRecent, V::Restart},
      {"the sixth restart", Policy(false, {0}, 5), E::Exited, 3, fiveRecent, V::GiveUp},
      {"hung at the limit", Policy(false, {0}, 5), E::Hung, 0, fiveRecent, V::GiveUp},
      {"one left the window", Policy(false, {0}, 5), E::Exited, 3, fourRecentOneOld, V::Restart},
      {"across the wrap", Policy(false, {0}, 5), E::Exited, 3, acrossTheWrap, V::GiveUp},
      {"a clean end at the limit", Policy(true, {0}, 5), E::Exited, 0, fiveRecent,
       V::NotRestarted},
  };
  for (const auto& r : rows)
    EXPECT_EQ(DecideRestart(r.policy, r.end, r.code, r.restarts, now), r.expected) << r.row;
}

TEST(RestartPolicy, FailuresAndTheWordsTheCommandIsTold) {
  tclFailurePolicy p = Policy(true, {0, 3}, 0);
  const struct {
    E end;
    uint32_t code;
    V verdict;
    bool failed;
    const char* word;
  } rows[] = {
      {E::Exited, 3, V::Restart, false, "exit"},     {E::Exited, 4, V::Restart, true, "exit"},
      {E::Hung, 0, V::Restart, true, "hung"},        {E::Unhealthy, 0, V::Restart, true, "unhealthy"},
      {E::Exited, 4, V::GiveUp, true, "gaveup"},     {E::Hung, 0, V::GiveUp, true, "gaveup"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(IsFailure(p, r.end, r.code), r.failed) << r.word << r.code;
    EXPECT_EQ(EventWord(r.end, r.verdict), r.word);
  }
}

TEST(RestartPolicy, SuccessExitCodesAreDecimalsSeparatedByCommas) {
  const struct {
    const char* text;
    bool ok;
    std::vector<uint32_t> codes;
  } rows[] = {
      {"0", true, {0}},
      {"0,3", true, {0, 3}},
      {" 0 , 3 ,4294967295", true, {0, 3, 4294967295u}},
      {"-1,-1073741819", true, {0xFFFFFFFFu, 0xC0000005u}},
      {"", false, {7}},
      {"0,,3", false, {7}},
      {"0,", false, {7}},
      {"0x3", false, {7}},
      {"3a", false, {7}},
      {"4294967296", false, {7}},
      {"-2147483649", false, {7}},
      {"0 3", false, {7}},
  };
  for (const auto& r : rows) {
    std::vector<uint32_t> codes{7};
    EXPECT_EQ(ParseExitCodes(r.text, codes), r.ok) << r.text;
    EXPECT_EQ(codes, r.codes) << r.text;
  }
}

TEST(RestartPolicy, TheCommandGetsTheServicesEnvironmentWithItsVariablesSetAndSorted) {
  tclFailureFacts facts{"exit", 2, "", "C:\\Srv\\a.exe", "3", 4};
  std::string block = FailureEnvironment({"=C:=C:\\", "Path=C:\\Windows", "ql_event=old", "Zed=1"},
                                         FailureVariables(facts, 1));
  std::string expected = std::string("=C:=C:\\") + '\0' + "Path=C:\\Windows" + '\0' +
                         "QL_APP=C:\\Srv\\a.exe" + '\0' + "QL_EVENT=exit" + '\0' +
                         "QL_EXITCODE=3" + '\0' + "QL_MISSED=1" + '\0' + "QL_NAME=" + '\0' +
                         "QL_NUMBER=2" + '\0' + "QL_RESTARTS=4" + '\0' + "Zed=1" + '\0' + '\0';
  EXPECT_EQ(block, expected);
}

}  // namespace
