#include "log/tclLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::LogPath;
// The simulated clock starts at Mon Mar 05 09:04:05 2007 local time.
const std::string Stamp = "Mon Mar 05 09:04:05 2007 :: ";

class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshLog();
  }
  void TearDown() override { Log.SetFileEnabled(true); }
};

SYSTEMTIME LocalTime(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME t = {};
  t.wYear = WORD(year);
  t.wMonth = WORD(month);
  t.wDay = WORD(day);
  t.wHour = WORD(hour);
  t.wMinute = WORD(minute);
  t.wSecond = WORD(second);
  return t;
}

}  // namespace

// ---- Line format ----------------------------------------------------------

TEST_F(LogTest, BothLineShowsPlainConsoleCopyAndStampedFileLineWithCrLf) {
  testing::internal::CaptureStdout();
  Log.BothLine("Attempting to start the service ...", false, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Attempting to start the service ...\n");
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "Attempting to start the service ...\r\n");
}

TEST_F(LogTest, StampFlagsChooseEachDestinationsForm) {
  testing::internal::CaptureStdout();
  Log.ConsoleLine("console stamped", true);
  Log.ConsoleLine("console plain", false);
  Log.ConsoleText("no end", false);
  Log.BothLine("both reversed", true, false);
  std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console, Stamp + "console stamped\nconsole plain\nno end" + Stamp + "both reversed\n");

  Log.FileLine("file stamped", true);
  Log.FileLine("file plain", false);
  EXPECT_EQ(sim::ReadFile(LogPath), "both reversed\r\n" + Stamp + "file stamped\r\nfile plain\r\n");
}

TEST_F(LogTest, EmptyStampedLineIsTheStampAlone) {
  Log.FileLine("", true);
  Log.FileLine("", false);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "\r\n\r\n");
}

TEST_F(LogTest, EveryLineFeedOfAMessageBecomesCrLf) {
  Log.FileLine("first\nsecond", true);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "first\r\nsecond\r\n");
}

TEST_F(LogTest, PercentSignsAndFormatDirectivesAreWrittenUnchanged) {
  const std::string text = "cmd.exe /c %TEMP%\\run.bat 100% %s %d %n %%";
  testing::internal::CaptureStdout();
  Log.BothLine(text, false, true);
  Log.ConsoleLine(text, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), text + "\n" + Stamp + text + "\n");
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + text + "\r\n");
}

TEST_F(LogTest, BytesOutsideAsciiAndEmbeddedNulReachTheFileUnchanged) {
  const std::string text = std::string("M\xFC" "ller \x80\xFF") + std::string(1, '\0') + "end";
  Log.FileLine(text, false);
  EXPECT_EQ(sim::ReadFile(LogPath), text + "\r\n");
}

TEST_F(LogTest, StampFormatPadsDayAndTimeWithZeros) {
  sim::SetLocalTimeBase(LocalTime(2007, 3, 5, 9, 4, 5));
  EXPECT_EQ(Log.TimeStamp(), "Mon Mar 05 09:04:05 2007 :: ");
  sim::SetLocalTimeBase(LocalTime(2024, 2, 29, 0, 0, 0));
  EXPECT_EQ(Log.TimeStamp(), "Thu Feb 29 00:00:00 2024 :: ");
  sim::SetLocalTimeBase(LocalTime(1999, 12, 31, 23, 59, 59));
  EXPECT_EQ(Log.TimeStamp(), "Fri Dec 31 23:59:59 1999 :: ");
  sim::Advance(1000);
  EXPECT_EQ(Log.TimeStamp(), "Sat Jan 01 00:00:00 2000 :: ");
}

