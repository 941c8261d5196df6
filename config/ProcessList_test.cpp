// Loading the program sections into the process table, and name look-ups.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "config/Loader.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "supervision/tclPrcList.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::IniPath;
using kit::LogPath;
const std::string Stamp = "Mon Mar 05 09:04:05 2007 :: ";
const std::string LimitLine = "The maximum number of processes has been reached.";

using kit::Lines;

class LoadTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshLog();
    Ini.SetPath(IniPath);
    PrcList.Clear();
  }
  void TearDown() override {
    PrcList.Clear();
    Log.SetFileEnabled(true);
  }

  static void Config(const std::string& text) { sim::WriteFile(IniPath, text); }

  // Sections Process_first .. Process_last, each with only an AppName.
  static std::string AppSections(int first, int last) {
    std::string text;
    for (int i = first; i <= last; ++i)
      text += "[Process_" + std::to_string(i) + "]\r\nAppName=C:\\Apps\\p" + std::to_string(i) +
              ".exe\r\nProcessName=p" + std::to_string(i) + "\r\n";
    return text;
  }

  static Lines Logged() {
    return kit::LogMessagesAt(Stamp);
  }

  // The account of one section whose keys are all missing but AppName and
  // ProcessName, as AppSections writes them.
  static Lines DefaultAccount(int n) {
    std::string i = std::to_string(n);
    return {"",
            "[Process_" + i + "]",
            "   AppName = C:\\Apps\\p" + i + ".exe",
            "   ProcessName = p" + i,
            "   CommandLine = ",
            "   StartDir = ",
            "   Priority = normal",
            "   Window = showna",
            "   AutoRestart = yes",
            "   Paused = no",
            "   StartPause = 1000",
            "   StopPause = 1000",
            "   NumOfRespChecks = 0",
            "   PrcFileLogging = yes"};
  }
};

void Append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace

// ---- Counting ----------------------------------------------------------------------

TEST_F(LoadTest, CountEndsAtTheFirstMissingOrEmptyAppName) {
  const struct {
    std::string file;
    int count;
  } cases[] = {
      {"", 0},
      {AppSections(1, 3), 0},                                     // no Process_0
      {AppSections(0, 1) + AppSections(3, 3), 2},                 // gap at 2
      {"[Process_0]\r\nAppName=\r\n" + AppSections(1, 4), 0},     // present but empty
      {"[Process_0]\r\nProcessName=only\r\n" + AppSections(1, 2), 0},
      {AppSections(0, 0) + "[Process_1]\r\nProcessName=only\r\n", 1},
      {AppSections(0, 126), 127},
      {AppSections(0, 199), 127},
  };
  for (const auto& c : cases) {
    Config(c.file);
    EXPECT_EQ(CountSections(Ini), c.count) << c.file.substr(0, 80);
  }
}

TEST_F(LoadTest, CountIsSilentUnderTheLimitAndWritesTheLimitLineAtIt) {
  Config(AppSections(0, 125));
  EXPECT_EQ(CountSections(Ini), 126);
  EXPECT_FALSE(sim::FileExists(LogPath));
  EXPECT_TRUE(Log.FileEnabled());
  Config(AppSections(0, 126));
  EXPECT_EQ(CountSections(Ini), 127);
  EXPECT_EQ(Logged(), (Lines{LimitLine}));
  EXPECT_TRUE(Log.FileEnabled());
}

// ---- Loading and its account in the log ------------------------------------------

TEST_F(LoadTest, NoFileLoadsAnEmptyTable) {
  EXPECT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Count, 0);
  EXPECT_EQ(PrcList.RestartInterval, 1000);
  EXPECT_EQ(Logged(), (Lines{"   RestartInterval = 1000",
                             "Loading process values from ini file ...", "", "Load completed."}));
}

TEST_F(LoadTest, EmptyFileLoadsAnEmptyTableToo) {
  Config("");
  EXPECT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Count, 0);
  EXPECT_EQ(Logged().size(), 4u);
}

