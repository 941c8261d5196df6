// The simulated Windows behaviours that the system's tests lean on hardest.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/sim/sim.h"

namespace {

struct Launched {
  BOOL ok = FALSE;
  DWORD error = 0;
  PROCESS_INFORMATION info = {};
};

Launched Launch(const std::string& commandLine, const char* directory = nullptr,
                DWORD flags = 0) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNA;
  Launched l;
  SetLastError(0);
  l.ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, directory,
                        &startup, &l.info);
  l.error = GetLastError();
  return l;
}

DWORD LaunchedPid(const std::string& commandLine) {
  Launched l = Launch(commandLine);
  EXPECT_TRUE(l.ok) << commandLine;
  return l.info.dwProcessId;
}

// --- Program lookup ---

TEST(SimProcess, CommandLineNamesTheShortestRegisteredPrefixOrTheQuotedToken) {
  sim::AddProgram("C:\\Apps\\My", sim::Program());
  sim::AddProgram("C:\\Apps\\My Tool.exe", sim::Program());
  sim::AddProgram("C:\\Apps\\plain.exe", sim::Program());

  DWORD shortest = LaunchedPid("C:\\Apps\\My Tool.exe -x");
  DWORD quoted = LaunchedPid("\"C:\\Apps\\My Tool.exe\" -x");
  DWORD whole = LaunchedPid("C:\\Apps\\plain.exe");
  DWORD noExtension = LaunchedPid("c:\\apps\\PLAIN -q");
  EXPECT_EQ(shortest, 1000u);
  EXPECT_EQ(quoted, 1004u);
  EXPECT_EQ(whole, 1008u);
  EXPECT_EQ(noExtension, 1012u);

  Launched unknown = Launch("C:\\Apps\\Other.exe");
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, DWORD(ERROR_FILE_NOT_FOUND));
  Launched quotedUnknown = Launch("\"C:\\Apps\\My\"x -x");
  EXPECT_TRUE(quotedUnknown.ok);   // the quoted token is "C:\Apps\My"

  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 6u);
  EXPECT_EQ(launches[4].commandLine, "C:\\Apps\\Other.exe");
  EXPECT_FALSE(launches[4].succeeded);
  EXPECT_TRUE(launches[0].succeeded);
  EXPECT_EQ(launches[0].startupShowWindow, WORD(SW_SHOWNA));
}