TEST_F(LogTest, StampNamesEveryWeekdayAndMonthInEnglish) {
  // 1 January 2007 was a Monday; walk a whole year a day at a time.
  const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  sim::SetLocalTimeBase(LocalTime(2007, 1, 1, 12, 30, 0));
  int weekday = 0;
  for (int m = 0; m < 12; ++m) {
    for (int d = 1; d <= monthDays[m]; ++d) {
      char expected[64];
      snprintf(expected, sizeof expected, "%s %s %02d 12:30:00 2007 :: ", days[weekday],
               months[m], d);
      ASSERT_EQ(Log.TimeStamp(), expected);
      weekday = (weekday + 1) % 7;
      sim::Advance(24u * 3600u * 1000u);
    }
  }
}

TEST_F(LogTest, EachStampedCopyTakesItsOwnTime) {
  Log.FileLine("before", true);
  sim::Advance(61 * 1000);
  Log.FileLine("after", true);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "before\r\nMon Mar 05 09:05:06 2007 :: after\r\n");
}

// ---- The file: append, recreate, two-piece lines ---------------------------

TEST_F(LogTest, LinesAreAppendedToAnExistingFileNeverTruncated) {
  sim::WriteFile(LogPath, "old line\r\n");
  Log.FileLine("new line", true);
  EXPECT_EQ(sim::ReadFile(LogPath), "old line\r\n" + Stamp + "new line\r\n");
}

TEST_F(LogTest, DeletedFileIsRecreatedByTheNextLine) {
  Log.FileLine("one", true);
  sim::RemoveFile(LogPath);
  Log.FileLine("two", true);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "two\r\n");
}

TEST_F(LogTest, FileIsClosedBetweenWrites) {
  Log.FileLine("one", true);
  // Another program may replace the file between two lines.
  sim::WriteFile(LogPath, "replaced\r\n");
  Log.FileLine("two", true);
  EXPECT_EQ(sim::ReadFile(LogPath), "replaced\r\n" + Stamp + "two\r\n");
}

TEST_F(LogTest, StampedPieceAndUnstampedRestMakeOneLine) {
  Log.FileText("Stopped process ", true);
  Log.FileLine("C:\\Tools\\srv.exe", false);
  Log.FileLine("next", true);
  EXPECT_EQ(sim::ReadFile(LogPath),
            Stamp + "Stopped process C:\\Tools\\srv.exe\r\n" + Stamp + "next\r\n");
}

TEST_F(LogTest, PathChangeTakesEffectForTheNextLine) {
  Log.FileLine("first", true);
  Log.SetPath("C:\\QuarnLoader\\other.log");
  EXPECT_EQ(Log.GetPath(), "C:\\QuarnLoader\\other.log");
  Log.FileLine("second", true);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "first\r\n");
  EXPECT_EQ(sim::ReadFile("C:\\QuarnLoader\\other.log"), Stamp + "second\r\n");
}

// ---- FileEnabled -----------------------------------------------------------

TEST_F(LogTest, FileSwitchOffDropsFileCopiesOnlyAndLeavesNoTrace) {
  Log.SetFileEnabled(false);
  EXPECT_FALSE(Log.FileEnabled());
  testing::internal::CaptureStdout();
  Log.BothLine("console only", false, true);
  Log.FileLine("dropped", true);
  Log.FileText("dropped piece ", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "console only\n");
  EXPECT_FALSE(sim::FileExists(LogPath));

  Log.SetFileEnabled(true);
  EXPECT_TRUE(Log.FileEnabled());
  Log.FileLine("back", true);
  // The piece written while off must not stick to the next line.
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "back\r\n");
}

TEST_F(LogTest, SwitchingOnIsAbsoluteAndDoesNotCountNesting) {
  Log.SetFileEnabled(false);
  Log.SetFileEnabled(false);
  Log.SetFileEnabled(true);
  Log.FileLine("on after two offs and one on", false);
  EXPECT_EQ(sim::ReadFile(LogPath), "on after two offs and one on\r\n");
}

