#include "config/Locations.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "config/Constants.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "service/tclService.h"

// ---- ModuleDirectory -------------------------------------------------------------

TEST(ModuleDirectory, IsTheExecutablesDirectoryWithItsTrailingBackslash) {
  const struct {
    const char* module;
    const char* directory;
  } cases[] = {
      {"D:\\Services\\Host\\host.exe", "D:\\Services\\Host\\"},
      {"C:\\host.exe", "C:\\"},
      {"c:\\MiXeD Case\\Sub\\X.EXE", "c:\\MiXeD Case\\Sub\\"},
      {"\\\\server\\share\\host.exe", "\\\\server\\share\\"},
      {"C:\\dir/sub/host.exe", "C:\\"},  // only the backslash separates
      {"ab\\host.exe", "ab\\"},          // last backslash at index 2
  };
  for (const auto& c : cases) {
    sim::SetModulePath(c.module);
    EXPECT_EQ(ModuleDirectory(), c.directory) << c.module;
  }
}

TEST(ModuleDirectory, FallsBackToTheDefaultWhenNoDirectoryCanBeDerived) {
  for (const char* module : {"host.exe", "\\host.exe", "a\\host.exe", "C:/dir/host.exe",
                             "C:host.exe", ""}) {
    sim::SetModulePath(module);  // "" makes the call fail
    EXPECT_EQ(ModuleDirectory(), "c:\\") << module;
  }
}

TEST(ModuleDirectory, LongestPathThatFitsIsUsed) {
  // 499 characters fit in the room of 500 with the terminator.
  std::string dir = "C:\\" + std::string(480, 'd') + "\\";
  std::string module = dir + std::string(499 - dir.size(), 'x');
  ASSERT_EQ(module.size(), 499u);
  sim::SetModulePath(module);
  EXPECT_EQ(ModuleDirectory(), dir);
}

// A path cut short at the room's end would still show a backslash and so a
// plausible directory, which is the wrong one.
TEST(ModuleDirectory, PathTooLongForTheRoomGivesTheDefaultNotACutDirectory) {
  std::string upper = "C:\\" + std::string(300, 'u') + "\\";
  for (size_t length : {500u, 501u, 520u, 1000u}) {
    std::string module = upper + std::string(length - upper.size() - 9, 'l') + "\\host.exe";
    ASSERT_EQ(module.size(), length);
    sim::SetModulePath(module);
    EXPECT_EQ(ModuleDirectory(), "c:\\") << length;
  }
}

// ---- Path set-up -----------------------------------------------------------------

TEST(SetUpPaths, PutsEveryFileInTheExecutablesDirectoryUnderTheFixedBaseName) {
  sim::SetModulePath("D:\\Services\\Host\\host.exe");
  sim::WriteFile("D:\\Services\\Host\\QuarnLoader.ini", "[Settings]\r\nServiceName=Beside\r\n");
  Service.SetUpPaths();
  EXPECT_EQ(Service.Directory, "D:\\Services\\Host\\");
  EXPECT_EQ(Service.ExecutablePath, "D:\\Services\\Host\\QuarnLoader.exe");
  EXPECT_EQ(Log.GetPath(), "D:\\Services\\Host\\QuarnLoader.log");
  Log.SetFileEnabled(false);
  EXPECT_EQ(Ini.ReadServiceName(), "Beside");
  Log.SetFileEnabled(true);
  Log.FileLine("here", false);
  EXPECT_EQ(sim::ReadFile("D:\\Services\\Host\\QuarnLoader.log"), "here\r\n");
}

TEST(SetUpPaths, WithoutADirectoryEverythingGoesToTheDefaultDirectory) {
  sim::SetModulePath("host.exe");
  sim::WriteFile("c:\\QuarnLoader.ini", "[Settings]\r\nServiceName=AtRoot\r\n");
  Service.SetUpPaths();
  EXPECT_EQ(Service.Directory, "c:\\");
  EXPECT_EQ(Service.ExecutablePath, "c:\\QuarnLoader.exe");
  EXPECT_EQ(Log.GetPath(), "c:\\QuarnLoader.log");
  Log.SetFileEnabled(false);
  EXPECT_EQ(Ini.ReadServiceName(), "AtRoot");
  Log.SetFileEnabled(true);
}

// ---- Shared texts ------------------------------------------------------------------

TEST(SharedTexts, FileNamesAndDefaultPaths) {
  EXPECT_EQ(DefaultDirectory, "c:\\");
  EXPECT_EQ(LogFileName, "QuarnLoader.log");
  EXPECT_EQ(IniFileName, "QuarnLoader.ini");
  EXPECT_EQ(ExeFileName, "QuarnLoader.exe");
  EXPECT_EQ(DefaultLogPath, "c:\\QuarnLoader.log");
  EXPECT_EQ(DefaultIniPath, "c:\\QuarnLoader.ini");
  EXPECT_EQ(DefaultExePath, "c:\\QuarnLoader.exe");
  EXPECT_EQ(ProductName, "(Quarn) Server Loader");
}

TEST(SharedTexts, VersionTextHasReleaseBuildAndStamp) {
  EXPECT_TRUE(std::regex_match(VersionText, std::regex(R"(\d\.\d\d\.\d\d build \d{8}\.\d\d)")))
      << VersionText;
}
