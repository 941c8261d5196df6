// scmtool's service manager commands: create, delete, start, control,
// flood, query, config, wait and exists.

#include "scmtool.h"

#include <cstdio>
#include <cstdlib>

namespace scmtool {

namespace {

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

} // namespace

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

} // namespace scmtool
