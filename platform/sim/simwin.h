// The subset of the Windows API that the system uses, declared as Windows
// declares it, implemented in memory by the simulated platform (see sim.h).
#pragma once
#include <cstdint>
#include <cstdio>

#define WINAPI

typedef int BOOL;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef unsigned int UINT;
typedef char* LPSTR;
typedef char* LPCH;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef intptr_t LPARAM;
typedef uintptr_t WPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef void* PSECURITY_DESCRIPTOR;
typedef void* HLOCAL;

struct SimObject;
typedef SimObject* HANDLE;
struct SimWindow;
typedef SimWindow* HWND;
typedef HANDLE HMODULE;
struct SimScObject;
typedef SimScObject* SC_HANDLE;
typedef SimScObject* SERVICE_STATUS_HANDLE;

#define TRUE 1
#define FALSE 0

// The longest path the file calls take, the terminating zero included.
#define MAX_PATH 260

// Error codes.
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_NOACCESS 998
#define ERROR_SHARING_VIOLATION 32
#define ERROR_DISK_FULL 112
#define ERROR_ALREADY_EXISTS 183
#define ERROR_INVALID_HANDLE 6
#define ERROR_INVALID_DATA 13
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_INVALID_LEVEL 124
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_DIRECTORY 267
#define ERROR_NOT_OWNER 288
#define ERROR_INVALID_ADDRESS 487
#define ERROR_NOT_SUPPORTED 50
#define ERROR_IO_PENDING 997
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_INVALID_THREAD_ID 1444
#define ERROR_TIMEOUT 1460
#define ERROR_INVALID_SERVICE_CONTROL 1052
#define ERROR_SERVICE_REQUEST_TIMEOUT 1053
#define ERROR_SERVICE_ALREADY_RUNNING 1056
#define ERROR_SERVICE_DISABLED 1058
#define ERROR_SERVICE_DOES_NOT_EXIST 1060
#define ERROR_SERVICE_CANNOT_ACCEPT_CTRL 1061
#define ERROR_SERVICE_NOT_ACTIVE 1062
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072
#define ERROR_SERVICE_EXISTS 1073

// Processes and waits.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define NORMAL_PRIORITY_CLASS 0x20u
#define IDLE_PRIORITY_CLASS 0x40u
#define HIGH_PRIORITY_CLASS 0x80u
#define REALTIME_PRIORITY_CLASS 0x100u
#define BELOW_NORMAL_PRIORITY_CLASS 0x4000u
#define ABOVE_NORMAL_PRIORITY_CLASS 0x8000u
#define CREATE_SUSPENDED 0x4u
#define CREATE_NEW_CONSOLE 0x10u
#define CREATE_NO_WINDOW 0x08000000u
#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CREATE_BREAKAWAY_FROM_JOB 0x01000000u
#define STARTF_USESHOWWINDOW 0x1u
#define STARTF_USESTDHANDLES 0x100u
#define EXTENDED_STARTUPINFO_PRESENT 0x00080000u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define FILE_APPEND_DATA 0x0004u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define SYNCHRONIZE 0x00100000u
#define MUTEX_MODIFY_STATE 0x0001u
#define MUTEX_ALL_ACCESS 0x1F0001u
#define SDDL_REVISION_1 1u

// Windows and messages.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10
#define SW_FORCEMINIMIZE 11
#define GW_HWNDNEXT 2u
#define WM_NULL 0x0000u
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define SMTO_BLOCK 0x0001u
#define SMTO_ABORTIFHUNG 0x0002u

// Services.
#define SC_MANAGER_CONNECT 0x0001u
#define SC_MANAGER_CREATE_SERVICE 0x0002u
#define SC_MANAGER_ALL_ACCESS 0xF003Fu
#define SERVICE_ALL_ACCESS 0xF01FFu
#define SERVICE_QUERY_STATUS 0x0004u
#define SERVICE_START 0x0010u
#define SERVICE_STOP 0x0020u
#define SERVICE_PAUSE_CONTINUE 0x0040u
#define SERVICE_INTERROGATE 0x0080u
#define SERVICE_USER_DEFINED_CONTROL 0x0100u
#define DELETE 0x00010000u
#define SERVICE_WIN32_OWN_PROCESS 0x10u
#define SERVICE_WIN32_SHARE_PROCESS 0x20u
#define SERVICE_INTERACTIVE_PROCESS 0x100u
#define SERVICE_AUTO_START 2u
#define SERVICE_DEMAND_START 3u
#define SERVICE_DISABLED 4u
#define SERVICE_ERROR_NORMAL 1u
#define SERVICE_STOPPED 1u
#define SERVICE_START_PENDING 2u
#define SERVICE_STOP_PENDING 3u
#define SERVICE_RUNNING 4u
#define SERVICE_CONTINUE_PENDING 5u
#define SERVICE_PAUSE_PENDING 6u
#define SERVICE_PAUSED 7u
#define SERVICE_ACCEPT_STOP 0x1u
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x2u
#define SERVICE_CONTROL_STOP 1u
#define SERVICE_CONTROL_PAUSE 2u
#define SERVICE_CONTROL_CONTINUE 3u
#define SERVICE_CONTROL_INTERROGATE 4u
#define SERVICE_ACCEPT_SHUTDOWN 0x4u
#define SERVICE_ACCEPT_PRESHUTDOWN 0x100u
#define SERVICE_CONTROL_SHUTDOWN 5u
#define SERVICE_CONTROL_PRESHUTDOWN 15u
#define SERVICE_ACCEPT_PARAMCHANGE 0x8u
#define SERVICE_CONTROL_PARAMCHANGE 6u
#define SERVICE_CONFIG_PRESHUTDOWN_INFO 7u
#define SERVICE_CHANGE_CONFIG 0x0002u
#define NO_ERROR 0u