TEST(SimProcess, CreationFailsForBadDirectoriesAndScriptedErrors) {
  sim::Program failing;
  failing.failWithError = ERROR_ACCESS_DENIED;
  sim::AddProgram("C:\\a.exe", sim::Program());
  sim::AddProgram("C:\\b.exe", failing);
  sim::SetMissingDirectory("C:\\Gone\\");

  EXPECT_EQ(Launch("C:\\a.exe", "").error, DWORD(ERROR_DIRECTORY));
  EXPECT_EQ(Launch("C:\\a.exe", "c:\\gone").error, DWORD(ERROR_DIRECTORY));
  EXPECT_TRUE(Launch("C:\\a.exe", "C:\\Elsewhere\\").ok);
  EXPECT_EQ(Launch("C:\\b.exe").error, DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(sim::Launches().size(), 4u);
  EXPECT_EQ(sim::ProcessIds().size(), 1u);
}

// --- Process life ---

TEST(SimProcess, WaitsLetTimePassUntilTheProcessEnds) {
  sim::Program p;
  p.exitAfterMs = 5000;
  p.exitCode = 7;
  sim::AddProgram("C:\\p.exe", p);
  Launched l = Launch("C:\\p.exe", nullptr, HIGH_PRIORITY_CLASS);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(GetPriorityClass(l.info.hProcess), DWORD(HIGH_PRIORITY_CLASS));

  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(l.info.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 1000), WAIT_TIMEOUT);
  EXPECT_EQ(sim::Now(), 1000u);
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 5000u);
  EXPECT_TRUE(GetExitCodeProcess(l.info.hProcess, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(TerminateProcess(l.info.hProcess, 1));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

  EXPECT_EQ(sim::OpenHandleCount(), 2);
  EXPECT_TRUE(CloseHandle(l.info.hProcess));
  EXPECT_FALSE(CloseHandle(l.info.hProcess));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(GetExitCodeProcess(l.info.hProcess, &code));
  EXPECT_EQ(WaitForSingleObject(l.info.hProcess, 0), WAIT_FAILED);
  EXPECT_FALSE(GetExitCodeProcess(nullptr, &code));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(sim::OpenHandleCount(), 1);
}

TEST(SimProcess, QuitMessageEndsTheProcessAfterItsQuitTime) {
  sim::Program slow;
  slow.quitTakesMs = 300;
  sim::Program stubborn;
  stubborn.ignoresQuit = true;
  sim::AddProgram("C:\\slow.exe", slow);
  sim::AddProgram("C:\\stubborn.exe", stubborn);
  Launched a = Launch("C:\\slow.exe");
  Launched b = Launch("C:\\stubborn.exe");

  EXPECT_TRUE(PostThreadMessageA(a.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_TRUE(PostThreadMessageA(b.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_EQ(WaitForSingleObject(a.info.hProcess, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Now(), 300u);
  EXPECT_EQ(WaitForSingleObject(b.info.hProcess, 1000), WAIT_TIMEOUT);
  EXPECT_EQ(sim::Process(b.info.dwProcessId).quitMessages, 1);
  EXPECT_TRUE(sim::Process(b.info.dwProcessId).alive);

  EXPECT_FALSE(PostThreadMessageA(a.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
  EXPECT_FALSE(PostThreadMessageA(12345, WM_QUIT, 0, 0));

  EXPECT_TRUE(TerminateProcess(b.info.hProcess, 3));
  sim::ProcessState s = sim::Process(b.info.dwProcessId);
  EXPECT_FALSE(s.alive);
  EXPECT_TRUE(s.terminated);
  EXPECT_EQ(s.exitCode, 3u);
}

TEST(SimProcess, JobsHoldWhatTheirMembersStartOnceResumed) {
  sim::Program launcher;
  launcher.children = 2;
  sim::AddProgram("C:\\run.exe", launcher);
  Launched free = Launch("C:\\run.exe");
  Launched held = Launch("C:\\run.exe", nullptr, CREATE_SUSPENDED);
  EXPECT_TRUE(sim::ChildProcessIds(held.info.dwProcessId).empty());
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  EXPECT_TRUE(AssignProcessToJobObject(job, held.info.hProcess));
  EXPECT_FALSE(AssignProcessToJobObject(job, held.info.hProcess));   // one job each
  EXPECT_EQ(ResumeThread(held.info.hThread), 1u);
  std::vector<DWORD> inJob = sim::ChildProcessIds(held.info.dwProcessId);
  ASSERT_EQ(inJob.size(), 2u);

  EXPECT_TRUE(TerminateJobObject(job, 1));
  EXPECT_FALSE(sim::Process(held.info.dwProcessId).alive);
  EXPECT_TRUE(sim::Process(inJob[1]).terminated);
  for (DWORD child : sim::ChildProcessIds(free.info.dwProcessId))
    EXPECT_TRUE(sim::Process(child).alive);

  sim::FailNext("AssignProcessToJobObject", 5);
  EXPECT_FALSE(AssignProcessToJobObject(job, free.info.hProcess));
  EXPECT_EQ(GetLastError(), 5u);
}

// --- Windows ---

TEST(SimWindowTest, NewWindowsComeFirstAndGoWithTheirProcess) {
  sim::AddProgram("C:\\w.exe", sim::Program());
  DWORD first = LaunchedPid("C:\\w.exe");
  DWORD foreign = sim::AddForeignProcessWithWindow();
  DWORD second = LaunchedPid("C:\\w.exe");

  std::vector<DWORD> order;
  for (HWND w = FindWindowA(nullptr, nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    EXPECT_EQ(GetParent(w), nullptr);
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(w, &pid);
    EXPECT_EQ(thread, sim::Process(pid).threadId);
    order.push_back(pid);
  }
  EXPECT_EQ(order, (std::vector<DWORD>{second, foreign, first}));

  HWND gone = sim::Process(foreign).window;
  sim::KillProcess(foreign, 1);
  EXPECT_FALSE(IsWindow(gone));
  EXPECT_EQ(sim::Process(foreign).window, nullptr);
  DWORD pid = 77;
  EXPECT_EQ(GetWindowThreadProcessId(gone, &pid), 0u);
  EXPECT_EQ(pid, 77u);
  EXPECT_FALSE(ShowWindowAsync(gone, SW_HIDE));
  EXPECT_EQ(GetWindow(FindWindowA(nullptr, nullptr), GW_HWNDNEXT), sim::Process(first).window);
}

TEST(SimWindowTest, HungWindowCostsTheWholeTimeoutAndFailsWithTimeout) {
  sim::Program p;
  p.hangAfterMs = 2000;
  sim::AddProgram("C:\\h.exe", p);
  DWORD pid = LaunchedPid("C:\\h.exe");
  HWND w = sim::Process(pid).window;
  ASSERT_NE(w, nullptr);

  DWORD_PTR result = 99;
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 1000, &result), 1);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(sim::Now(), 0u);

  sim::Advance(2000);
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 1000, &result), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_TIMEOUT));
  EXPECT_EQ(sim::Now(), 3000u);

  sim::DestroyWindow(pid);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, 0, 1000, &result), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(sim::Now(), 3000u);
}

TEST(SimWindowTest, HangWindowMakesAResponsiveWindowHang) {
  sim::AddProgram("C:\\w.exe", sim::Program());
  DWORD pid = LaunchedPid("C:\\w.exe");
  HWND w = sim::Process(pid).window;
  sim::HangWindow(pid, true);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, 0, 500, nullptr), 0);
  sim::HangWindow(pid, false);
  EXPECT_EQ(SendMessageTimeoutA(w, WM_NULL, 0, 0, 0, 500, nullptr), 1);
  EXPECT_EQ(sim::Now(), 500u);
}

// --- Clock, module path, files ---

TEST(SimClock, LocalTimeFollowsTheCalendar) {
  SYSTEMTIME t = {};
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2007);
  EXPECT_EQ(t.wDayOfWeek, 1);
  EXPECT_EQ(t.wDay, 5);
  EXPECT_EQ(t.wSecond, 5);

  SYSTEMTIME base = {};
  base.wYear = 2008;
  base.wMonth = 2;
  base.wDay = 28;
  base.wHour = 23;
  base.wMinute = 59;
  base.wSecond = 59;
  sim::SetLocalTimeBase(base);
  Sleep(1250);
  GetLocalTime(&t);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 29);
  EXPECT_EQ(t.wDayOfWeek, 5);
  EXPECT_EQ(t.wHour, 0);
  EXPECT_EQ(t.wMilliseconds, 250);
  sim::Advance(24u * 3600 * 1000);
  GetLocalTime(&t);
  EXPECT_EQ(t.wMonth, 3);
  EXPECT_EQ(t.wDay, 1);
}