// A key's letter case and a stray "=v" line hide no key.
TEST_F(LoadTest, OneFullSectionIsLoadedWithEveryValueAndItsAccount) {
  Config(
      "[Settings]\r\nRestartInterval=3000\r\n"
      "[Process_0]\r\n=stray\r\nappname=C:\\Tools\\srv.exe\r\nProcessName=web\r\n"
      "CommandLine=-port 80\r\nStartDir=D:\\Data\r\nPRIORITY=High\r\nWindow=Minimize\r\n"
      "AutoRestart=no\r\nPaused=yes\r\nStartPause=250\r\nStopPause=0\r\n"
      "NumOfRespChecks=3\r\nPrcFileLogging=no\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 1);
  EXPECT_EQ(PrcList.RestartInterval, 3000);
  const tclPrc& p = PrcList.Records[0];
  EXPECT_EQ(p.Settings.Launch.AppName, "C:\\Tools\\srv.exe");
  EXPECT_EQ(p.Settings.ProcessName, "web");
  EXPECT_EQ(p.Settings.Launch.CommandLine, "-port 80");
  EXPECT_EQ(p.Settings.Launch.StartDir, "D:\\Data");
  EXPECT_EQ(p.PriorityClass, uint32_t(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(p.Settings.ShowCommand, SW_MINIMIZE);
  EXPECT_FALSE(p.Settings.AutoRestart);
  EXPECT_TRUE(p.Paused);
  EXPECT_EQ(p.Settings.StartPause, 250u);
  EXPECT_EQ(p.Settings.StopPause, 0u);
  EXPECT_EQ(p.Settings.NumOfRespChecks, 3);
  EXPECT_FALSE(p.Settings.PrcFileLogging);
  EXPECT_EQ(p.Settings.Launch.FullCommandLine, "C:\\Tools\\srv.exe -port 80");
  EXPECT_EQ(Logged(), (Lines{"   RestartInterval = 3000",
                             "Loading process values from ini file ...",
                             "",
                             "[Process_0]",
                             "   AppName = C:\\Tools\\srv.exe",
                             "   ProcessName = web",
                             "   CommandLine = -port 80",
                             "   StartDir = D:\\Data",
                             "   Priority = High",
                             "   Window = Minimize",
                             "   AutoRestart = no",
                             "   Paused = yes",
                             "   StartPause = 250",
                             "   StopPause = 0",
                             "   NumOfRespChecks = 3",
                             "   PrcFileLogging = no",
                             "",
                             "Load completed."}));
}

TEST_F(LoadTest, SectionWithOnlyAppNameGetsEveryDefault) {
  Config("[Process_0]\r\nAppName=C:\\Tools\\srv.exe\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 1);
  const tclPrc& p = PrcList.Records[0];
  EXPECT_EQ(p.Settings.ProcessName, "");
  EXPECT_EQ(p.Settings.Launch.CommandLine, "");
  EXPECT_EQ(p.Settings.Launch.StartDir, "C:\\Tools\\");
  EXPECT_EQ(p.PriorityClass, uint32_t(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(p.Settings.ShowCommand, SW_SHOWNA);
  EXPECT_TRUE(p.Settings.AutoRestart);
  EXPECT_FALSE(p.Paused);
  EXPECT_EQ(p.Settings.StartPause, 1000u);
  EXPECT_EQ(p.Settings.StopPause, 1000u);
  EXPECT_EQ(p.Settings.NumOfRespChecks, 0);
  EXPECT_TRUE(p.Settings.PrcFileLogging);
  EXPECT_EQ(p.Settings.Launch.FullCommandLine, "C:\\Tools\\srv.exe ");
}

TEST_F(LoadTest, TwoSectionsGiveTheAccountInOrder) {
  Config(AppSections(0, 1));
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 2);
  EXPECT_EQ(PrcList.Records[0].Settings.Launch.AppName, "C:\\Apps\\p0.exe");
  EXPECT_EQ(PrcList.Records[1].Settings.Launch.AppName, "C:\\Apps\\p1.exe");
  Lines expected = {"   RestartInterval = 1000", "Loading process values from ini file ..."};
  Append(expected, DefaultAccount(0));
  Append(expected, DefaultAccount(1));
  Append(expected, {"", "Load completed."});
  EXPECT_EQ(Logged(), expected);
}

TEST_F(LoadTest, InvalidWindowWordLineFollowsItsEchoLine) {
  Config("[Process_0]\r\nAppName=C:\\a.exe\r\nWindow=Hidden\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  Lines lines = Logged();
  auto echo = std::find(lines.begin(), lines.end(), "   Window = Hidden");
  ASSERT_NE(echo, lines.end());
  ASSERT_NE(echo + 1, lines.end());
  EXPECT_EQ(*(echo + 1), "Error: Invalid Setting = hidden");
  EXPECT_EQ(*(echo + 2), "   AutoRestart = yes");
  EXPECT_EQ(PrcList.Records[0].Settings.ShowCommand, SW_SHOWNA);
}

TEST_F(LoadTest, GapEndsTheListAndLaterSectionsAreNeverRead) {
  Config(AppSections(0, 0) + AppSections(2, 5));
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Count, 1);
  for (const std::string& line : Logged())
    EXPECT_EQ(line.find("p2"), std::string::npos) << line;
}

TEST_F(LoadTest, ExactlyTheLimitLoadsAll127AfterTheLimitLine) {
  Config(AppSections(0, 126));
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 127);
  EXPECT_EQ(PrcList.Records[126].Settings.Launch.AppName, "C:\\Apps\\p126.exe");
  EXPECT_EQ(PrcList.Records[126].Settings.Launch.StartDir, "C:\\Apps\\");
  Lines expected = {LimitLine, "   RestartInterval = 1000",
                    "Loading process values from ini file ..."};
  for (int i = 0; i < 127; ++i) Append(expected, DefaultAccount(i));
  Append(expected, {"", "Load completed."});
  EXPECT_EQ(Logged(), expected);
}

TEST_F(LoadTest, MoreThanTheLimitLoadsTheFirst127Only) {
  for (int sections : {130, 200}) {
    sim::RemoveFile(LogPath);
    Config(AppSections(0, sections - 1));
    ASSERT_TRUE(PrcList.LoadFromIni());
    ASSERT_EQ(PrcList.Count, 127);
    EXPECT_EQ(PrcList.Records[126].Settings.Launch.AppName, "C:\\Apps\\p126.exe");
    Lines lines = Logged();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), LimitLine);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), LimitLine), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[Process_126]"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[Process_127]"), 0);
    EXPECT_EQ(lines.size(), 3u + 127u * 14u + 2u);
  }
}

