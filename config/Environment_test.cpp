// Variables set for the programs: merging, expansion and the block's order;
// their loading and what the log tells of them.
#include "config/Environment.h"

#include <gtest/gtest.h>

#include "tests/unit/TestKit.h"

namespace {

using Strings = std::vector<std::string>;

// Each string NUL-ended, then one more NUL.
std::string Block(const Strings& strings) {
  std::string block;
  for (const std::string& s : strings) block += s + '\0';
  return block + '\0';
}

TEST(EnvironmentTest, EntriesAreMergedByNameExpandedInOrderAndSortedInUpperCase) {
  const Strings service = {"=C:=C:\\QuarnLoader", "Path=C:\\Windows"};
  const struct {
    Strings common, own, block;
  } cases[] = {
      // The program's own wins by name over the common one; the service's spelling stays.
      {{"path=C:\\tools;%path%", "PORT=80"}, {"PATH=C:\\app;%PATH%"},
       {"=C:=C:\\QuarnLoader", "Path=C:\\app;C:\\Windows", "PORT=80"}},
      {{"HOME=C:\\h"}, {"LOG=%home%\\log", "A=1", "B=%A%2", "A=%B%3"},
       {"=C:=C:\\QuarnLoader", "A=123", "B=12", "HOME=C:\\h", "LOG=C:\\h\\log",
        "Path=C:\\Windows"}},
      {{}, {"X=%LATER%;100%%;50%", "LATER=1", "E="},
       {"=C:=C:\\QuarnLoader", "E=", "LATER=1", "Path=C:\\Windows", "X=%LATER%;100%;50%"}},
      // By name alone, in upper case: "_" sorts after the letters, "-" before "=".
      {{}, {"a_b=1", "AB=2", "A-X=3", "A=4"},
       {"=C:=C:\\QuarnLoader", "A=4", "A-X=3", "AB=2", "a_b=1", "Path=C:\\Windows"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildEnvironment(service, MergeEnvironment(c.common, c.own)).Block, Block(c.block));
}

// Values never reach the log, names do; keys end at the first missing or
// empty one, and an entry without a name is reported where it is read.
TEST(EnvironmentLoadTest, EntriesAreLoadedPerProgramAndLoggedByNameOnly) {
  kit::FreshGlobals();
  sim::WriteFile(kit::IniPath,
                 "[Settings]\r\nEnv_0=PATH=C:\\tools;%PATH%\r\nEnv_1=novalue\r\n"
                 "Env_2=TOKEN=hunter2\r\nEnv_4=NEVER=1\r\n"
                 "[Process_0]\r\nAppName=C:\\Apps\\a.exe\r\nEnv_0==D:=D:\\\r\n"
                 "Env_1=token=%SECRET%%SECRET%\r\nEnv_2=\r\nEnv_3=NEVER=2\r\n"
                 "[Process_1]\r\nAppName=C:\\Apps\\b.exe\r\nEnv_1=NEVER=3\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Records[0].Settings.Launch.Environment,
            Block({"=C:=C:\\QuarnLoader", "Path=C:\\tools;C:\\Windows", "token=%SECRET%%SECRET%"}));
  EXPECT_EQ(PrcList.Records[1].Settings.Launch.Environment,
            Block({"=C:=C:\\QuarnLoader", "Path=C:\\tools;C:\\Windows", "TOKEN=hunter2"}));
  Strings account;
  for (const std::string& line : kit::LogMessages())
    if (line.find("nvironment") != std::string::npos || line.find("tools") != std::string::npos ||
        line.find("hunter2") != std::string::npos || line.find("[Process_") == 0)
      account.push_back(line);
  EXPECT_EQ(account, (Strings{"Error: Invalid environment entry = Settings Env_1", "[Process_0]",
                              "Error: Invalid environment entry = Process_0 Env_0",
                              "   Environment variables set: Path, token",
                              "Warning: Undefined environment variable kept as written: %SECRET%",
                              "[Process_1]", "   Environment variables set: Path, TOKEN"}));
}

}  // namespace
