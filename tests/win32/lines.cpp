// Writes numbered lines, unbuffered, as a console server logs:
//   lines COUNT INTERVAL-MS out|err|both [BYTES-PER-LINE [EXIT-CODE [REPORT]]]
// Line n of a stream reads "out n ..." or "err n ...", padded with dots to
// BYTES-PER-LINE (default 100) with its CR LF; "both" writes one of each per
// interval, stdout first. REPORT gets "lines=L ms=T slowest=S": the lines per
// stream, the run's length and the longest single write, in ms.
// Or writes the same 100-byte line as fast as it can for SECONDS:
//   lines flood SECONDS out|null|FILE REPORT
// and REPORT gets "lines=L ms=T".

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Put(HANDLE h, const std::string& line)
{
    DWORD written = 0;
    return WriteFile(h, line.data(), DWORD(line.size()), &written, nullptr) &&
           written == line.size();
}

std::string Numbered(const char* stream, unsigned long n, size_t bytes)
{
    std::string line = std::string(stream) + " " + std::to_string(n) + " ";
    if (line.size() + 2 < bytes) line.append(bytes - 2 - line.size(), '.');
    return line + "\r\n";
}

void Report(const char* path, const std::string& text)
{
    if (FILE* f = std::fopen(path, "w")) std::fputs(text.c_str(), f), std::fclose(f);
}

int Flood(DWORD seconds, const char* target, const char* report)
{
    const char* path = std::strcmp(target, "null") == 0 ? "NUL" : target;
    HANDLE h = std::strcmp(target, "out") == 0
                   ? GetStdHandle(STD_OUTPUT_HANDLE)
                   : CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string line = Numbered("out", 0, 100);
    unsigned long n = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000)
        for (int i = 0; i < 100; ++i) n += Put(h, line);
    Report(report, "lines=" + std::to_string(n) + " ms=" + std::to_string(GetTickCount() - start));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "flood") == 0)
        return Flood(std::strtoul(argv[2], nullptr, 10), argv[3], argv[4]);
    if (argc < 4) {
        std::printf("usage: lines COUNT INTERVAL-MS out|err|both [BYTES [EXIT-CODE [REPORT]]]\n"
                    "       lines flood SECONDS out|null|FILE REPORT\n");
        return 1;
    }
    const unsigned long count = std::strtoul(argv[1], nullptr, 10);
    const DWORD interval = std::strtoul(argv[2], nullptr, 10);
    const bool out = std::strcmp(argv[3], "err") != 0, err = std::strcmp(argv[3], "out") != 0;
    const size_t bytes = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 100;
    DWORD slowest = 0;
    const DWORD start = GetTickCount();
    for (unsigned long n = 0; n < count; ++n) {
        // Paced against the start, so slow writes do not stretch the interval.
        LONG wait = LONG(start + n * interval - GetTickCount());
        if (wait > 0) Sleep(DWORD(wait));
        const DWORD before = GetTickCount();
        if (out) Put(GetStdHandle(STD_OUTPUT_HANDLE), Numbered("out", n, bytes));
        if (err) Put(GetStdHandle(STD_ERROR_HANDLE), Numbered("err", n, bytes));
        if (GetTickCount() - before > slowest) slowest = GetTickCount() - before;
    }
    if (argc > 6)
        Report(argv[6], "lines=" + std::to_string(count) + " ms=" +
                            std::to_string(GetTickCount() - start) + " slowest=" +
                            std::to_string(slowest));
    return argc > 5 ? std::atoi(argv[5]) : 0;
}
