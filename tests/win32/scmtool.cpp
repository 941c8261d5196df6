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

#include "scmtool.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace scmtool {

int Fail()
{
    std::printf("error=%ld\n", static_cast<long>(GetLastError()));
    return 1;
}

unsigned long Num(const char* s)
{
    return std::strtoul(s, nullptr, 0);
}

} // namespace scmtool

namespace {

int Usage()
{
    std::printf("usage: scmtool create|delete|start|control|query|config|wait|exists|"
                "priority|kill|alive|mem|visible|probe|image|quit|exec|crash|flood ...\n");
    return 1;
}

} // namespace

using namespace scmtool;

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