struct SERVICE_PRESHUTDOWN_INFO {
  DWORD dwPreshutdownTimeout;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// Only the fields the system sets.
struct STARTUPINFOA {
  DWORD cb;
  DWORD dwFlags;
  WORD wShowWindow;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
typedef STARTUPINFOA* LPSTARTUPINFOA;

// Pipes, overlapped reads and the child's handle list: not simulated.
typedef uintptr_t ULONG_PTR, SIZE_T;
typedef ULONG_PTR* PULONG_PTR;
typedef SIZE_T* PSIZE_T;
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000u
#define PIPE_ACCESS_INBOUND 0x1u
#define PIPE_TYPE_BYTE 0x0u
#define PROC_THREAD_ATTRIBUTE_HANDLE_LIST 0x00020002u
struct OVERLAPPED {
  ULONG_PTR Internal, InternalHigh;
};
typedef OVERLAPPED* LPOVERLAPPED;
struct SimAttributeList;
typedef SimAttributeList* LPPROC_THREAD_ATTRIBUTE_LIST;
struct STARTUPINFOEXA {
  STARTUPINFOA StartupInfo;
  LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

struct FILETIME {
  DWORD dwLowDateTime, dwHighDateTime;
};
typedef FILETIME* LPFILETIME;

// Only the limit flags are looked at.
enum JOBOBJECTINFOCLASS { JobObjectExtendedLimitInformation = 9 };
#define JOB_OBJECT_LIMIT_BREAKAWAY_OK 0x00000800u
#define JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE 0x00002000u
struct JOBOBJECT_BASIC_LIMIT_INFORMATION {
  DWORD LimitFlags;
};
struct JOBOBJECT_EXTENDED_LIMIT_INFORMATION {
  JOBOBJECT_BASIC_LIMIT_INFORMATION BasicLimitInformation;
};

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard };

// Only the size and attributes are filled in.
struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  DWORD nFileSizeHigh, nFileSizeLow;
};

// Only the fields the system reads: the volume and index name the file.
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwVolumeSerialNumber, nFileSizeHigh, nFileSizeLow, nFileIndexHigh, nFileIndexLow;
};

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};
typedef SERVICE_STATUS* LPSERVICE_STATUS;

struct SERVICE_STATUS_PROCESS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
  DWORD dwProcessId;
  DWORD dwServiceFlags;
};
enum SC_STATUS_TYPE { SC_STATUS_PROCESS_INFO = 0 };
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;

typedef void (WINAPI* LPSERVICE_MAIN_FUNCTIONA)(DWORD, LPSTR*);
typedef void (WINAPI* LPHANDLER_FUNCTION)(DWORD);
typedef BOOL (WINAPI* PHANDLER_ROUTINE)(DWORD);
typedef DWORD (WINAPI* LPHANDLER_FUNCTION_EX)(DWORD, DWORD, LPVOID, LPVOID);

struct SERVICE_TABLE_ENTRYA {
  LPSTR lpServiceName;
  LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
};

// kernel32
DWORD GetLastError();
DWORD GetTickCount();
DWORD GetCurrentProcessId();
void SetLastError(DWORD error);
void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* time);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD GetFileAttributesA(LPCSTR path);
BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information);
BOOL DeleteFileA(LPCSTR path);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// Files only (no devices), opened existing or always; a file held with
// sim::LockFile cannot be opened for data, a full disk fails every write.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation);
BOOL CloseHandle(HANDLE handle);
LPCH GetEnvironmentStringsA();
BOOL FreeEnvironmentStringsA(LPCH block);
DWORD ResumeThread(HANDLE thread);
// A process can be in one job only, as on systems before nested jobs.
HANDLE CreateJobObjectA(LPSECURITY_ATTRIBUTES jobAttributes, LPCSTR name);
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info,
                             DWORD length);
BOOL GetProcessTimes(HANDLE process, LPFILETIME creation, LPFILETIME exit, LPFILETIME kernel,
                     LPFILETIME user);
