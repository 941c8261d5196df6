// Test child for the supervisor: a windowed (or window-less) program whose
// lifetime, exit code and reaction to WM_QUIT are chosen on its command line.
// It can append what happens to it to a record file that tests read back.
//
//   qtprog [--exit-after MS] [--exit-code C] [--hang-after MS] [--ignore-quit]
//          [--no-window] [--record FILE] [--report-handles] [--child FILE]
//          [--breakaway] [--console-server] [--report-env]
//          [--lines COUNT MS] [anything else is ignored]
//
// --child starts one more qtprog, window-less, recording to FILE: a program
// that leaves a process of its own behind; with --breakaway it asks to
// leave the job it would share with its parent, and its console, which the
// job's end would take with it.
//
// --console-server makes a console program without a message queue (posting
// to its thread fails): its console control handler records "ctrl-c" or
// "ctrl-break" and exits with code 7.
//
// Record lines: "start pid=.. cwd=.. priority=0x.. cmd=..", "quit",
// "startup flags=0x.. show=<n>" (STARTUPINFO as seen, before the first
// ShowWindow), "quit", "quit ignored", "show 1", "show 0", "hang",
// "exit <code>", "child pid=<n>" or "child error=<n>", and with --report-handles "handles self=yes|no log=none" or
// "handles self=.. log=0x<handle> <path>" for each inherited log handle,
// and with --report-env "env NAME=value" for each variable it got. --lines
// writes numbered 100-byte lines ("out 7 ....", "err 7 ....") to both streams.

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 // GetFinalPathNameByHandleA
#endif
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    long ExitAfter = -1;
    int ExitCode = 0;
    long HangAfter = -1;
    bool IgnoreQuit = false;
    bool NoWindow = false;
    bool Breakaway = false;
    bool ReportHandles = false;
    bool ConsoleServer = false;
    bool ReportEnv = false;
    long LineCount = 0;
    DWORD LineInterval = 0;
    std::string RecordFile;
    std::string ChildRecord;
};

Options gOpt;

// Opened and closed per line so that tests can read (and the supervisor can
// kill us) at any moment without losing lines or holding the file.
void Record(const std::string& line)
{
    if (gOpt.RecordFile.empty()) {
        return;
    }
    std::string text = line + "\n";
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE h = CreateFileA(gOpt.RecordFile.c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            FlushFileBuffers(h);
            CloseHandle(h);
            return;
        }
        Sleep(20);
    }
}

std::string Hex(unsigned long v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%lx", v);
    return buf;
}

DWORD WINAPI ExitThreadProc(LPVOID)
{
    Sleep(static_cast<DWORD>(gOpt.ExitAfter));
    Record("exit " + std::to_string(gOpt.ExitCode));
    ExitProcess(static_cast<UINT>(gOpt.ExitCode));
    return 0;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_SHOWWINDOW:
        Record(wp ? "show 1" : "show 0");
        break;
    case WM_DESTROY:
        PostQuitMessage(gOpt.ExitCode);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void ParseArgs(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasNext = i + 1 < argc;
        if (a == "--exit-after" && hasNext) {
            gOpt.ExitAfter = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--exit-code" && hasNext) {
            gOpt.ExitCode = static_cast<int>(std::strtol(argv[++i], nullptr, 0));
        } else if (a == "--hang-after" && hasNext) {
            gOpt.HangAfter = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--child" && hasNext) {
            gOpt.ChildRecord = argv[++i];
        } else if (a == "--record" && hasNext) {
            gOpt.RecordFile = argv[++i];
        } else if (a == "--ignore-quit") {
            gOpt.IgnoreQuit = true;
        } else if (a == "--report-handles") {
            gOpt.ReportHandles = true;
        } else if (a == "--breakaway") {
            gOpt.Breakaway = true;
        } else if (a == "--lines" && i + 2 < argc) {
            gOpt.LineCount = std::strtol(argv[++i], nullptr, 10);
            gOpt.LineInterval = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--report-env") {
            gOpt.ReportEnv = true;
        } else if (a == "--console-server") {
            gOpt.ConsoleServer = true;
        } else if (a == "--no-window") {
            gOpt.NoWindow = true;
        }
    }
}

