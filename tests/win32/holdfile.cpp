// Holds a file open without sharing for a while, so tests can make every
// other open of it fail:  holdfile PATH MS
// or holds a named mutex, as another process writing the log would:
//                          holdfile --mutex NAME MS

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::printf("usage: holdfile PATH MS | holdfile --mutex NAME MS\n");
        return 1;
    }
    if (std::strcmp(argv[1], "--mutex") == 0 && argc >= 4) {
        HANDLE m = CreateMutexA(nullptr, FALSE, argv[2]);
        if (m == nullptr || WaitForSingleObject(m, 10000) != WAIT_OBJECT_0) {
            std::printf("error=%ld\n", static_cast<long>(GetLastError()));
            std::fflush(stdout);
            return 1;
        }
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
        ReleaseMutex(m);
        CloseHandle(m);
        return 0;
    }
    HANDLE h = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("error=%ld\n", static_cast<long>(GetLastError()));
        std::fflush(stdout);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    CloseHandle(h);
    return 0;
}
