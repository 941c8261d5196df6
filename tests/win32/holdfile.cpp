// Holds a file open without sharing for a while, so tests can make every
// other open of it fail:  holdfile PATH MS
// or holds a named mutex, as another process writing the log would:
//                          holdfile --mutex NAME MS

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Says on stdout whether the hold began, then keeps it for the time given.
bool Keep(bool held, const char* ms)
{
    if (!held)
        std::printf("error=%ld\n", static_cast<long>(GetLastError()));
    else
        std::printf("held\n");
    std::fflush(stdout);
    if (held) Sleep(static_cast<DWORD>(std::strtoul(ms, nullptr, 10)));
    return held;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::printf("usage: holdfile PATH MS | holdfile --mutex NAME MS\n");
        return 1;
    }
    if (std::strcmp(argv[1], "--mutex") == 0 && argc >= 4) {
        HANDLE m = CreateMutexA(nullptr, FALSE, argv[2]);
        if (!Keep(m != nullptr && WaitForSingleObject(m, 10000) == WAIT_OBJECT_0, argv[3]))
            return 1;
        ReleaseMutex(m);
        CloseHandle(m);
        return 0;
    }
    HANDLE h = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!Keep(h != INVALID_HANDLE_VALUE, argv[2])) return 1;
    CloseHandle(h);
    return 0;
}