std::string Lower(std::string s)
{
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Walks the handle values a process can hold and names every open disk
// file. Our own image, opened here first, must turn up: otherwise the walk
// sees nothing and "log=none" would prove nothing.
void ReportHandles()
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    HANDLE mine = CreateFileA(self, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    std::string exe = Lower(self);
    exe = exe.substr(exe.find_last_of("\\") + 1);
    bool sawSelf = false;
    std::string logs;
    // Handle values stay far below this in a young process; inherited ones
    // keep the value they had in the parent.
    for (ULONG_PTR v = 4; v <= 0x1000; v += 4) {
        HANDLE h = reinterpret_cast<HANDLE>(v);
        if (GetFileType(h) != FILE_TYPE_DISK) {
            continue;
        }
        char path[MAX_PATH * 2] = "";
        if (!GetFinalPathNameByHandleA(h, path, sizeof path, 0)) {
            continue;
        }
        std::string name = Lower(path);
        if (h == mine && EndsWith(name, "\\" + exe)) {
            sawSelf = true;
        }
        if (EndsWith(name, "\\quarnloader.log")) {
            logs += " log=" + Hex(static_cast<unsigned long>(v)) + " " + path;
        }
    }
    if (mine != INVALID_HANDLE_VALUE) {
        CloseHandle(mine);
    }
    Record(std::string("handles self=") + (sawSelf ? "yes" : "no") + (logs.empty() ? " log=none"
                                                                                 : logs));
}

void StartChild()
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = std::string("\"") + self + "\" --no-window --record " + gOpt.ChildRecord;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    DWORD flags = gOpt.Breakaway ? CREATE_BREAKAWAY_FROM_JOB | DETACHED_PROCESS : 0;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si,
                        &pi)) {
        Record("child error=" + std::to_string(GetLastError()));
        return;
    }
    Record("child pid=" + std::to_string(pi.dwProcessId));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

HWND MakeWindow()
{
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "qtprogWindow";
    RegisterClassA(&wc);
    std::string title = "qtprog " + std::to_string(GetCurrentProcessId());
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 240, 120, nullptr, nullptr, inst,
                                nullptr);
    if (!hwnd) {
        Record("window error=" + std::to_string(GetLastError()));
        return nullptr;
    }
    // Honour the show command the parent put into STARTUPINFO.
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWNORMAL;
    char line[80];
    std::snprintf(line, sizeof line, "startup flags=0x%lx show=%d",
                  static_cast<unsigned long>(si.dwFlags), show);
    Record(line);
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    return hwnd;
}

void RecordStart()
{
    char cwd[MAX_PATH + 1] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    Record("start pid=" + std::to_string(GetCurrentProcessId()) + " cwd=" + cwd +
           " priority=" + Hex(GetPriorityClass(GetCurrentProcess())) +
           " cmd=" + GetCommandLineA());
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    Record(event == CTRL_C_EVENT ? "ctrl-c" : "ctrl-break");
    Record("exit 7");
    ExitProcess(7);
    return TRUE;
}

// No call here may create a message queue.
int RunConsoleServer()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    RecordStart();
    for (;;) {
        Sleep(INFINITE);
    }
}

void WriteLines()
{
    for (long n = 0; n < gOpt.LineCount; ++n) {
        Sleep(gOpt.LineInterval);
        for (std::string stream : {"out", "err"}) {
            std::string line = stream + " " + std::to_string(n) + " ";
            line += std::string(98 - line.size(), '.') + "\r\n";
            DWORD written = 0;
            WriteFile(GetStdHandle(stream == "out" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
                      line.data(), DWORD(line.size()), &written, nullptr);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    ParseArgs(argc, argv);
    if (gOpt.ConsoleServer) {
        return RunConsoleServer();
    }

    // Create the thread's message queue before announcing ourselves, so a
    // WM_QUIT posted right after "start" is not lost.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    RecordStart();
    if (gOpt.ReportHandles) {
        ReportHandles();
    }
    if (gOpt.ReportEnv) {
        char* block = GetEnvironmentStringsA();
        for (const char* v = block; *v != '\0'; v += std::strlen(v) + 1) {
            Record(std::string("env ") + v);
        }
        FreeEnvironmentStringsA(block);
    }
    if (!gOpt.ChildRecord.empty()) {
        StartChild();
    }
    WriteLines();

    if (gOpt.ExitAfter >= 0) {
        HANDLE t = CreateThread(nullptr, 0, ExitThreadProc, nullptr, 0, nullptr);
        if (t) {
            CloseHandle(t);
        }
    }

    if (!gOpt.NoWindow) {
        MakeWindow();
    }

    DWORD startTick = GetTickCount();
    for (;;) {
        DWORD wait = INFINITE;
        if (gOpt.HangAfter >= 0) {
            DWORD elapsed = GetTickCount() - startTick;
            if (elapsed >= static_cast<DWORD>(gOpt.HangAfter)) {
                Record("hang");
                Sleep(INFINITE);
            }
            wait = static_cast<DWORD>(gOpt.HangAfter) - elapsed;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                Record("quit");
                if (gOpt.IgnoreQuit) {
                    Record("quit ignored");
                    continue;
                }
                Record("exit " + std::to_string(gOpt.ExitCode));
                return gOpt.ExitCode;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
