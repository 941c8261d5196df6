#include "supervision/ChildStreams.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace {

const DWORD PipeBuffer = 64 * 1024;
std::atomic<uint32_t> PipeCount{0};

void Close(HANDLE& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

// Made inheritable, for the one launch whose list names them; closed here
// right after it.
SECURITY_ATTRIBUTES Inheritable() {
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  return security;
}

HANDLE Opened(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

}  // namespace

tclChildStreams::~tclChildStreams() {
  CloseChildEnds();
  Close(OutputEnd);
  Close(ErrorEnd);
}

DWORD tclChildStreams::MakePipe(HANDLE& serviceEnd, HANDLE& childEnd) {
  // One instance, first of its name: nobody else can be on the other end.
  std::string name = "\\\\.\\pipe\\QuarnLoader." + std::to_string(GetCurrentProcessId()) + "." +
                     std::to_string(++PipeCount);
  serviceEnd = Opened(CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE, 1, 0, PipeBuffer, 0, nullptr));
  if (serviceEnd == nullptr) return GetLastError();
  SECURITY_ATTRIBUTES security = Inheritable();
  childEnd = Opened(
      CreateFileA(name.c_str(), GENERIC_WRITE, 0, &security, OPEN_EXISTING, 0, nullptr));
  return childEnd == nullptr ? GetLastError() : 0;
}

DWORD tclChildStreams::Make(const tclLaunchSettings& launch, STARTUPINFOEXA& startup) {
  // Merged streams share one pipe, so their lines keep the order they came in.
  bool output = !launch.OutputLog.empty(), error = !launch.ErrorLog.empty();
  if (output)
    if (DWORD e = MakePipe(OutputEnd, ChildOutput)) return e;
  if (error)
    if (DWORD e = MakePipe(ErrorEnd, ChildError)) return e;
  SECURITY_ATTRIBUTES security = Inheritable();
  Null = Opened(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &security, OPEN_EXISTING, 0,
                            nullptr));
  if (Null == nullptr) return GetLastError();
  STARTUPINFOA& info = startup.StartupInfo;
  info.cb = sizeof startup;
  info.dwFlags |= STARTF_USESTDHANDLES;
  info.hStdInput = Null;
  info.hStdOutput = output ? ChildOutput : Null;
  info.hStdError = error ? ChildError : output ? ChildOutput : Null;
  for (HANDLE handle : {info.hStdInput, info.hStdOutput, info.hStdError})
    if (std::find(Inherited.begin(), Inherited.end(), handle) == Inherited.end())
      Inherited.push_back(handle);   // the list takes each handle once
  return MakeList(startup);
}

DWORD tclChildStreams::MakeList(STARTUPINFOEXA& startup) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  if (size == 0) return GetLastError();
  ListBuffer.resize(size);
  LPPROC_THREAD_ATTRIBUTE_LIST list =
      reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(ListBuffer.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return GetLastError();
  List = list;
  if (!UpdateProcThreadAttribute(List, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, Inherited.data(),
                                 Inherited.size() * sizeof(HANDLE), nullptr, nullptr))
    return GetLastError();
  startup.lpAttributeList = List;
  return 0;
}

void tclChildStreams::CloseChildEnds() {
  if (List != nullptr) DeleteProcThreadAttributeList(List);
  List = nullptr;
  Close(ChildOutput);
  Close(ChildError);
  Close(Null);
}

HANDLE tclChildStreams::TakeOutputEnd() { return std::exchange(OutputEnd, nullptr); }

HANDLE tclChildStreams::TakeErrorEnd() { return std::exchange(ErrorEnd, nullptr); }