// The scope does not restore what was before: its end switches on, even
// inside an outer scope or after an explicit off.
TEST_F(LogTest, FileSwitchScopeHoldsForTheScopeAndEndsSwitchedOn) {
  {
    FileSwitch quiet(Log, false);
    Log.FileLine("dropped", true);
    {
      FileSwitch program(Log, true);
      Log.FileText("Stopped process ", true);
      Log.FileLine("C:\\a.exe", false);
    }
    EXPECT_TRUE(Log.FileEnabled());
  }
  Log.SetFileEnabled(false);
  { FileSwitch quiet(Log, false); }
  EXPECT_TRUE(Log.FileEnabled());
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "Stopped process C:\\a.exe\r\n");
}

TEST_F(LogTest, SwitchOffOnOneThreadDoesNotSilenceAnother) {
  Log.SetFileEnabled(false);
  std::thread other([] {
    EXPECT_TRUE(Log.FileEnabled());
    Log.FileLine("from the other thread", true);
  });
  other.join();
  Log.FileLine("silenced", true);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "from the other thread\r\n");
}

TEST_F(LogTest, SwitchSetOnAnotherThreadLeavesThisThreadsSwitchAlone) {
  std::thread other([] {
    Log.SetFileEnabled(false);
    Log.FileLine("silenced", true);
  });
  other.join();
  EXPECT_TRUE(Log.FileEnabled());
  Log.FileLine("still written", true);
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "still written\r\n");
}

// ---- Console fallback --------------------------------------------------------

TEST_F(LogTest, LockedFileSendsFileCopyToConsoleSoBothLineShowsTwice) {
  sim::WriteFile(LogPath, "kept\r\n");
  sim::LockFile(LogPath, true);
  testing::internal::CaptureStdout();
  Log.BothLine("Error (5) opening the service manager.", false, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error (5) opening the service manager.\n" + Stamp +
                "Error (5) opening the service manager.\n");
  EXPECT_EQ(sim::ReadFile(LogPath), "kept\r\n");
}

TEST_F(LogTest, FallbackKeepsTheFileStampChoice) {
  sim::LockFile(LogPath, true);
  testing::internal::CaptureStdout();
  Log.FileLine("unstamped", false);
  Log.BothLine("both stamped", true, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "unstamped\n" + Stamp + "both stamped\n" + Stamp + "both stamped\n");
}

TEST_F(LogTest, MissingDirectorySendsTheLineToTheConsole) {
  Log.SetPath("C:\\NoSuchFolder\\QuarnLoader.log");
  testing::internal::CaptureStdout();
  Log.FileLine("nowhere else to go", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Stamp + "nowhere else to go\n");
  EXPECT_FALSE(sim::FileExists("C:\\NoSuchFolder\\QuarnLoader.log"));
}

TEST_F(LogTest, TwoPieceLineFallsBackWhole) {
  sim::LockFile(LogPath, true);
  testing::internal::CaptureStdout();
  Log.FileText("Stopped process ", true);
  Log.FileLine("srv.exe", false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Stamp + "Stopped process srv.exe\n");
}

TEST_F(LogTest, FallbackIsNotStickyTheNextWriteTriesTheFileAgain) {
  sim::LockFile(LogPath, true);
  testing::internal::CaptureStdout();
  Log.FileLine("to console", true);
  sim::LockFile(LogPath, false);
  Log.FileLine("to file", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Stamp + "to console\n");
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "to file\r\n");
}

