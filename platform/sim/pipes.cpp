// Pipes, completion ports and handle lists are not simulated: a program whose
// output is to be captured starts uncaptured, as where Windows refuses them.
#include "platform/sim/sim_internal.h"

using sim::detail::Fail;

HANDLE CreateNamedPipeA(LPCSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, LPSECURITY_ATTRIBUTES) {
  return Fail(ERROR_NOT_SUPPORTED, INVALID_HANDLE_VALUE);
}
BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) { return Fail(ERROR_NOT_SUPPORTED); }
BOOL CancelIoEx(HANDLE, LPOVERLAPPED) { return Fail(ERROR_NOT_SUPPORTED); }
HANDLE CreateIoCompletionPort(HANDLE, HANDLE, ULONG_PTR, DWORD) {
  return Fail(ERROR_NOT_SUPPORTED, HANDLE());
}
BOOL GetQueuedCompletionStatus(HANDLE, LPDWORD, PULONG_PTR, LPOVERLAPPED* overlapped, DWORD) {
  *overlapped = nullptr;
  return Fail(ERROR_NOT_SUPPORTED);
}
BOOL PostQueuedCompletionStatus(HANDLE, DWORD, ULONG_PTR, LPOVERLAPPED) {
  return Fail(ERROR_NOT_SUPPORTED);
}
BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T) {
  return Fail(ERROR_NOT_SUPPORTED);
}
BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, LPVOID, SIZE_T,
                               LPVOID, PSIZE_T) {
  return Fail(ERROR_NOT_SUPPORTED);
}
void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST) {}
