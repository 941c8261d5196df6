#include "config/tclIni.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <string>
#include <vector>

#include "config/Loader.h"
#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::IniPath;
using kit::LogPath;
const std::string Stamp = "Mon Mar 05 09:04:05 2007 :: ";

class IniTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshLog();
    Ini.SetPath(IniPath);
  }
  void TearDown() override { Log.SetFileEnabled(true); }

  static void Config(const std::string& text) { sim::WriteFile(IniPath, text); }

  // The log's lines without their stamps; every line must carry one.
  static std::vector<std::string> Logged() {
    return kit::LogMessagesAt(Stamp);
  }
  static void ClearLog() { sim::RemoveFile(LogPath); }
};

using kit::Lines;

}  // namespace

// ---- Defaults and their echo lines -------------------------------------------

TEST_F(IniTest, MissingFileGivesEveryDefaultAndEchoesIt) {
  EXPECT_EQ(Ini.ReadServiceName(), "(Quarn) Server Loader");
  EXPECT_TRUE(Ini.ReadUserInterface());
  EXPECT_EQ(Ini.ReadRestartInterval(), 1000);
  EXPECT_EQ(Ini.ReadAppName(0), "");
  EXPECT_EQ(Ini.ReadProcessName(0), "");
  EXPECT_EQ(Ini.ReadCommandLine(0), "");
  EXPECT_EQ(Ini.ReadStartDir(0), "");
  EXPECT_EQ(Ini.ReadPriority(0), uint32_t(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(Ini.ReadWindow(0), uint32_t(SW_SHOWNA));
  EXPECT_TRUE(Ini.ReadAutoRestart(0));
  EXPECT_FALSE(Ini.ReadPaused(0));
  EXPECT_EQ(Ini.ReadStartPause(0), 1000);
  EXPECT_EQ(Ini.ReadStopPause(0), 1000);
  EXPECT_EQ(Ini.ReadNumOfRespChecks(0), 0);
  EXPECT_TRUE(Ini.ReadPrcFileLogging(0));
  // UserInterface is read silently; StartDir's fall-back read of AppName too.
  EXPECT_EQ(Logged(), (Lines{"   ServiceName = (Quarn) Server Loader",
                             "   RestartInterval = 1000",
                             "   AppName = ",
                             "   ProcessName = ",
                             "   CommandLine = ",
                             "   StartDir = ",
                             "   Priority = normal",
                             "   Window = showna",
                             "   AutoRestart = yes",
                             "   Paused = no",
                             "   StartPause = 1000",
                             "   StopPause = 1000",
                             "   NumOfRespChecks = 0",
                             "   PrcFileLogging = yes"}));
}

TEST_F(IniTest, MissingSectionOrKeyGivesTheDefaultLikeAMissingFile) {
  Config("[Settings]\r\nUnrelated=1\r\n[Process_1]\r\nStartPause=5\r\n");
  EXPECT_EQ(Ini.ReadRestartInterval(), 1000);
  EXPECT_EQ(Ini.ReadStartPause(0), 1000);
  EXPECT_EQ(Ini.ReadStartPause(1), 5);
}

TEST_F(IniTest, KeyPresentButEmptyEchoesNothingAndYieldsTheDefault) {
  Config(
      "[Settings]\r\nServiceName=\r\nRestartInterval=\r\n"
      "[Process_0]\r\nStartPause=\r\nWindow=\r\nPriority=\r\nAutoRestart=\r\n"
      "Paused=\r\nNumOfRespChecks=\r\n");
  EXPECT_EQ(Ini.ReadServiceName(), "(Quarn) Server Loader");
  EXPECT_EQ(Ini.ReadRestartInterval(), 1000);
  EXPECT_EQ(Ini.ReadStartPause(0), 1000);
  EXPECT_EQ(Ini.ReadWindow(0), uint32_t(SW_SHOWNA));
  EXPECT_EQ(Ini.ReadPriority(0), uint32_t(NORMAL_PRIORITY_CLASS));
  EXPECT_TRUE(Ini.ReadAutoRestart(0));
  EXPECT_FALSE(Ini.ReadPaused(0));
  EXPECT_EQ(Ini.ReadNumOfRespChecks(0), 0);
  // No "Invalid Setting" line: the empty Window became the default word.
  EXPECT_EQ(Logged(), (Lines{"   ServiceName = ", "   RestartInterval = ", "   StartPause = ",
                             "   Window = ", "   Priority = ", "   AutoRestart = ",
                             "   Paused = ", "   NumOfRespChecks = "}));
}

TEST_F(IniTest, OptionalKeysAreEchoedOnlyWhenTheFileHasThem) {
  Config("[Process_0]\r\nMinUptime=250\r\nEmpty=\r\nTree=Yes\r\n");
  EXPECT_TRUE(Ini.HasKey("Process_0", "Empty"));
  EXPECT_FALSE(Ini.HasKey("Process_0", "Missing"));
  EXPECT_FALSE(Ini.HasKey("Process_1", "MinUptime"));
  EXPECT_EQ(Ini.ReadOptionalInteger("Process_0", "MinUptime", 0), 250);
  EXPECT_EQ(Ini.ReadOptionalInteger("Process_0", "MaxRestartDelay", 60000), 60000);
  EXPECT_EQ(Ini.ReadOptionalInteger("Process_0", "Empty", 7), 7);
  EXPECT_TRUE(Ini.ReadOptionalYesNo("Process_0", "Tree", false));
  EXPECT_FALSE(Ini.ReadOptionalYesNo("Process_0", "Missing", false));
  EXPECT_EQ(Logged(), (Lines{"   MinUptime = 250", "   Empty = ", "   Tree = Yes"}));
}

TEST_F(IniTest, LogLimitsAreClampedAndEchoedOnlyWhenSet) {
  EXPECT_EQ(Ini.ReadLogMaxSize(), 0);
  EXPECT_EQ(Ini.ReadLogBackups(), 1);
  EXPECT_FALSE(sim::FileExists(LogPath)) << "absent keys are read silently";
  const std::pair<const char*, int32_t> backups[] = {{"0", 1}, {"-3", 1}, {"1", 1},
                                                     {"9", 9}, {"10", 9}, {"x", 1}};
  for (const auto& b : backups) {
    Config(std::string("[Settings]\r\nLogMaxSize=-5\r\nLogBackups=") + b.first + "\r\n");
    EXPECT_EQ(Ini.ReadLogBackups(), b.second) << b.first;
    EXPECT_EQ(Ini.ReadLogMaxSize(), 0);
  }
  Config("[Settings]\r\nLogMaxSize=2048\r\nLogBackups=4\r\n");
  EXPECT_EQ(Ini.ReadLogMaxSize(), 2048);
  EXPECT_EQ(Ini.ReadLogBackups(), 4);
  EXPECT_EQ(Logged().back(), "   LogBackups = 4");
}

// ---- Conversions -----------------------------------------------------------------

TEST_F(IniTest, WordsEchoInTheFilesLetterCaseAndAreComparedLowerCased) {
  Config(
      "[Process_0]\r\nWindow=Minimize\r\nPriority=High\r\n"
      "[Process_1]\r\nWindow=Tiny\r\nPriority=HIGH\r\n"
      "[Process_2]\r\nWindow=Hidden\r\nPriority=highest\r\n");
  EXPECT_EQ(Ini.ReadWindow(0), uint32_t(SW_MINIMIZE));
  EXPECT_EQ(Ini.ReadPriority(0), uint32_t(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(Ini.ReadWindow(1), uint32_t(SW_SHOWNA));
  EXPECT_EQ(Ini.ReadPriority(1), uint32_t(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(Ini.ReadWindow(2), uint32_t(SW_SHOWNA));
  EXPECT_EQ(Ini.ReadPriority(2), uint32_t(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(Logged(), (Lines{"   Window = Minimize", "   Priority = High", "   Window = Tiny",
                             "Error: Invalid Setting = tiny", "   Priority = HIGH",
                             "   Window = Hidden", "Error: Invalid Setting = hidden",
                             "   Priority = highest"}));
}

TEST_F(IniTest, YesNoIsTrueOnlyForYesInAnyLetterCase) {
  const struct {
    const char* value;
    bool expected;
  } cases[] = {{"yes", true}, {"Yes", true},  {"YES", true},  {"no", false},
               {"true", false}, {"1", false}, {"y", false},   {"yess", false},
               {"on", false}};
  for (const auto& c : cases) {
    Config(std::string("[Process_0]\r\nAutoRestart=") + c.value + "\r\nPaused=" + c.value +
           "\r\nPrcFileLogging=" + c.value + "\r\n[Settings]\r\nUserInterface=" + c.value +
           "\r\n");
    EXPECT_EQ(Ini.ReadAutoRestart(0), c.expected) << c.value;
    EXPECT_EQ(Ini.ReadPaused(0), c.expected) << c.value;
    EXPECT_EQ(Ini.ReadPrcFileLogging(0), c.expected) << c.value;
    EXPECT_EQ(Ini.ReadUserInterface(), c.expected) << c.value;
  }
}

TEST_F(IniTest, IntegersTakeTheirLeadingDigitsAndEchoTheTextAsWritten) {
  Config(
      "[Settings]\r\nRestartInterval=-5\r\n"
      "[Process_0]\r\nStartPause=250ms\r\nStopPause=abc\r\nNumOfRespChecks=+3\r\n"
      "[Process_1]\r\nStartPause=-5\r\nStopPause=99999999999\r\nNumOfRespChecks=-\r\n");
  EXPECT_EQ(Ini.ReadRestartInterval(), 0);
  EXPECT_EQ(Ini.ReadStartPause(0), 250);
  EXPECT_EQ(Ini.ReadStopPause(0), 0);
  EXPECT_EQ(Ini.ReadNumOfRespChecks(0), 3);
  // The reader hands the negative pause on; the loader takes it as 0.
  EXPECT_EQ(Ini.ReadStartPause(1), -5);
  EXPECT_EQ(Ini.ReadStopPause(1), 1215752191);
  EXPECT_EQ(Ini.ReadNumOfRespChecks(1), 0);
  EXPECT_EQ(Logged(), (Lines{"   RestartInterval = -5", "   StartPause = 250ms",
                             "   StopPause = abc", "   NumOfRespChecks = +3",
                             "   StartPause = -5", "   StopPause = 99999999999",
                             "   NumOfRespChecks = -"}));
}

TEST_F(IniTest, PositiveRestartIntervalIsKept) {
  Config("[Settings]\r\nRestartInterval=2500\r\n");
  EXPECT_EQ(Ini.ReadRestartInterval(), 2500);
  Config("[Settings]\r\nRestartInterval=0\r\n");
  EXPECT_EQ(Ini.ReadRestartInterval(), 0);
}

TEST_F(IniTest, TextsKeepTheirLetterCaseAndEchoTheKeyAsTheCallerNamedIt) {
  Config(
      "[settings]\r\nservicename=My Server Host\r\n"
      "[PROCESS_0]\r\nappname=C:\\Tools\\Srv.EXE\r\nPROCESSNAME=Web\r\n"
      "commandline=-Port 80 %PATH%\r\n");
  EXPECT_EQ(Ini.ReadServiceName(), "My Server Host");
  EXPECT_EQ(Ini.ReadAppName(0), "C:\\Tools\\Srv.EXE");
  EXPECT_EQ(Ini.ReadProcessName(0), "Web");
  EXPECT_EQ(Ini.ReadCommandLine(0), "-Port 80 %PATH%");
  EXPECT_EQ(Logged(), (Lines{"   ServiceName = My Server Host", "   AppName = C:\\Tools\\Srv.EXE",
                             "   ProcessName = Web", "   CommandLine = -Port 80 %PATH%"}));
}

TEST_F(IniTest, ValueLongerThan499CharactersIsCutTo499) {
  const std::string longValue(600, 'v');
  Config("[Process_0]\r\nAppName=" + longValue + "\r\nCommandLine=" + std::string(499, 'c') +
         "\r\n");
  EXPECT_EQ(Ini.ReadAppName(0), std::string(499, 'v'));
  EXPECT_EQ(Ini.ReadCommandLine(0), std::string(499, 'c'));
  EXPECT_EQ(Logged(), (Lines{"   AppName = " + std::string(499, 'v'),
                             "   CommandLine = " + std::string(499, 'c')}));
}

TEST_F(IniTest, EveryReadGoesToTheFileAsItIsNow) {
  Config("[Process_0]\r\nAppName=C:\\one.exe\r\n");
  EXPECT_EQ(Ini.ReadAppName(0), "C:\\one.exe");
  Config("[Process_0]\r\nAppName=C:\\two.exe\r\n");
  EXPECT_EQ(Ini.ReadAppName(0), "C:\\two.exe");
  sim::RemoveFile(IniPath);
  EXPECT_EQ(Ini.ReadAppName(0), "");
}

TEST_F(IniTest, SetPathSwitchesTheFileThatIsRead) {
  sim::WriteFile("D:\\Other\\QuarnLoader.ini", "[Settings]\r\nServiceName=Other\r\n");
  Config("[Settings]\r\nServiceName=Here\r\n");
  EXPECT_EQ(Ini.ReadServiceName(), "Here");
  Ini.SetPath("D:\\Other\\QuarnLoader.ini");
  EXPECT_EQ(Ini.ReadServiceName(), "Other");
}

TEST(IniSectionName, IsProcessUnderscoreAndTheNumberInDecimal) {
  EXPECT_EQ(tclIni::SectionName(0), "Process_0");
  EXPECT_EQ(tclIni::SectionName(7), "Process_7");
  EXPECT_EQ(tclIni::SectionName(126), "Process_126");
  EXPECT_EQ(tclIni::SectionName(-1), "Process_-1");
}

// ---- StartDir --------------------------------------------------------------------

TEST_F(IniTest, MissingStartDirFallsBackSilentlyToTheDirectoryOfAppName) {
  Config("[Process_0]\r\nAppName=C:\\Apps\\x.exe\r\n");
  EXPECT_EQ(Ini.ReadStartDir(0), "C:\\Apps\\");
  EXPECT_EQ(Logged(), (Lines{"   StartDir = "}));
  EXPECT_TRUE(Log.FileEnabled());
}

TEST_F(IniTest, StartDirFallBackCases) {
  const struct {
    const char* appName;
    const char* startDir;
  } cases[] = {{"C:\\Tools\\srv.exe", "C:\\Tools\\"},
               {"C:\\srv.exe", "C:\\"},
               {"srv.exe", ""},
               {"\\srv.exe", ""},
               {"C:/Tools/srv.exe", ""},
               {"C:\\Program Files\\Srv\\srv.exe -x", "C:\\Program Files\\Srv\\"}};
  for (const auto& c : cases) {
    Config(std::string("[Process_3]\r\nAppName=") + c.appName + "\r\nStartDir=\r\n");
    EXPECT_EQ(Ini.ReadStartDir(3), c.startDir) << c.appName;
  }
}

TEST_F(IniTest, StartDirAsWrittenWins) {
  Config("[Process_0]\r\nAppName=C:\\Apps\\x.exe\r\nStartDir=D:\\Work\r\n");
  EXPECT_EQ(Ini.ReadStartDir(0), "D:\\Work");
  EXPECT_EQ(Logged(), (Lines{"   StartDir = D:\\Work"}));
}

// ---- Silent reads ----------------------------------------------------------------

TEST_F(IniTest, ReadsWithTheFileSwitchOffWriteNothingButStillReadTheValue) {
  Config("[Settings]\r\nServiceName=Quiet\r\n[Process_0]\r\nWindow=Tiny\r\nStartPause=7\r\n");
  Log.SetFileEnabled(false);
  EXPECT_EQ(Ini.ReadServiceName(), "Quiet");
  EXPECT_EQ(Ini.ReadStartPause(0), 7);
  EXPECT_EQ(Ini.ReadWindow(0), uint32_t(SW_SHOWNA));
  Log.SetFileEnabled(true);
  EXPECT_FALSE(sim::FileExists(LogPath));
}

TEST_F(IniTest, SilentReadsSwitchTheFileOnAfterwardsWhateverItWasBefore) {
  Config("[Process_0]\r\nAppName=C:\\Apps\\x.exe\r\n");
  Log.SetFileEnabled(false);
  Ini.ReadUserInterface();
  EXPECT_TRUE(Log.FileEnabled());
  Log.SetFileEnabled(false);
  EXPECT_EQ(Ini.ReadStartDir(0), "C:\\Apps\\");
  EXPECT_TRUE(Log.FileEnabled());
}

TEST_F(IniTest, SilentReadOnAnotherThreadDoesNotSwallowThisThreadsEcho) {
  Config("[Settings]\r\nUserInterface=no\r\nServiceName=Svc\r\n");
  bool interactive = true;
  std::thread other([&] { interactive = Ini.ReadUserInterface(); });
  EXPECT_EQ(Ini.ReadServiceName(), "Svc");
  other.join();
  EXPECT_FALSE(interactive);
  EXPECT_EQ(Logged(), (Lines{"   ServiceName = Svc"}));
}

// ---- Files that are not what they should be -------------------------------------

TEST_F(IniTest, EmptyFileGivesDefaults) {
  Config("");
  EXPECT_EQ(Ini.ReadServiceName(), "(Quarn) Server Loader");
  EXPECT_EQ(Ini.ReadStartPause(0), 1000);
  EXPECT_EQ(Ini.ReadWindow(0), uint32_t(SW_SHOWNA));
}

TEST_F(IniTest, RandomBytesWithoutSectionHeadersGiveDefaults) {
  std::mt19937 random(20070305);
  std::string bytes;
  while (bytes.size() < 64 * 1024) {
    char c = char(random() & 0xFF);
    if (c != '[') bytes += c;
  }
  Config(bytes);
  EXPECT_EQ(Ini.ReadServiceName(), "(Quarn) Server Loader");
  EXPECT_EQ(Ini.ReadAppName(0), "");
  EXPECT_EQ(Ini.ReadRestartInterval(), 1000);
  EXPECT_EQ(Ini.ReadWindow(0), uint32_t(SW_SHOWNA));
  EXPECT_EQ(CountSections(Ini), 0);
}

TEST_F(IniTest, RandomBytesAroundRealSectionsNeverGiveMoreThan499Characters) {
  std::mt19937 random(42);
  for (int round = 0; round < 20; ++round) {
    std::string bytes = "[Process_0]\r\nAppName=";
    for (int i = 0; i < 4000; ++i) bytes += char(random() & 0xFF);
    Config(bytes);
    EXPECT_LE(Ini.ReadAppName(0).size(), 499u);
    EXPECT_LE(Ini.ReadCommandLine(0).size(), 499u);
    Ini.ReadWindow(0);
    Ini.ReadStartPause(0);
  }
}

TEST_F(IniTest, NulBytesEndTheValueAndNothingIsReadBeyondThem) {
  const char withNul[] = "[Process_0]\r\nAppName=C:\\a\0b.exe\r\nCommandLine=-x\r\n";
  Config(std::string(withNul, sizeof withNul - 1));
  EXPECT_EQ(Ini.ReadAppName(0), "C:\\a");
  EXPECT_EQ(Ini.ReadCommandLine(0), "-x");
  Config(std::string(4096, '\0'));
  EXPECT_EQ(Ini.ReadServiceName(), "(Quarn) Server Loader");
}

TEST_F(IniTest, Utf16FileIsEitherDecodedOrGivesDefaultsNeverGarbage) {
  const std::string text = "[Settings]\r\nServiceName=Wide Svc\r\n";
  std::string wide = "\xFF\xFE";
  for (char c : text) {
    wide += c;
    wide += '\0';
  }
  Config(wide);
  std::string name = Ini.ReadServiceName();
  EXPECT_TRUE(name == "Wide Svc" || name == "(Quarn) Server Loader") << name;
}

TEST_F(IniTest, OneMegabyteLineIsCutAndTheLinesAfterItAreStillRead) {
  Config("[Settings]\r\nJunk=" + std::string(1 << 20, 'j') + "\r\n[Process_0]\r\nAppName=" +
         std::string(1 << 20, 'a') + "\r\nCommandLine=-after\r\n");
  EXPECT_EQ(Ini.ReadAppName(0), std::string(499, 'a'));
  EXPECT_EQ(Ini.ReadCommandLine(0), "-after");
  EXPECT_EQ(Ini.ReadServiceName(), "(Quarn) Server Loader");
}