TEST_F(LogTest, SwitchOffWinsOverFallback) {
  sim::LockFile(LogPath, true);
  Log.SetFileEnabled(false);
  testing::internal::CaptureStdout();
  Log.FileLine("gone", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// ---- Kept lines (service role) ---------------------------------------------------

TEST_F(LogTest, LinesKeptWhileTheFileIsHeldArriveInOrderWithTheirOwnStamps) {
  Log.KeepUnwrittenLines(true);
  sim::WriteFile(LogPath, "before\r\n");
  sim::LockFile(LogPath, true);
  testing::internal::CaptureStdout();
  Log.FileLine("first", true);
  sim::Advance(2000);
  Log.FileText("Stopped process ", true);
  Log.FileLine("srv.exe", false);
  Log.WriteKeptLines();  // still held: nothing happens
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(sim::ReadFile(LogPath), "before\r\n");

  sim::LockFile(LogPath, false);
  sim::Advance(3000);
  Log.FileLine("after", true);
  EXPECT_EQ(sim::ReadFile(LogPath), "before\r\n" + Stamp + "first\r\n" +
                                        "Mon Mar 05 09:04:07 2007 :: Stopped process srv.exe\r\n" +
                                        "Mon Mar 05 09:04:10 2007 :: after\r\n");

  // Kept lines also go out without waiting for a new one.
  sim::LockFile(LogPath, true);
  Log.FileLine("late", true);
  sim::LockFile(LogPath, false);
  Log.WriteKeptLines();
  EXPECT_EQ(kit::LogLines().back(), "Mon Mar 05 09:04:10 2007 :: late");
}

TEST_F(LogTest, KeptLinesAreBoundedAndTheLossIsCounted) {
  Log.KeepUnwrittenLines(true);
  sim::LockFile(LogPath, true);
  const std::string body(999, 'x');  // 1000 bytes a line with its line feed
  const int lines = int(tclLog::KeptLimit / 1000) + 50;
  for (int i = 0; i < lines; ++i) Log.FileLine(std::to_string(i % 10) + body.substr(1), false);
  sim::LockFile(LogPath, false);
  Log.WriteKeptLines();

  std::vector<std::string> written = kit::LogLines();
  const int kept = int(tclLog::KeptLimit / 1000);
  ASSERT_EQ(written.size(), size_t(kept + 1));
  EXPECT_EQ(written[0], Stamp + "Warning: " + std::to_string(lines - kept) +
                            " log lines were lost while the log file could not be opened.");
  EXPECT_EQ(written[1][0], char('0' + (lines - kept) % 10)) << "the oldest gave way";
  EXPECT_EQ(written.back()[0], char('0' + (lines - 1) % 10));
}

// ---- Two threads ---------------------------------------------------------------

// The service's two threads write at once: one the two-piece stop lines while
// switching its file switch around silent stretches, the other plain lines.
// Every line must arrive whole, and only the silenced ones may be missing.
TEST_F(LogTest, TwoThreadsHammeringTheLogKeepEveryLineWhole) {
  const int rounds = 400;
  std::thread stopper([&] {
    for (int i = 0; i < rounds; ++i) {
      Log.FileText("Stopped process ", true);
      Log.FileLine("C:\\Apps\\worker " + std::to_string(i) + ".exe", false);
      Log.SetFileEnabled(false);
      Log.FileLine("silenced " + std::to_string(i), true);
      Log.SetFileEnabled(true);
    }
  });
  std::thread handler([&] {
    for (int i = 0; i < rounds; ++i) {
      Log.FileLine("Control code " + std::to_string(i) + " received.", true);
    }
  });
  stopper.join();
  handler.join();

  std::vector<std::string> lines = kit::LogLines();
  ASSERT_EQ(lines.size(), size_t(2 * rounds));
  int nextStop = 0, nextControl = 0;
  for (const std::string& line : lines) {
    ASSERT_EQ(line.compare(0, Stamp.size(), Stamp), 0) << line;
    std::string message = line.substr(Stamp.size());
    if (message == "Stopped process C:\\Apps\\worker " + std::to_string(nextStop) + ".exe")
      ++nextStop;
    else if (message == "Control code " + std::to_string(nextControl) + " received.")
      ++nextControl;
    else
      FAIL() << "torn or foreign line: " << line;
  }
  EXPECT_EQ(nextStop, rounds);
  EXPECT_EQ(nextControl, rounds);
}

// ---- Rotation --------------------------------------------------------------------

namespace {

std::string Backup(int k) { return tclLog::BackupPathOf(LogPath, k); }

// A message that takes `bytes` in the file with its CR LF.
std::string Sized(char c, size_t bytes = 50) { return std::string(bytes - 2, c); }
std::string InFile(const std::string& chars) {
  std::string out;
  for (char c : chars) out += Sized(c) + "\r\n";
  return out;
}
void Write(const std::string& chars) {
  for (char c : chars) Log.FileLine(Sized(c), false);
}

}  // namespace

TEST_F(LogTest, RotationKeepsTheFileWithinTheLimitShiftsBackupsAndDropsTheOldest) {
  Log.SetRotation(100, 2);
  Write("ab");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("ab")) << "exactly at the limit is within it";
  EXPECT_FALSE(sim::FileExists(Backup(1)));
  Write("cde");
  EXPECT_EQ(sim::ReadFile(Backup(2)), InFile("ab"));
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("cd"));
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("e"));
  Write("fg");
  EXPECT_EQ(sim::ReadFile(Backup(2)), InFile("cd")) << "the oldest is gone";
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("ef"));
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("g"));
  EXPECT_FALSE(sim::FileExists(Backup(3)));

  // A line beyond the limit is not cut: it fills a file of its own.
  Log.FileLine(Sized('h', 300), false);
  EXPECT_EQ(sim::ReadFile(LogPath), Sized('h', 300) + "\r\n");
  Write("i");
  EXPECT_EQ(sim::ReadFile(Backup(1)), Sized('h', 300) + "\r\n");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("i"));
}

