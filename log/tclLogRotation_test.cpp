// The bounded log: sizes, numbered backups, refused renames, and two writers
// that share one file.
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

class LogRotationTest : public testing::Test {
 protected:
  void SetUp() override { kit::FreshLog(); }
  void TearDown() override { Log.SetFileEnabled(true); }
};

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

TEST_F(LogRotationTest, RotationKeepsTheFileWithinTheLimitShiftsBackupsAndDropsTheOldest) {
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

TEST_F(LogRotationTest, BackupAndLockNamesComeFromTheLogsOwnPath) {
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
TEST_F(LogRotationTest, ARefusedRenameIsRetriedAtTheNextLineWithoutLosingALineOrABackup) {
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

TEST_F(LogRotationTest, LinesKeptWhileTheFileWasHeldStayTogetherInTheNewFile) {
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

TEST_F(LogRotationTest, WithoutALimitTheFileGrowsAndNoBackupOrLockAppears) {
  for (int i = 0; i < 100; ++i) Log.FileLine(Sized('a'), false);
  EXPECT_EQ(sim::ReadFile(LogPath).size(), 5000u);
  EXPECT_FALSE(sim::FileExists(Backup(1)));
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, tclLog::LockNameOf(LogPath).c_str()), nullptr);
}

// Another process holding the lock: one bounded wait, then lines are
// appended unrotated (none lost) until the lock is free again.
TEST_F(LogRotationTest, WhileAnotherProcessHoldsTheLockLinesAreAppendedUnrotated) {
  Log.SetRotation(100, 1);
  Write("ab");
  std::atomic<bool> held{false}, letGo{false};
  std::thread other([&] {
    HANDLE lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                             tclLog::LockNameOf(LogPath).c_str());
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
TEST_F(LogRotationTest, AMutexThatCannotBeMadeIsOpenedAndWithoutOneNothingRotates) {
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
TEST_F(LogRotationTest, TwoProcessesRotatingOneFileLoseNoLineAndKeepEachFileWithinTheLimit) {
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

// The mutex made by the service (LocalSystem): an administrator's console
// must never keep it, or every line of the service waits and goes unrotated.
TEST_F(LogRotationTest, AConsoleNeverKeepsTheLockWhoeverMadeIt) {
  const std::string name = tclLog::LockNameOf(LogPath);
  for (bool serviceLog : {false, true}) {
    SCOPED_TRACE(serviceLog ? "made by the service role's log" : "made by another account");
    sim::Reset();
    kit::FreshLog();   // the last console's end switched this thread's file off
    tclLog console(LogPath);
    console.SetRotation(100, 1);
    Log.SetRotation(100, 1);
    if (serviceLog) Write("a");   // the service's lock, made the product's way
    HANDLE service = serviceLog
                         ? OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str())
                         : sim::CreateMutexAsService(name);
    sim::WriteFile(LogPath, InFile("ab"));
    console.FileLine(Sized('c'), false);
    DWORD wait = WAIT_FAILED;
    std::thread([&] {
      wait = WaitForSingleObject(service, 0);
      ReleaseMutex(service);
    }).join();
    EXPECT_EQ(wait, WAIT_OBJECT_0) << "the console let go";
    EXPECT_EQ(sim::FileExists(Backup(1)), serviceLog);
  }
}

// A release that fails leaves the lock with this thread: rotation ends, and
// one line says so.
TEST_F(LogRotationTest, AFailedReleaseEndsRotationWithOneWarning) {
  Log.SetRotation(100, 1);
  Write("ab");
  sim::FailNext("ReleaseMutex", ERROR_NOT_OWNER);
  Write("cde");
  EXPECT_EQ(sim::ReadFile(Backup(1)), InFile("ab"));
  EXPECT_EQ(kit::LogLines(), (kit::Lines{Sized('c'),
                                         "Mon Mar 05 09:04:05 2007 :: Warning: Error (288) "
                                         "releasing the log file's lock: the log file is no "
                                         "longer rotated.",
                                         Sized('d'), Sized('e')}));
}

// Kept lines are sized without being copied: their line feeds count twice.
TEST_F(LogRotationTest, KeptLinesCountTheirCrLfTowardsTheLimit) {
  Log.KeepUnwrittenLines(true);
  Log.SetRotation(100, 1);
  const std::string before = std::string(18, '0') + "\r\n";
  sim::WriteFile(LogPath, before);
  sim::LockFile(LogPath, true);
  Log.FileLine(std::string(40, '\n'), false);   // 41 bytes kept, 82 in the file
  sim::LockFile(LogPath, false);
  Log.FileLine("x", false);   // 20 + 41 + 2 is within 100, 20 + 82 + 3 is not
  EXPECT_EQ(sim::ReadFile(Backup(1)), before);
}
