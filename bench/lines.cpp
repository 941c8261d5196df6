// Numbered lines "out n ...." / "err n ....", unbuffered, one per stream per
// interval; REPORT gets "lines=L ms=T slowest=S" (the longest write). Or one
// 100-byte line on stdout as fast as it can for SECONDS.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
    if (argc < 4) {
        std::puts("usage: lines COUNT INTERVAL-MS out|err|both|none [BYTES(100) [EXIT-CODE [REPORT]]]"
                  "\n       lines flood SECONDS REPORT");
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
