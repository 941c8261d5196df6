// Independent Service Control Manager and process client for end-to-end
// tests. One subcommand per run, one result line (config: several lines) on
// stdout; exit 0 on success, 1 on failure with "error=<GetLastError>".
//
//   create NAME PATH TYPEHEX     delete NAME       start NAME
//   control NAME CODE            query NAME        config NAME
//   wait NAME STATE TIMEOUT_MS   exists NAME
//   priority PID   kill PID   alive PID   mem PID
//   visible PID [WINSTA\DESKTOP]   probe PID [WINSTA\DESKTOP]   image PID
//   quit PID   exec COMMANDLINE...   crash
//   flood NAME MS CODE...        (sends the codes over and over for MS ms)

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail()
{
    std::printf("error=%ld\n", static_cast<long>(GetLastError()));
    return 1;
}

int Usage()
{
    std::printf("usage: scmtool create|delete|start|control|query|config|wait|exists|"
                "priority|kill|alive|mem|visible|probe|image|quit|exec|crash|flood ...\n");
    return 1;
}

unsigned long Num(const char* s)
{
    return std::strtoul(s, nullptr, 0);
}

// Opens the manager and one service, closes both in the right order.
class ServiceRef {
public:
    ServiceRef(const char* name, DWORD access)
    {
        scm_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (scm_) {
            svc_ = OpenServiceA(scm_, name, access);
        }
    }
    ~ServiceRef()
    {
        DWORD e = GetLastError();
        if (svc_) {
            CloseServiceHandle(svc_);
        }
        if (scm_) {
            CloseServiceHandle(scm_);
        }
        SetLastError(e);
    }
    ServiceRef(const ServiceRef&) = delete;
    ServiceRef& operator=(const ServiceRef&) = delete;
    SC_HANDLE Get() const { return svc_; }

private:
    SC_HANDLE scm_ = nullptr;
    SC_HANDLE svc_ = nullptr;
};

int CmdCreate(const char* name, const char* path, const char* typeHex)
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) {
        return Fail();
    }
    DWORD type = static_cast<DWORD>(std::strtoul(typeHex, nullptr, 16));
    SC_HANDLE svc = CreateServiceA(scm, name, name, SERVICE_ALL_ACCESS, type, SERVICE_AUTO_START,
                                   SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr, nullptr,
                                   nullptr);
    if (!svc) {
        DWORD e = GetLastError();
        CloseServiceHandle(scm);
        SetLastError(e);
        return Fail();
    }
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    std::printf("ok\n");
    return 0;
}

int CmdDelete(const char* name)
{
    ServiceRef s(name, DELETE);
    if (!s.Get() || !DeleteService(s.Get())) {
        return Fail();
    }
    std::printf("ok\n");
    return 0;
}

int CmdStart(const char* name)
{
    ServiceRef s(name, SERVICE_START);
    if (!s.Get() || !StartServiceA(s.Get(), 0, nullptr)) {
        return Fail();
    }
    std::printf("ok\n");
    return 0;
}

int CmdControl(const char* name, const char* code)
{
    ServiceRef s(name, SERVICE_ALL_ACCESS);
    SERVICE_STATUS st = {};
    if (!s.Get() || !ControlService(s.Get(), static_cast<DWORD>(Num(code)), &st)) {
        return Fail();
    }
    std::printf("ok state=%lu\n", static_cast<unsigned long>(st.dwCurrentState));
    return 0;
}

// One service handle for the whole run: a flood as dense as the control
// path allows, not one bounded by process start-up.
int CmdFlood(const char* name, const char* ms, char** codes, int count)
{
    ServiceRef s(name, SERVICE_ALL_ACCESS);
    if (!s.Get()) {
        return Fail();
    }
    DWORD limit = static_cast<DWORD>(Num(ms));
    DWORD t0 = GetTickCount();
    unsigned long sent = 0, failed = 0;
    while (GetTickCount() - t0 < limit) {
        for (int i = 0; i < count; ++i) {
            SERVICE_STATUS st = {};
            if (ControlService(s.Get(), static_cast<DWORD>(Num(codes[i])), &st)) {
                ++sent;
            } else {
                ++failed;
            }
        }
    }
    std::printf("sent=%lu failed=%lu\n", sent, failed);
    return 0;
}

