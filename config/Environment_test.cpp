// Variables set for the programs: merging, replacing, expansion and the
// block's order; their loading and what the log tells of them.
#include "config/Environment.h"

#include <gtest/gtest.h>

#include "config/Globals.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
using Strings = std::vector<std::string>;

// The block's strings, failing unless it ends in an empty one.
Strings Unpacked(const std::string& block) {
  EXPECT_GE(block.size(), 2u);
  EXPECT_EQ(block.substr(block.size() - 2), std::string(2, '\0'));
  Strings strings;
  for (std::string::size_type at = 0; at + 1 < block.size(); at = block.find('\0', at) + 1)
    strings.push_back(block.substr(at, block.find('\0', at) - at));
  return strings;
}

TEST(EnvironmentTest, SettingsAndOwnEntriesAreMergedExpandedAndSorted) {
  const Strings service = {"=C:=C:\\QuarnLoader", "Path=C:\\Windows", "TEMP=C:\\Temp"};
  const struct {
    const char* what;
    Strings common, own, block, names, undefined;
  } cases[] = {
      {"no entry leaves the service's variables, hidden ones included",
       {}, {}, service, {}, {}},
      {"a name replaces its variable whatever the case, keeping the service's spelling",
       {"PATH=C:\\tools;%PATH%"}, {},
       {"=C:=C:\\QuarnLoader", "Path=C:\\tools;C:\\Windows", "TEMP=C:\\Temp"}, {"Path"}, {}},
      {"a program's own entry wins by name over the settings' one",
       {"path=C:\\tools;%path%", "PORT=80"}, {"Path=C:\\app;%Path%"},
       {"=C:=C:\\QuarnLoader", "Path=C:\\app;C:\\Windows", "PORT=80", "TEMP=C:\\Temp"},
       {"PORT", "Path"}, {}},
      {"expansion sees the entries before it, in key order",
       {"HOME=C:\\h"}, {"LOG=%home%\\log", "A=1", "B=%A%2", "A=%B%3"},
       {"=C:=C:\\QuarnLoader", "A=123", "B=12", "HOME=C:\\h", "LOG=C:\\h\\log", "Path=C:\\Windows",
        "TEMP=C:\\Temp"},
       {"HOME", "LOG", "A", "B"}, {}},
      {"an undefined name stays as written, once among the warnings; %% is one %",
       {}, {"X=%LATER%;%LATER%;100%%;50%", "LATER=1"},
       {"=C:=C:\\QuarnLoader", "LATER=1", "Path=C:\\Windows", "TEMP=C:\\Temp",
        "X=%LATER%;%LATER%;100%;50%"},
       {"X", "LATER"}, {"LATER"}},
      {"names sort in upper case, by name alone; an empty value is kept",
       {}, {"a_b=1", "AB=2", "A-X=3", "A=4", "E="},
       {"=C:=C:\\QuarnLoader", "A=4", "A-X=3", "AB=2", "a_b=1", "E=", "Path=C:\\Windows",
        "TEMP=C:\\Temp"},
       {"a_b", "AB", "A-X", "A", "E"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tclEnvironment built = BuildEnvironment(service, MergeEnvironment(c.common, c.own));
    EXPECT_EQ(Unpacked(built.Block), c.block);
    EXPECT_EQ(built.Names, c.names);
    EXPECT_EQ(built.Undefined, c.undefined);
  }
}

class EnvironmentLoadTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshLog();
    Ini.SetPath(kit::IniPath);
    PrcList.Clear();
  }
  void TearDown() override { PrcList.Clear(); }
};

// Values never reach the log; names do, and every entry without a name is
// reported where it is read. Keys end at the first missing or empty one.
TEST_F(EnvironmentLoadTest, EntriesAreLoadedPerProgramAndLoggedByNameOnly) {
  sim::SetEnvironment({"=C:=C:\\QuarnLoader", "Path=C:\\Windows"});
  sim::WriteFile(kit::IniPath,
                 "[Settings]\r\nEnv_0=PATH=C:\\tools;%PATH%\r\nEnv_1=novalue\r\n"
                 "Env_2=TOKEN=hunter2\r\nEnv_4=NEVER=1\r\n"
                 "[Process_0]\r\nAppName=C:\\Apps\\a.exe\r\nEnv_0==D:=D:\\\r\n"
                 "Env_1=token=%SECRET%\r\nEnv_2=\r\nEnv_3=NEVER=2\r\n"
                 "[Process_1]\r\nAppName=C:\\Apps\\b.exe\r\n"
                 "[Process_2]\r\nAppName=C:\\Apps\\c.exe\r\nEnv_1=NEVER=3\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 3);
  EXPECT_EQ(Unpacked(PrcList.Records[0].Environment),
            (Strings{"=C:=C:\\QuarnLoader", "Path=C:\\tools;C:\\Windows", "token=%SECRET%"}));
  EXPECT_EQ(Unpacked(PrcList.Records[1].Environment),
            (Strings{"=C:=C:\\QuarnLoader", "Path=C:\\tools;C:\\Windows", "TOKEN=hunter2"}));
  EXPECT_EQ(PrcList.Records[2].Environment, PrcList.Records[1].Environment);

  Lines logged = kit::LogMessagesAt("Mon Mar 05 09:04:05 2007 :: ");
  Lines account;
  for (const std::string& line : logged)
    if (line.find("nvironment") != std::string::npos) account.push_back(line);
  EXPECT_EQ(account, (Lines{
                         "Error: Invalid environment entry = Settings Env_1",
                         "Error: Invalid environment entry = Process_0 Env_0",
                         "   Environment variables set: Path, token",
                         "Warning: Undefined environment variable kept as written: %SECRET%",
                         "   Environment variables set: Path, TOKEN",
                         "   Environment variables set: Path, TOKEN",
                     }));
  for (const std::string& line : logged) EXPECT_EQ(line.find("hunter2"), std::string::npos);
  for (const std::string& line : logged) EXPECT_EQ(line.find("tools"), std::string::npos);
}

// Without its own environment, a program would start with nothing at all.
TEST_F(EnvironmentLoadTest, UnreadableServiceEnvironmentIsReported) {
  sim::SetEnvironment({}, true);
  sim::WriteFile(kit::IniPath, "[Process_0]\r\nAppName=C:\\Apps\\a.exe\r\nEnv_0=PORT=80\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(Unpacked(PrcList.Records[0].Environment), Strings{"PORT=80"});
  EXPECT_EQ(kit::Count(kit::LogMessagesAt("Mon Mar 05 09:04:05 2007 :: "),
                       "Error: The service's environment cannot be read."),
            1u);
}

}  // namespace