TEST_F(LogTest, BackupAndLockNamesComeFromTheLogsOwnPath) {
  EXPECT_EQ(tclLog::BackupPathOf("D:\\Srv\\QuarnLoader.log", 3), "D:\\Srv\\QuarnLoader.3.log");
  EXPECT_EQ(tclLog::BackupPathOf("D:\\a.b\\X.LOG", 1), "D:\\a.b\\X.1.LOG");
  EXPECT_EQ(tclLog::BackupPathOf("D:\\a.b\\journal", 9), "D:\\a.b\\journal.9");
  std::string name = tclLog::LockNameOf("C:\\QuarnLoader\\QuarnLoader.log");
  EXPECT_EQ(name, tclLog::LockNameOf("c:\\quarnloader\\QUARNLOADER.LOG"));
  EXPECT_NE(name, tclLog::LockNameOf("C:\\QuarnLoader2\\QuarnLoader.log"));
  EXPECT_EQ(name.find('\\'), name.rfind('\\')) << "only the prefix's backslash: " << name;
}

// A viewer holding a backup stops the shift; the line still goes to the
// file, the next line tries again, and no retry costs a backup.
TEST_F(LogTest, ARefusedRenameIsRetriedAtTheNextLineWithoutLosingALineOrABackup) {
  Log.SetRotation(100, 3);
  sim::WriteFile(LogPath, InFile("aa"));
  sim::WriteFile(Backup(1), "one\r\n");
  sim::WriteFile(Backup(2), "two\r\n");
  sim::LockFile(Backup(1), true);
  Write("bc");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("aabc"));
  EXPECT_EQ(sim::ReadFile(Backup(1)), "one\r\n");
  EXPECT_EQ(sim::ReadFile(Backup(3)), "two\r\n");
  EXPECT_FALSE(sim::FileExists(Backup(2)));

  sim::LockFile(Backup(1), false);
  Write("d");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("d"));
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("aabc"));
  EXPECT_EQ(sim::ReadFile(Backup(2)), "one\r\n");
  EXPECT_EQ(sim::ReadFile(Backup(3)), "two\r\n");

  // The live file held: its lines go where they went before (the console).
  Write("e");
  sim::LockFile(LogPath, true);
  testing::internal::CaptureStdout();
  Write("fg");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Sized('f') + "\n" + Sized('g') + "\n");
  sim::LockFile(LogPath, false);
  Write("h");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("h"));
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("de"));
  EXPECT_EQ(sim::ReadFile(Backup(2)), InFile("aabc"));
  EXPECT_EQ(sim::ReadFile(Backup(3)), "one\r\n") << "one rotation dropped one backup";
}