int CmdQuery(const char* name)
{
    ServiceRef s(name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS st = {};
    if (!s.Get() || !QueryServiceStatus(s.Get(), &st)) {
        return Fail();
    }
    std::printf("state=%lu type=0x%lx accepted=0x%lx exit=%ld specific=%ld\n",
                static_cast<unsigned long>(st.dwCurrentState),
                static_cast<unsigned long>(st.dwServiceType),
                static_cast<unsigned long>(st.dwControlsAccepted),
                static_cast<long>(st.dwWin32ExitCode),
                static_cast<long>(st.dwServiceSpecificExitCode));
    return 0;
}

int CmdConfig(const char* name)
{
    ServiceRef s(name, SERVICE_QUERY_CONFIG);
    if (!s.Get()) {
        return Fail();
    }
    static char buf[16384];
    DWORD needed = 0;
    auto* cfg = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf);
    if (!QueryServiceConfigA(s.Get(), cfg, sizeof buf, &needed)) {
        return Fail();
    }
    std::printf("type=0x%lx\n", static_cast<unsigned long>(cfg->dwServiceType));
    std::printf("start=%lu\n", static_cast<unsigned long>(cfg->dwStartType));
    std::printf("error=%lu\n", static_cast<unsigned long>(cfg->dwErrorControl));
    std::printf("display=%s\n", cfg->lpDisplayName ? cfg->lpDisplayName : "");
    std::printf("path=%s\n", cfg->lpBinaryPathName ? cfg->lpBinaryPathName : "");
    std::printf("account=%s\n", cfg->lpServiceStartName ? cfg->lpServiceStartName : "");
    return 0;
}

int CmdWait(const char* name, const char* state, const char* timeout)
{
    ServiceRef s(name, SERVICE_QUERY_STATUS);
    if (!s.Get()) {
        return Fail();
    }
    DWORD want = static_cast<DWORD>(Num(state));
    DWORD limit = static_cast<DWORD>(Num(timeout));
    DWORD t0 = GetTickCount();
    SERVICE_STATUS st = {};
    for (;;) {
        if (!QueryServiceStatus(s.Get(), &st)) {
            return Fail();
        }
        DWORD elapsed = GetTickCount() - t0;
        if (st.dwCurrentState == want) {
            std::printf("state=%lu after_ms=%lu\n", static_cast<unsigned long>(st.dwCurrentState),
                        static_cast<unsigned long>(elapsed));
            return 0;
        }
        if (elapsed >= limit) {
            std::printf("timeout state=%lu after_ms=%lu\n",
                        static_cast<unsigned long>(st.dwCurrentState),
                        static_cast<unsigned long>(elapsed));
            return 1;
        }
        Sleep(100);
    }
}

int CmdExists(const char* name)
{
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) {
        return Fail();
    }
    SC_HANDLE svc = OpenServiceA(scm, name, SERVICE_QUERY_STATUS);
    DWORD e = GetLastError();
    if (svc) {
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    if (svc) {
        std::printf("yes\n");
        return 0;
    }
    if (e == ERROR_SERVICE_DOES_NOT_EXIST) {
        std::printf("no\n");
        return 0;
    }
    SetLastError(e);
    return Fail();
}

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

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "crash") {
        // Checks that the prefix lets a crashing program die at once.
        volatile int* bad = nullptr;
        *bad = 1;
        return 0;
    }
    if (argc >= 3 && std::string(argv[1]) == "exec") {
        return CmdExec();
    }
    if (argc < 3) {
        return Usage();
    }
    std::string cmd = argv[1];
    const char* a = argv[2];
    if (cmd == "create" && argc >= 5) {
        return CmdCreate(a, argv[3], argv[4]);
    }
    if (cmd == "delete") {
        return CmdDelete(a);
    }
    if (cmd == "start") {
        return CmdStart(a);
    }
    if (cmd == "control" && argc >= 4) {
        return CmdControl(a, argv[3]);
    }
    if (cmd == "flood" && argc >= 5) {
        return CmdFlood(a, argv[3], argv + 4, argc - 4);
    }
    if (cmd == "query") {
        return CmdQuery(a);
    }
    if (cmd == "config") {
        return CmdConfig(a);
    }
    if (cmd == "wait" && argc >= 5) {
        return CmdWait(a, argv[3], argv[4]);
    }
    if (cmd == "exists") {
        return CmdExists(a);
    }
    DWORD pid = static_cast<DWORD>(Num(a));
    if (cmd == "priority") {
        return CmdPriority(pid);
    }
    if (cmd == "kill") {
        return CmdKill(pid);
    }
    if (cmd == "alive") {
        return CmdAlive(pid);
    }
    if (cmd == "mem") {
        return CmdMem(pid);
    }
    if (cmd == "visible") {
        return CmdVisible(pid, argc >= 4 ? argv[3] : nullptr);
    }
    if (cmd == "quit") {
        return CmdQuit(pid);
    }
    if (cmd == "image") {
        return CmdImage(pid);
    }
    if (cmd == "probe") {
        return CmdProbe(pid, argc >= 4 ? argv[3] : nullptr);
    }
    return Usage();
}