TEST_F(LoadTest, ReloadReplacesTheRecords) {
  Config(AppSections(0, 2));
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Count, 3);
  Config(AppSections(0, 0));
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Count, 1);
  sim::RemoveFile(IniPath);
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Count, 0);
}

// ---- Values the loader adjusts ----------------------------------------------------

TEST_F(LoadTest, NegativePausesAreTakenAsZeroWhileTheEchoShowsThemAsWritten) {
  Config("[Process_0]\r\nAppName=C:\\a.exe\r\nStartPause=-250\r\nStopPause=-1\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.Records[0].Settings.StartPause, 0u);
  EXPECT_EQ(PrcList.Records[0].Settings.StopPause, 0u);
  Lines lines = Logged();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "   StartPause = -250"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "   StopPause = -1"), 1);
}

TEST_F(LoadTest, NegativeRestartIntervalIsTakenAsZero) {
  Config("[Settings]\r\nRestartInterval=-5\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  EXPECT_EQ(PrcList.RestartInterval, 0);
  EXPECT_EQ(Logged().front(), "   RestartInterval = -5");
}

TEST_F(LoadTest, OptInKeysAreReadAndEchoedAfterTheOthersOnlyWhenPresent) {
  Config(AppSections(0, 1) + "MinUptime=-3\r\nStopProcessTree=Yes\r\nMaxRestartDelay=9000\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  const tclPrc& plain = PrcList.Records[0];
  EXPECT_EQ(plain.Settings.MinUptime, 0u);
  EXPECT_EQ(plain.Settings.MaxRestartDelay, 60000u);
  EXPECT_FALSE(plain.Settings.StopProcessTree);
  const tclPrc& opted = PrcList.Records[1];
  EXPECT_EQ(opted.Settings.MinUptime, 0u);
  EXPECT_EQ(opted.Settings.MaxRestartDelay, 9000u);
  EXPECT_TRUE(opted.Settings.StopProcessTree);
  Lines expected = {"   RestartInterval = 1000", "Loading process values from ini file ..."};
  Append(expected, DefaultAccount(0));
  Append(expected, DefaultAccount(1));
  Append(expected, {"   MinUptime = -3", "   MaxRestartDelay = 9000", "   StopProcessTree = Yes",
                    "", "Load completed."});
  EXPECT_EQ(Logged(), expected);
}

// The settings' word is every program's default, a program's own word wins,
// an empty one takes the default, and an unknown one is reported as an
// unknown "Window" word is and gives "quit".
TEST_F(LoadTest, StopMethodOfTheSettingsIsTheDefaultAndAProgramsOwnWins) {
  using M = tclStopMethod;
  for (bool ctrlC : {false, true}) {
    SCOPED_TRACE(ctrlC);
    sim::RemoveFile(LogPath);
    Config(std::string("[Settings]\r\n") + (ctrlC ? "StopMethod=CtrlC\r\n" : "") +
           AppSections(0, 1) + "StopMethod=Close\r\n" + AppSections(2, 2) +
           "StopMethod=kill\r\n" + AppSections(3, 3) + "StopMethod=\r\n");
    ASSERT_TRUE(PrcList.LoadFromIni());
    const M fallback = ctrlC ? M::CtrlC : M::Quit;
    const M methods[] = {fallback, M::Close, M::Quit, fallback};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(PrcList.Records[i].Settings.StopMethod, methods[i]) << i;

    Lines expected = {"   RestartInterval = 1000", "Loading process values from ini file ..."};
    if (ctrlC) expected.push_back("   StopMethod = CtrlC");
    const Lines after[] = {{}, {"   StopMethod = Close"},
                           {"   StopMethod = kill", "Error: Invalid Setting = kill"},
                           {"   StopMethod = ", "", "Load completed."}};
    for (int i = 0; i < 4; ++i) {
      Append(expected, DefaultAccount(i));
      Append(expected, after[i]);
    }
    EXPECT_EQ(Logged(), expected);
  }
}

// The settings' OnFailure is every program's; a bad SuccessExitCodes gives 0.
TEST_F(LoadTest, FailureKeysAreReadAndTheSettingsCommandIsTheDefault) {
  Config("[Settings]\r\nOnFailure=C:\\all.cmd\r\n" + AppSections(0, 1) +
         "AutoRestart=OnFailure\r\nSuccessExitCodes=0, 3\r\nMaxRestarts=5\r\n"
         "RestartWindow=60000\r\nOnFailure=C:\\own.cmd\r\nOnFailureTimeout=5000\r\n" +
         AppSections(2, 3) + "SuccessExitCodes=0;3\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  const tclFailurePolicy &common = PrcList.Records[0].Settings.Failure,
                         &own = PrcList.Records[1].Settings.Failure;
  EXPECT_TRUE(common.Command == "C:\\all.cmd" && own.Command == "C:\\own.cmd" &&
              !common.OnFailureOnly && own.OnFailureOnly);
  EXPECT_EQ((std::vector<uint32_t>{own.MaxRestarts, own.RestartWindow, own.CommandTimeout,
                                   PrcList.Records[3].Settings.Failure.SuccessCodes[0]}),
            (std::vector<uint32_t>{5, 60000, 5000, 0}));
  EXPECT_EQ(own.SuccessCodes, (std::vector<uint32_t>{0, 3}));
  EXPECT_EQ(kit::Count(Logged(), "Error: Invalid Setting = 0;3"), 1u);
}

TEST_F(LoadTest, AppNameWithABlankThatNamesAnExistingFileIsQuoted) {
  sim::WriteFile("C:\\Program Files\\Srv\\srv.exe", "MZ");
  Config("[Process_0]\r\nAppName=C:\\Program Files\\Srv\\srv.exe\r\nCommandLine=-port 80\r\n"
         "[Process_1]\r\nAppName=C:\\Program Files\\Srv\\srv.exe\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 2);
  EXPECT_EQ(PrcList.Records[0].Settings.Launch.FullCommandLine,
            "\"C:\\Program Files\\Srv\\srv.exe\" -port 80");
  EXPECT_EQ(PrcList.Records[1].Settings.Launch.FullCommandLine,
            "\"C:\\Program Files\\Srv\\srv.exe\" ");
  // The record keeps AppName as written; the echo shows it unquoted.
  EXPECT_EQ(PrcList.Records[0].Settings.Launch.AppName, "C:\\Program Files\\Srv\\srv.exe");
  EXPECT_EQ(PrcList.Records[0].Settings.Launch.StartDir, "C:\\Program Files\\Srv\\");
}

TEST_F(LoadTest, OtherAppNamesAreLeftAsWritten) {
  sim::WriteFile("C:\\Program Files\\Srv\\srv.exe", "MZ");
  sim::WriteFile("C:\\Tools\\srv.exe", "MZ");
  sim::MakeDirectory("C:\\Has Blank");
  const struct {
    const char* appName;
    const char* full;
  } cases[] = {
      // blank, but no such file
      {"C:\\Program Files\\Other\\x.exe", "C:\\Program Files\\Other\\x.exe -a"},
      // already quoted, with arguments after it
      {"\"C:\\Program Files\\Srv\\srv.exe\" -v", "\"C:\\Program Files\\Srv\\srv.exe\" -v -a"},
      // an existing program followed by arguments inside AppName
      {"C:\\Tools\\srv.exe -port 80", "C:\\Tools\\srv.exe -port 80 -a"},
      // existing, no blank
      {"C:\\Tools\\srv.exe", "C:\\Tools\\srv.exe -a"},
      // a folder is not a program file
      {"C:\\Has Blank", "C:\\Has Blank -a"},
  };
  for (const auto& c : cases) {
    Config(std::string("[Process_0]\r\nAppName=") + c.appName + "\r\nCommandLine=-a\r\n");
    ASSERT_TRUE(PrcList.LoadFromIni());
    ASSERT_EQ(PrcList.Count, 1);
    EXPECT_EQ(PrcList.Records[0].Settings.Launch.FullCommandLine, c.full) << c.appName;
  }
}

// ---- Bad input ------------------------------------------------------------------

TEST_F(LoadTest, BinaryAndMalformedFilesLoadWithoutHarm) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("[Process_0]\r\nAppName=C:\\a.exe\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  const char nulInHeader[] = "[Process_0]\0\r\nAppName=C:\\a.exe\r\n";
  const std::string files[] = {
      std::string(8192, '\0'),
      std::string(nulInHeader, sizeof nulInHeader - 1),
      utf16,
      "[Process_0\r\nAppName=C:\\a.exe\r\n",   // header without its bracket
      "AppName=C:\\a.exe\r\n",                  // key before any section
      "[Process_0]\r\n=C:\\a.exe\r\nAppName\r\n",
  };
  for (const std::string& file : files) {
    Config(file);
    ASSERT_TRUE(PrcList.LoadFromIni());
    // A file that is not plain text is either understood or yields nothing.
    ASSERT_LE(PrcList.Count, 1);
    if (PrcList.Count == 1) {
      EXPECT_EQ(PrcList.Records[0].Settings.Launch.AppName, "C:\\a.exe");
    }
  }
}

TEST_F(LoadTest, ValuesOf600CharactersAreLoadedCutTo499) {
  Config("[Process_0]\r\nAppName=C:\\" + std::string(597, 'a') + "\r\nCommandLine=" +
         std::string(600, 'c') + "\r\nProcessName=" + std::string(64 * 1024, 'n') + "\r\n");
  ASSERT_TRUE(PrcList.LoadFromIni());
  ASSERT_EQ(PrcList.Count, 1);
  const tclPrc& p = PrcList.Records[0];
  EXPECT_EQ(p.Settings.Launch.AppName, "C:\\" + std::string(496, 'a'));
  EXPECT_EQ(p.Settings.Launch.CommandLine, std::string(499, 'c'));
  EXPECT_EQ(p.Settings.ProcessName, std::string(499, 'n'));
  EXPECT_EQ(p.Settings.Launch.FullCommandLine,
            p.Settings.Launch.AppName + " " + p.Settings.Launch.CommandLine);
}

// ---- FindByName ------------------------------------------------------------------

TEST_F(LoadTest, FindByNameMatchesExactlyIncludingLetterCase) {
  Config("[Process_0]\r\nAppName=C:\\a.exe\r\nProcessName=Web\r\n"
         "[Process_1]\r\nAppName=C:\\b.exe\r\nProcessName=web\r\n"
         "[Process_2]\r\nAppName=C:\\c.exe\r\nProcessName=db\r\n"
         "[Process_3]\r\nAppName=C:\\d.exe\r\nProcessName=db\r\n");
  EXPECT_EQ(PrcList.FindByName("web"), 1);
  EXPECT_EQ(PrcList.FindByName("Web"), 0);
  EXPECT_EQ(PrcList.FindByName("WEB"), -1);
  EXPECT_EQ(PrcList.FindByName("we"), -1);
  EXPECT_EQ(PrcList.FindByName("web "), -1);
  // Duplicates: the lower number wins.
  EXPECT_EQ(PrcList.FindByName("db"), 2);
  // The look-up reads the file and leaves the table alone.
  EXPECT_EQ(PrcList.Count, 0);
  EXPECT_FALSE(sim::FileExists(LogPath));
  EXPECT_TRUE(Log.FileEnabled());
}

TEST_F(LoadTest, FindByNameSeesOnlyCountedSections) {
  Config(AppSections(0, 1) + AppSections(3, 3) +
         "[Process_2]\r\nProcessName=orphan\r\n");
  EXPECT_EQ(PrcList.FindByName("p1"), 1);
  EXPECT_EQ(PrcList.FindByName("p3"), -1);
  EXPECT_EQ(PrcList.FindByName("orphan"), -1);
}

TEST_F(LoadTest, FindByNameWithAnEmptyNameIsMinusOneAndWritesNothing) {
  // Process_1 has no ProcessName: an empty name must not match it.
  Config(AppSections(0, 0) + "[Process_1]\r\nAppName=C:\\x.exe\r\n" + AppSections(2, 126));
  EXPECT_EQ(PrcList.FindByName(""), -1);
  EXPECT_FALSE(sim::FileExists(LogPath));  // not even the limit line: no count was made
}

TEST_F(LoadTest, FindByNameUpToTheLimit) {
  Config(AppSections(0, 129));
  EXPECT_EQ(PrcList.FindByName("p126"), 126);
  EXPECT_EQ(PrcList.FindByName("p127"), -1);
  // Each look-up counts the sections, and the count announces the limit.
  EXPECT_EQ(Logged(), (Lines{LimitLine, LimitLine}));
  EXPECT_TRUE(Log.FileEnabled());
}

TEST_F(LoadTest, FindByNameWithoutAFileIsMinusOne) {
  EXPECT_EQ(PrcList.FindByName("web"), -1);
  EXPECT_FALSE(sim::FileExists(LogPath));
}

// A relative file hangs off the executable's folder, "%NAME%" takes the
// program's variables, and a missing folder leaves the program uncaptured.
TEST_F(LoadTest, OutputKeysGiveFullPathsOrNoCapture) {
  const std::tuple<std::string, std::string, std::string> cases[] = {   // keys, output, error
      {"OutputLog=web.log\r\n", "C:\\QuarnLoader\\web.log", ""},
      {"OutputLog=C:\\Logs\\%SITE%.log\r\nErrorLog=\\Logs\\err.txt\r\nEnv_0=SITE=web\r\n",
       "C:\\Logs\\web.log", "\\Logs\\err.txt"},
      {"OutputLog=C:\\Gone\\web.log\r\nErrorLog=e.log\r\n", "", ""},
  };
  sim::MakeDirectory("C:\\Logs");
  for (const auto& [keys, output, error] : cases) {
    Config(AppSections(0, 0) + keys);
    ASSERT_TRUE(PrcList.LoadFromIni());
    EXPECT_EQ(PrcList.Records[0].Settings.Launch.OutputLog, output) << keys;
    EXPECT_EQ(PrcList.Records[0].Settings.Launch.ErrorLog, error) << keys;
  }
  EXPECT_EQ(kit::Count(Logged(), "Error: The output log's folder does not exist: C:\\Gone"), 1u);
}
