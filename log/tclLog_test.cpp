#include "log/tclLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "log/tclEventLog.h"
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

// ---- A full disk -----------------------------------------------------------------

// The file opens, but the write or the close fails: the line is kept, as for
// a held file, whether it fails at the close (short) or at the write (longer
// than the stream's buffer).
TEST_F(LogTest, ALineTheFullDiskDidNotTakeIsNotTakenAsWritten) {
  Log.KeepUnwrittenLines(true);
  for (const std::string& line : {std::string("short"), std::string(10000, 'l')}) {
    SCOPED_TRACE(line.size());
    sim::Reset();
    sim::SetDiskFull(true);
    Log.FileLine(line, false);
    sim::SetDiskFull(false);
    Log.FileLine("after", false);
    EXPECT_EQ(sim::ReadFile(LogPath), line + "\r\nafter\r\n");
  }

  // The notice of lines lost is kept as well.
  sim::Reset();
  sim::SetDiskFull(true);
  for (size_t i = 0; i <= tclLog::KeptLimit / 1000; ++i) Log.FileLine(std::string(999, 'x'), false);
  Log.WriteKeptLines();
  sim::SetDiskFull(false);
  Log.WriteKeptLines();
  EXPECT_EQ(kit::IndexOf(kit::LogLines(), Stamp + "Warning: 1 log lines were lost while the "
                                                   "log file could not be opened."),
            0);
}

// Each id has its type and a message in the table compiled into the
// executable, without which Event Viewer shows no text.
TEST(EventLog, EachIdHasItsTypeAndItsMessage) {
  std::ifstream file(QL_SOURCE_DIR "/log/EventMessages.mc");
  std::string table(std::istreambuf_iterator<char>(file), {});
  using E = tclEventId;
  const std::tuple<E, uint32_t, const char*, WORD> cases[] = {   // the README's fixed ids
      {E::ServiceStarted, 100, "ServiceStarted", 4}, {E::ServiceStopped, 101, "ServiceStopped", 4},
      {E::ReloadRefused, 102, "ReloadRefused", 2}, {E::ProgramFailed, 200, "ProgramFailed", 2},
      {E::GaveUp, 201, "GaveUp", 1}, {E::FailureCommandFailed, 202, "FailureCommandFailed", 2}};
  for (const auto& [id, number, name, type] : cases) {
    EXPECT_EQ(uint32_t(id), number) << name;
    EXPECT_EQ(EventTypeOf(id), type) << name;   // 4 information, 2 warning, 1 error
    std::string entry = "MessageId=" + std::to_string(number) + "\nSymbolicName=" + name;
    EXPECT_NE(table.find(entry + "\nLanguage=English\n%1\n.\n"), std::string::npos) << name;
  }
}

// Reports failing in a row are one outage: a line as it begins, one as it
// ends with the entries it cost, nothing between.
TEST(EventLog, AnOutageIsOneLineAtItsStartAndOneAtItsEnd) {
  const std::string Out = "Warning (1502): The event log cannot be written.",
                    Back = "The event log can be written again (entries lost: ";
  const std::pair<bool, std::string> reports[] = {
      {true, ""}, {false, Out}, {false, ""}, {false, ""}, {true, Back + "3)."},
      {true, ""}, {false, Out}, {true, Back + "1)."}};
  uint32_t lost = 0;
  for (const auto& [written, line] : reports)
    EXPECT_EQ(NoteReport(lost, written, written ? 0 : 1502), line);
}
