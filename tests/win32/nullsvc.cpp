// A service that does nothing but start and stop: the floor against which
// the real service's start and stop times are compared.
//   nullsvc [NAME]   (own-process service; the name only labels the table)

#include <windows.h>

#include <cstring>

namespace {

char gName[256] = "nullsvc";
SERVICE_STATUS_HANDLE gHandle = nullptr;
SERVICE_STATUS gStatus = {};
HANDLE gStopEvent = nullptr;

void Report(DWORD state)
{
    gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    gStatus.dwCurrentState = state;
    gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    gStatus.dwWin32ExitCode = NO_ERROR;
    gStatus.dwServiceSpecificExitCode = 0;
    gStatus.dwCheckPoint = 0;
    gStatus.dwWaitHint = 0;
    SetServiceStatus(gHandle, &gStatus);
}

void WINAPI Handler(DWORD code)
{
    if (code == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(gStopEvent);
        return;
    }
    SetServiceStatus(gHandle, &gStatus);
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    gHandle = RegisterServiceCtrlHandlerA(gName, Handler);
    if (!gHandle) {
        return;
    }
    gStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(gStopEvent, INFINITE);
    Report(SERVICE_STOPPED);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        std::strncpy(gName, argv[1], sizeof gName - 1);
    }
    SERVICE_TABLE_ENTRYA table[] = {{gName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
