// scmtool's process commands: priority, kill, alive, mem, image, quit and
// exec, and the window ones, visible and probe.

#include "scmtool.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace scmtool {

namespace {

struct FindCtx {
    DWORD Pid;
    HWND Found;
};

BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp)
{
    auto* ctx = reinterpret_cast<FindCtx*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == ctx->Pid && GetParent(hwnd) == nullptr) {
        ctx->Found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Without DESK the windows of our own desktop are searched. Services that
// are not interactive run on another window station ("__wineservice_winstation\Default"
// under Wine); DESK "WINSTA\DESKTOP" reaches those.
HWND MainWindowOf(DWORD pid, const char* desk)
{
    FindCtx ctx = {pid, nullptr};
    if (!desk) {
        EnumWindows(FindProc, reinterpret_cast<LPARAM>(&ctx));
        return ctx.Found;
    }
    std::string where = desk;
    std::string::size_type sep = where.find('\\');
    std::string staName = sep == std::string::npos ? where : where.substr(0, sep);
    std::string deskName = sep == std::string::npos ? "Default" : where.substr(sep + 1);
    HWINSTA sta = OpenWindowStationA(staName.c_str(), FALSE, WINSTA_ALL_ACCESS);
    if (!sta) {
        return nullptr;
    }
    HWINSTA old = GetProcessWindowStation();
    SetProcessWindowStation(sta);
    HDESK d = OpenDesktopA(deskName.c_str(), 0, FALSE, GENERIC_ALL);
    if (d) {
        EnumDesktopWindows(d, FindProc, reinterpret_cast<LPARAM>(&ctx));
        CloseDesktop(d);
    }
    SetProcessWindowStation(old);
    CloseWindowStation(sta);
    return ctx.Found;
}

} // namespace

int CmdPriority(DWORD pid)
{
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!h) {
        return Fail();
    }
    DWORD pc = GetPriorityClass(h);
    DWORD e = GetLastError();
    CloseHandle(h);
    if (!pc) {
        SetLastError(e);
        return Fail();
    }
    std::printf("0x%lx\n", static_cast<unsigned long>(pc));
    return 0;
}

int CmdKill(DWORD pid)
{
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!h) {
        return Fail();
    }
    if (!TerminateProcess(h, 9)) {
        DWORD e = GetLastError();
        CloseHandle(h);
        SetLastError(e);
        return Fail();
    }
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
    std::printf("ok\n");
    return 0;
}

int CmdAlive(DWORD pid)
{
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) {
        // An id that no longer names a process cannot be opened.
        std::printf("no\n");
        return 0;
    }
    DWORD r = WaitForSingleObject(h, 0);
    CloseHandle(h);
    std::printf(r == WAIT_TIMEOUT ? "yes\n" : "no\n");
    return 0;
}

int CmdMem(DWORD pid)
{
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!h) {
        return Fail();
    }
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    BOOL ok = GetProcessMemoryInfo(h, &pmc, sizeof pmc);
    DWORD e = GetLastError();
    CloseHandle(h);
    if (!ok) {
        SetLastError(e);
        return Fail();
    }
    std::printf("ws=%llu peak=%llu private=%llu\n",
                static_cast<unsigned long long>(pmc.WorkingSetSize),
                static_cast<unsigned long long>(pmc.PeakWorkingSetSize),
                static_cast<unsigned long long>(pmc.PagefileUsage));
    return 0;
}

int CmdVisible(DWORD pid, const char* desk)
{
    HWND hwnd = MainWindowOf(pid, desk);
    if (!hwnd) {
        std::printf("nowindow\n");
        return 0;
    }
    // The style bit, not IsWindowVisible: on a service window station the
    // desktop window itself is hidden, which would hide every window on it.
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    std::printf("visible=%d\n", (style & WS_VISIBLE) ? 1 : 0);
    return 0;
}

int CmdProbe(DWORD pid, const char* desk)
{
    HWND hwnd = MainWindowOf(pid, desk);
    if (!hwnd) {
        std::printf("nowindow\n");
        return 1;
    }
    DWORD_PTR result = 0;
    SetLastError(0);
    if (!SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &result)) {
        return Fail();
    }
    std::printf("ok\n");
    return 0;
}

// Posts WM_QUIT to the primary thread, as the supervisor does: the thread
// of the main window if there is one, else the oldest thread (the order of
// a thread snapshot under Wine is no guide).
int CmdQuit(DWORD pid)
{
    DWORD tid = 0;
    HWND hwnd = MainWindowOf(pid, nullptr);
    if (hwnd) {
        tid = GetWindowThreadProcessId(hwnd, nullptr);
    } else {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snap == INVALID_HANDLE_VALUE) {
            return Fail();
        }
        THREADENTRY32 te = {};
        te.dwSize = sizeof te;
        ULONGLONG oldest = ~0ULL;
        for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
            if (te.th32OwnerProcessID != pid) {
                continue;
            }
            HANDLE th = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
            FILETIME created, ended, kernel, user;
            ULONGLONG t = ~0ULL - 1;
            if (th && GetThreadTimes(th, &created, &ended, &kernel, &user)) {
                t = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) |
                    created.dwLowDateTime;
            }
            if (th) {
                CloseHandle(th);
            }
            if (t < oldest) {
                oldest = t;
                tid = te.th32ThreadID;
            }
        }
        CloseHandle(snap);
    }
    if (!tid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Fail();
    }
    if (!PostThreadMessageA(tid, WM_QUIT, 0, 0)) {
        return Fail();
    }
    std::printf("ok tid=%lu\n", static_cast<unsigned long>(tid));
    return 0;
}

int CmdImage(DWORD pid)
{
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) {
        return Fail();
    }
    char path[MAX_PATH * 2] = "";
    DWORD size = sizeof path;
    BOOL ok = QueryFullProcessImageNameA(h, 0, path, &size);
    DWORD e = GetLastError();
    CloseHandle(h);
    if (!ok) {
        SetLastError(e);
        return Fail();
    }
    std::printf("%s\n", path);
    return 0;
}

// Runs the rest of our own command line unchanged as a child that shares our
// standard handles, and reports its full 32-bit exit code on stderr (the
// exit status Wine hands to Unix keeps only the low byte).
int CmdExec()
{
    const char* p = GetCommandLineA();
    if (*p == '"') {
        p = std::strchr(p + 1, '"');
        p = p ? p + 1 : "";
    } else {
        while (*p && *p != ' ' && *p != '\t') {
            ++p;
        }
    }
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    p += 4; // "exec"
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    std::string line = p;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "ql-exec-error=%ld\n", static_cast<long>(GetLastError()));
        return 1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::fflush(stdout);
    std::fprintf(stderr, "ql-exit=%ld\n", static_cast<long>(code));
    return 0;
}

} // namespace scmtool