TEST_F(LogTest, LinesKeptWhileTheFileWasHeldStayTogetherInTheNewFile) {
  Log.KeepUnwrittenLines(true);
  Log.SetRotation(100, 1);
  sim::WriteFile(LogPath, InFile("a"));
  sim::LockFile(LogPath, true);
  Write("bc");
  sim::LockFile(LogPath, false);
  Write("d");
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("a"));
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("bcd"));
}

TEST_F(LogTest, WithoutALimitTheFileGrowsAndNoBackupOrLockAppears) {
  for (int i = 0; i < 100; ++i) Log.FileLine(Sized('a'), false);
  EXPECT_EQ(sim::ReadFile(LogPath).size(), 5000u);
  EXPECT_FALSE(sim::FileExists(Backup(1)));
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, tclLog::LockNameOf(LogPath).c_str()), nullptr);
}

// Another process holding the lock: one bounded wait, then lines are
// appended unrotated (none lost) until the lock is free again.
TEST_F(LogTest, WhileAnotherProcessHoldsTheLockLinesAreAppendedUnrotated) {
  Log.SetRotation(100, 1);
  Write("ab");
  std::atomic<bool> held{false}, letGo{false};
  std::thread other([&] {
    HANDLE lock = CreateMutexA(nullptr, FALSE, tclLog::LockNameOf(LogPath).c_str());
    held = WaitForSingleObject(lock, 0) == WAIT_OBJECT_0;
    while (!letGo) std::this_thread::yield();
    ReleaseMutex(lock);
    CloseHandle(lock);
  });
  while (!held) std::this_thread::yield();
  Write("cd");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("abcd"));
  letGo = true;
  other.join();
  Write("e");
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("abcd"));
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("e"));
}

// A mutex the other role made may only be opened; with neither, no rotation.
TEST_F(LogTest, AMutexThatCannotBeMadeIsOpenedAndWithoutOneNothingRotates) {
  Log.SetRotation(100, 1);
  sim::WriteFile(LogPath, InFile("ab"));
  sim::FailNext("CreateMutexA", ERROR_ACCESS_DENIED);
  Write("c");
  EXPECT_EQ(sim::ReadFile(LogPath), InFile("abc"));
  HANDLE theirs = CreateMutexA(nullptr, FALSE, tclLog::LockNameOf(LogPath).c_str());
  sim::FailNext("CreateMutexA", ERROR_ACCESS_DENIED);
  Write("d");
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("abc"));
  CloseHandle(theirs);
}

// Two processes, the console and the service, with a log object each: the
// named lock alone keeps them from rotating over each other.
TEST_F(LogTest, TwoProcessesRotatingOneFileLoseNoLineAndKeepEachFileWithinTheLimit) {
  const int lines = 150;
  const uint64_t limit = 1000;
  tclLog console(LogPath);
  console.SetRotation(limit, 9);
  Log.SetRotation(limit, 9);
  auto writer = [&](tclLog& log, char who) {
    for (int i = 0; i < lines; ++i) {
      char text[32];
      snprintf(text, sizeof text, "%c %05d ..........", who, i);   // 20 bytes in the file
      log.FileLine(text, false);
    }
  };
  std::thread service([&] { writer(Log, 'S'); });
  std::thread other([&] { writer(console, 'C'); });
  service.join();
  other.join();

  std::vector<std::string> all;
  for (int k = 9; k >= 0; --k) {
    std::string path = k == 0 ? std::string(LogPath) : Backup(k);
    if (!sim::FileExists(path)) continue;
    EXPECT_LE(sim::ReadFile(path).size(), limit) << path;
    for (const std::string& line : kit::LogLines(path)) all.push_back(line);
  }
  int next[2] = {0, 0};
  for (const std::string& line : all) {
    int& n = next[line[0] == 'C'];
    char expected[32];
    snprintf(expected, sizeof expected, "%c %05d ..........", line[0], n);
    ASSERT_EQ(line, expected) << "lost, repeated or out of order";
    ++n;
  }
  EXPECT_EQ(next[0], lines);
  EXPECT_EQ(next[1], lines);
}