BOOL TerminateJobObject(HANDLE job, UINT exitCode);
HANDLE CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD instances,
                        DWORD outSize, DWORD inSize, DWORD timeout, LPSECURITY_ATTRIBUTES sa);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
HANDLE CreateIoCompletionPort(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads);
BOOL GetQueuedCompletionStatus(HANDLE port, LPDWORD bytes, PULONG_PTR key, LPOVERLAPPED* done,
                               DWORD milliseconds);
BOOL PostQueuedCompletionStatus(HANDLE port, DWORD bytes, ULONG_PTR key, LPOVERLAPPED done);
BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD count,
                                       DWORD flags, PSIZE_T size);
BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR what,
                               LPVOID value, SIZE_T size, LPVOID previous, PSIZE_T returned);
void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);
HLOCAL LocalFree(HLOCAL memory);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
BOOL SetPriorityClass(HANDLE process, DWORD priorityClass);
DWORD GetPriorityClass(HANDLE process);
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                               LPSTR buffer, DWORD size, LPCSTR fileName);
// One console at a time per process; see sim.h for who receives an event.
BOOL AttachConsole(DWORD processId);
BOOL FreeConsole();
BOOL GenerateConsoleCtrlEvent(DWORD event, DWORD processGroupId);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);

// user32
DWORD WaitForInputIdle(HANDLE process, DWORD milliseconds);
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
HWND GetWindow(HWND window, UINT command);
HWND GetParent(HWND window);
BOOL IsWindow(HWND window);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);
BOOL ShowWindowAsync(HWND window, int command);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            UINT flags, UINT timeout, PDWORD_PTR result);

// advapi32
SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess);
SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess);
SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                         LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                         LPCSTR password);
BOOL DeleteService(SC_HANDLE service);
BOOL StartServiceA(SC_HANDLE service, DWORD argumentCount, LPCSTR* arguments);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                          LPDWORD needed);
BOOL CloseServiceHandle(SC_HANDLE handle);
BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(LPCSTR serviceName,
                                                    LPHANDLER_FUNCTION_EX handler, LPVOID context);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
BOOL ChangeServiceConfig2A(SC_HANDLE service, DWORD infoLevel, LPVOID info);
// The simulated descriptor is the string itself; LocalFree frees it.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size);

// The event log, and the registry keys of its sources.
typedef int32_t LONG;
typedef struct SimKey* HKEY;
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(uintptr_t(0x80000002u)))
#define ERROR_SUCCESS 0
#define KEY_SET_VALUE 0x0002u
#define REG_OPTION_NON_VOLATILE 0u
#define REG_EXPAND_SZ 2u
#define REG_DWORD 4u
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source);
BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId, LPVOID user,
                  WORD stringCount, DWORD dataSize, LPCSTR* strings, LPVOID data);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     DWORD access, LPSECURITY_ATTRIBUTES attributes, HKEY* result,
                     LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG RegCloseKey(HKEY key);

// The seam's own file opener: maps Windows paths into the simulated drives.
FILE* OpenFileA(const char* path, const char* mode);

// ws2_32: loopback only (see sim.h). The host's fd_set and its macros stand in
// for Winsock's: the code uses nothing else of them.
#include <sys/select.h>
typedef uintptr_t SOCKET;
typedef unsigned short u_short;
typedef unsigned long u_long;
#define INVALID_SOCKET (~SOCKET(0))
#define SOCKET_ERROR (-1)
#define AF_INET 2
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define SOL_SOCKET 0xffff
#define SO_ERROR 0x1007
#define SO_LINGER 0x0080
#define FIONBIO 0x8004667eL
#define INADDR_LOOPBACK 0x7f000001UL
#define WSAEWOULDBLOCK 10035
#define WSAEADDRNOTAVAIL 10049
#define WSAENOTCONN 10057
#define WSAECONNREFUSED 10061
#define WSAENOBUFS 10055
#define WSAEINVAL 10022
#define MAKEWORD(low, high) WORD((low) | ((high) << 8))
// Two 16-bit fields, as Windows has them.
struct linger {
  u_short l_onoff;
  u_short l_linger;
};
struct WSADATA {
  WORD wVersion;
};
struct in_addr {
  u_long s_addr;
};
struct sockaddr;
struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  in_addr sin_addr;
};
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
SOCKET socket(int family, int type, int protocol);
int ioctlsocket(SOCKET s, long command, u_long* argument);
int connect(SOCKET s, const sockaddr* address, int length);
int getsockopt(SOCKET s, int level, int option, char* value, int* length);
int setsockopt(SOCKET s, int level, int option, const char* value, int length);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int closesocket(SOCKET s);
u_short htons(u_short value);
u_long htonl(u_long value);
// The seam's wait on sockets: the host's select would otherwise be taken.
int SelectSockets(fd_set* read, fd_set* write, fd_set* except, DWORD milliseconds);
