// What a log line costs while another program holds the log file and the
// kept lines are at their bound, as in a crash loop on a held log:
//   heldlog PATH KIB MS
// keeps lines as the service does, fills the kept block, then writes stamped
// lines for MS ms with a limit of KIB KiB (0: none) and prints
//   kept=<lines before the timing> lines=<timed lines> ms=<elapsed>

#include "platform/win.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/tclLog.h"

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::printf("usage: heldlog PATH KIB MS\n");
        return 1;
    }
    tclLog log(argv[1]);
    log.KeepUnwrittenLines(true);
    log.SetRotation(std::strtoull(argv[2], nullptr, 10) * 1024, 1);
    // 100 bytes in the file with the stamp and CR LF, a service line's size.
    const std::string text(70, 'x');
    const size_t fill = tclLog::KeptLimit / (log.TimeStamp().size() + text.size() + 1) + 1;
    for (size_t i = 0; i < fill; ++i) log.FileLine(text, true);

    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const LONGLONG until = start.QuadPart + frequency.QuadPart * std::atoll(argv[3]) / 1000;
    unsigned long lines = 0;
    do {
        log.FileLine(text, true);
        ++lines;
        QueryPerformanceCounter(&now);
    } while (now.QuadPart < until);
    std::printf("kept=%lu lines=%lu ms=%.1f\n", static_cast<unsigned long>(fill), lines,
                1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    return 0;
}