TEST(SimClock, TicksFollowTheVirtualClockOnlyWhenAsked) {
  sim::AdvanceTicks(0xFFFFFFFFu);
  sim::TicksFollowClock(true);
  Sleep(1001);
  EXPECT_EQ(GetTickCount(), 1000u);   // wrapped, as Windows' ticks do
  sim::TicksFollowClock(false);
  Sleep(60000);
  EXPECT_LT(GetTickCount() + 1, 60000u);
}

TEST(SimClock, LastErrorBelongsToEachThread) {
  SetLastError(5);
  DWORD other = 1;
  std::thread([&other] { other = GetLastError(); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 5u);
}

TEST(SimFiles, ModulePathIsTruncatedLikeWindows) {
  char buffer[64];
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 30u);
  EXPECT_STREQ(buffer, "C:\\QuarnLoader\\QuarnLoader.exe");
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_STREQ(buffer, "C:\\Quar");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  sim::SetModulePath("");
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u);
}

TEST(SimFiles, LockedFilesAndMissingFoldersCannotBeWritten) {
  EXPECT_EQ(sim::HostPath("D:\\Dir\\f.txt").substr(sim::HostPath("C:\\").size() - 2), "d/Dir/f.txt");
  FILE* f = OpenFileA("C:\\QuarnLoader\\QuarnLoader.log", "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("line\r\n", f);
  std::fclose(f);
  EXPECT_EQ(sim::ReadFile("C:\\QuarnLoader\\QuarnLoader.log"), "line\r\n");

  sim::LockFile("C:\\QuarnLoader\\QuarnLoader.log", true);
  EXPECT_EQ(OpenFileA("C:\\QuarnLoader\\QuarnLoader.log", "ab"), nullptr);
  sim::WriteFile("C:\\QuarnLoader\\other.log", "other");
  EXPECT_FALSE(DeleteFileA("C:\\QuarnLoader\\QuarnLoader.log"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExA("C:\\QuarnLoader\\QuarnLoader.log", "C:\\QuarnLoader\\x.log", 0));
  EXPECT_FALSE(MoveFileExA("C:\\QuarnLoader\\other.log", "C:\\QuarnLoader\\QuarnLoader.log",
                           MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(sim::ReadFile("C:\\QuarnLoader\\QuarnLoader.log"), "line\r\n");
  f = OpenFileA("C:\\QuarnLoader\\QuarnLoader.log", "rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(OpenFileA("C:\\Nowhere\\x.log", "ab"), nullptr);
  EXPECT_EQ(GetFileAttributesA("C:\\QuarnLoader"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("C:\\Nowhere\\x.log"), INVALID_FILE_ATTRIBUTES);

  sim::Reset();
  EXPECT_FALSE(sim::FileExists("C:\\QuarnLoader\\QuarnLoader.log"));
}

TEST(SimFiles, RenameReplacesOnlyWhenAskedAndDeleteNeedsTheFile) {
  sim::WriteFile("C:\\a.txt", "a");
  sim::WriteFile("C:\\b.txt", "b");
  EXPECT_FALSE(MoveFileExA("C:\\a.txt", "C:\\b.txt", 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(MoveFileExA("C:\\a.txt", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(sim::ReadFile("C:\\b.txt"), "a");
  EXPECT_FALSE(sim::FileExists("C:\\a.txt"));
  EXPECT_FALSE(MoveFileExA("C:\\a.txt", "C:\\c.txt", 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(DeleteFileA("C:\\b.txt"));
  EXPECT_FALSE(DeleteFileA("C:\\b.txt"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(SimFiles, AttributesGiveTheSizeOnDiskNow) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  EXPECT_FALSE(GetFileAttributesExA("C:\\x.log", GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  sim::WriteFile("C:\\x.log", "12345");
  FILE* f = OpenFileA("C:\\x.log", "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("678", f);
  std::fclose(f);
  ASSERT_TRUE(GetFileAttributesExA("C:\\x.log", GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 8u);
}

// --- Mutexes ---

// Two threads stand for two processes that share a mutex by its name.
TEST(SimMutex, ANamedMutexIsSharedOwnedByOneThreadAndWaitedForBounded) {
  HANDLE mine = CreateMutexA(nullptr, FALSE, "Global\\ql.test");
  ASSERT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0) << "the owner may take it again";
  DWORD created = 0, whileHeld = 0, releasedByOther = 0, afterRelease = 0;
  std::atomic<bool> tried{false}, released{false};
  std::thread other([&] {
    HANDLE theirs = CreateMutexA(nullptr, TRUE, "Global\\ql.test");
    created = GetLastError();
    whileHeld = WaitForSingleObject(theirs, 20);
    releasedByOther = ReleaseMutex(theirs) ? 0 : GetLastError();
    tried = true;
    while (!released) std::this_thread::yield();
    afterRelease = WaitForSingleObject(theirs, 10000);
  });
  while (!tried) std::this_thread::yield();
  EXPECT_TRUE(ReleaseMutex(mine) && ReleaseMutex(mine));
  EXPECT_FALSE(ReleaseMutex(mine));
  released = true;
  other.join();
  EXPECT_EQ(created, DWORD(ERROR_ALREADY_EXISTS)) << "the initial owner flag is ignored then";
  EXPECT_EQ(whileHeld, WAIT_TIMEOUT);
  EXPECT_EQ(releasedByOther, DWORD(ERROR_NOT_OWNER));
  EXPECT_EQ(afterRelease, WAIT_OBJECT_0);

  EXPECT_TRUE(CloseHandle(mine));
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_FAILED);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "Global\\a\\b"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\none"), nullptr);
  EXPECT_NE(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\ql.test"), nullptr);
}

// --- Sockets ---

// A connection we close before the server did waits in TIME_WAIT, unless reset.
TEST(SimSockets, OnlyAGracefulFirstCloseLeavesTimeWait) {
  sim::Listen(80, {});
  sockaddr_in to = {AF_INET, htons(80), {htonl(INADDR_LOOPBACK)}};
  for (u_short onoff : {0, 1}) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    linger l = {onoff, 0};
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l), 0);
    closesocket(s);
  }
  EXPECT_EQ(sim::TimeWaitCount(), 1);
  sim::FailNext("socket", WSAENOBUFS);
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAENOBUFS);
}

// --- Profile reader ---

std::string Profile(const char* section, const char* key, const char* def, DWORD size = 64) {
  std::vector<char> buffer(size + 1, 'x');
  DWORD n = GetPrivateProfileStringA(section, key, def, buffer.data(), size, "C:\\q.ini");
  EXPECT_EQ(n, std::strlen(buffer.data()));
  return buffer.data();
}

TEST(SimProfile, ReadsTheFileFormat) {
  sim::WriteFile("C:\\q.ini",
                 "top=no\r\n"
                 "[Settings]\r\n"
                 "; Name=comment\r\n"
                 "  name \t=  spaced value \r\n"
                 "quoted=\"  q  \"\n"
                 "single='s'\n"
                 "half=\"h\n"
                 "empty=\n"
                 "noequals\n"
                 "Name=second\n"
                 "[ process_1 ]\n"
                 "AppName=C:\\x.exe\n"
                 "[settings]\n"
                 "later=1\n"
                 "[Last]\n"
                 "end=final");
  EXPECT_EQ(Profile("SETTINGS", "NAME", "d"), "spaced value");
  EXPECT_EQ(Profile("Settings", "quoted", "d"), "  q  ");
  EXPECT_EQ(Profile("Settings", "single", "d"), "s");
  EXPECT_EQ(Profile("Settings", "half", "d"), "\"h");
  EXPECT_EQ(Profile("Settings", "empty", "d"), "");
  EXPECT_EQ(Profile("Settings", "noequals", "d"), "d");
  EXPECT_EQ(Profile("Settings", "top", "d"), "d");
  EXPECT_EQ(Profile("Settings", "later", "d"), "d");
  EXPECT_EQ(Profile("Process_1", "appname", "d"), "C:\\x.exe");
  EXPECT_EQ(Profile("Last", "end", "d"), "final");
  EXPECT_EQ(Profile("Missing", "end", nullptr), "");
  EXPECT_EQ(Profile("Settings", "name", "d", 4), "spa");
  EXPECT_EQ(Profile("Settings", "missing", "default  ", 5), "defa");
  EXPECT_EQ(Profile("Settings", "missing", "trail  "), "trail");
  char names[64];   // each name ends in a NUL, the list in another; cut short: size - 2
  const std::string all("name\0quoted\0single\0half\0empty\0noequals\0Name\0\0", 45);
  for (DWORD size : {64u, 10u})
    EXPECT_EQ(std::string(names, GetPrivateProfileStringA("settings", nullptr, "", names, size,
                                                          "C:\\q.ini") + 1),
              size == 64 ? all : all.substr(0, 8) + '\0');
}

TEST(SimProfile, MissingFileGivesTheDefault) {
  char buffer[8];
  EXPECT_EQ(GetPrivateProfileStringA("S", "K", "dflt", buffer, sizeof buffer, "C:\\none.ini"), 4u);
  EXPECT_STREQ(buffer, "dflt");
}

}  // namespace
