// Numbered lines "out n ...." / "err n ....", unbuffered, one per stream per
// interval; REPORT gets "lines=L ms=T slowest=S" (the longest write). Or one
// 100-byte line on stdout as fast as it can for SECONDS. "pipe ARGS..." runs
// lines ARGS... into a plain pipe that this process reads as fast as it can
// (the platform's own pipe, with no service in the way), then prints
// "read=BYTES".

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Put(HANDLE h, const std::string& line)
{
    DWORD written = 0;
    return WriteFile(h, line.data(), DWORD(line.size()), &written, nullptr) != 0;
}

std::string Numbered(const char* stream, unsigned long n, size_t bytes)
{
    std::string line = std::string(stream) + " " + std::to_string(n) + " ";
    return line + std::string(line.size() + 2 < bytes ? bytes - 2 - line.size() : 0, '.') + "\r\n";
}

void Report(const char* path, unsigned long lines, DWORD start, const std::string& more)
{
    if (FILE* f = std::fopen(path, "w"))
        std::fprintf(f, "lines=%lu ms=%lu%s", lines, GetTickCount() - start, more.c_str()),
            std::fclose(f);
}

int ReadChild(int argc, char** argv)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 65536)) return 2;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\"";
    for (int i = 0; i < argc; ++i) command += std::string(" ") + argv[i];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    PROCESS_INFORMATION child;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child))
        return 2;
    CloseHandle(writeEnd);   // the child's end alone keeps the pipe open
    std::vector<char> buffer(65536);
    unsigned long long total = 0;
    DWORD got = 0;
    while (ReadFile(readEnd, buffer.data(), DWORD(buffer.size()), &got, nullptr) && got > 0)
        total += got;
    WaitForSingleObject(child.hProcess, INFINITE);
    std::printf("read=%llu\n", total);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const DWORD start = GetTickCount();
    if (argc >= 4 && std::strcmp(argv[1], "flood") == 0) {
        const std::string line = Numbered("out", 0, 100);
        unsigned long n = 0;
        while (GetTickCount() - start < std::strtoul(argv[2], nullptr, 10) * 1000)
            for (int i = 0; i < 100; ++i) n += Put(GetStdHandle(STD_OUTPUT_HANDLE), line);
        Report(argv[3], n, start, "");
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "pipe") == 0) return ReadChild(argc - 2, argv + 2);
    if (argc < 4) {
        std::puts("usage: lines COUNT INTERVAL-MS out|err|both|none [BYTES(100) [EXIT-CODE [REPORT]]]"
                  "\n       lines flood SECONDS REPORT\n       lines pipe ARGS...");
        return 1;
    }
    const unsigned long count = std::strtoul(argv[1], nullptr, 10);
    const DWORD interval = std::strtoul(argv[2], nullptr, 10);
    const bool both = std::strcmp(argv[3], "both") == 0;
    const bool out = both || std::strcmp(argv[3], "out") == 0;
    const bool err = both || std::strcmp(argv[3], "err") == 0;
    const size_t bytes = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 100;
    DWORD slowest = 0;
    for (unsigned long n = 0; n < count; ++n) {
        // Paced against the start, so that slow writes do not stretch the run.
        LONG wait = LONG(start + n * interval - GetTickCount());
        if (wait > 0) Sleep(DWORD(wait));
        const DWORD before = GetTickCount();
        if (out) Put(GetStdHandle(STD_OUTPUT_HANDLE), Numbered("out", n, bytes));
        if (err) Put(GetStdHandle(STD_ERROR_HANDLE), Numbered("err", n, bytes));
        if (GetTickCount() - before > slowest) slowest = GetTickCount() - before;
    }
    if (argc > 6) Report(argv[6], count, start, " slowest=" + std::to_string(slowest));
    return argc > 5 ? std::atoi(argv[5]) : 0;
}
