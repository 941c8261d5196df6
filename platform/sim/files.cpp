// Simulated drives: Windows paths map to host files below a private root.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sim/sim_internal.h"

namespace fs = std::filesystem;

namespace {

const char* const DefaultModulePath = "C:\\QuarnLoader\\QuarnLoader.exe";

// All guarded by Mu().
std::string g_root;
std::set<std::string> g_locked;   // host paths
std::string g_modulePath = DefaultModulePath;
bool g_diskFull = false;
sim::detail::Objects<SimObject> g_files;   // every file handle until Reset

// Removes the last root when the test program ends.
struct RootCleaner {
  ~RootCleaner() {
    std::error_code ec;
    if (!g_root.empty()) fs::remove_all(g_root, ec);
  }
} g_rootCleaner;

void MakeRootLocked() {
  char pattern[] = "/tmp/qlsim.XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) {
    std::perror("qlsim: mkdtemp");
    std::abort();
  }
  g_root = made;
}

const std::string& RootLocked() {
  if (g_root.empty()) MakeRootLocked();
  return g_root;
}

// Drive-less paths ("\x", "x") count as being on drive C.
std::string HostPathLocked(const std::string& windowsPath) {
  std::string rest = windowsPath;
  char drive = 'c';
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'a' && rest[0] <= 'z') || (rest[0] >= 'A' && rest[0] <= 'Z'))) {
    drive = char(rest[0] | 0x20);
    rest = rest.substr(2);
  }
  for (char& c : rest)
    if (c == '\\') c = '/';
  if (rest.empty() || rest[0] != '/') rest = "/" + rest;
  return RootLocked() + "/" + drive + rest;
}

bool WritesTo(const char* mode) {
  return std::strchr(mode, 'w') != nullptr || std::strchr(mode, 'a') != nullptr ||
         std::strchr(mode, '+') != nullptr;
}

}  // namespace

namespace sim {
namespace detail {

void ResetFiles() {
  std::lock_guard<std::mutex> hold(Mu());
  std::error_code ec;
  if (!g_root.empty()) fs::remove_all(g_root, ec);
  MakeRootLocked();
  for (auto& file : g_files.all)
    if (!file->closed) close(file->fd);
  g_files = {};
  g_locked.clear();
  g_modulePath = DefaultModulePath;
  g_diskFull = false;
  // The module's own folder exists, as it would on the machine it runs on.
  fs::create_directories(fs::path(HostPathLocked(g_modulePath)).parent_path(), ec);
}

// FALSE with no error set: not a file handle.
BOOL CloseFileHandle(HANDLE handle) {
  std::lock_guard<std::mutex> hold(Mu());
  if (!g_files.Has(handle) || handle->closed) return FALSE;
  handle->closed = true;
  return close(handle->fd) == 0;
}

}  // namespace detail

std::string HostPath(const std::string& windowsPath) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  return HostPathLocked(windowsPath);
}

void WriteFile(const std::string& windowsPath, const std::string& content) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  std::string host = HostPathLocked(windowsPath);
  std::error_code ec;
  fs::create_directories(fs::path(host).parent_path(), ec);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::string& windowsPath) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  std::ifstream in(HostPathLocked(windowsPath), std::ios::binary);
  if (!in) return "";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool FileExists(const std::string& windowsPath) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  std::error_code ec;
  return fs::is_regular_file(HostPathLocked(windowsPath), ec);
}

void RemoveFile(const std::string& windowsPath) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  std::error_code ec;
  fs::remove(HostPathLocked(windowsPath), ec);
}

void MakeDirectory(const std::string& windowsPath) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  std::error_code ec;
  fs::create_directories(HostPathLocked(windowsPath), ec);
}

void LockFile(const std::string& windowsPath, bool locked) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  std::string host = HostPathLocked(windowsPath);
  if (locked)
    g_locked.insert(host);
  else
    g_locked.erase(host);
}

void SetDiskFull(bool full) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  g_diskFull = full;
}

void SetModulePath(const std::string& path) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  g_modulePath = path;
}

}  // namespace sim

FILE* OpenFileA(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::string host;
  {
    std::lock_guard<std::mutex> hold(sim::detail::Mu());
    host = HostPathLocked(path);
    if (WritesTo(mode) && g_locked.count(host) != 0) {
      errno = EACCES;
      return nullptr;
    }
    // stdio then fails where it would on a full disk: at the write that
    // reaches the device, or at the flush of the close.
    if (WritesTo(mode) && g_diskFull) host = "/dev/full";
  }
  return std::fopen(host.c_str(), mode);
}

DWORD GetFileAttributesA(LPCSTR path) {
  if (path == nullptr) return sim::detail::Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  std::string host = sim::HostPath(path);
  std::error_code ec;
  fs::file_status status = fs::status(host, ec);
  if (fs::is_directory(status)) return FILE_ATTRIBUTE_DIRECTORY;
  if (fs::exists(status)) return FILE_ATTRIBUTE_NORMAL;
  bool parentThere = fs::is_directory(fs::path(host).parent_path(), ec);
  return sim::detail::Fail(parentThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                           INVALID_FILE_ATTRIBUTES);
}

BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
  if (path == nullptr || information == nullptr || level != GetFileExInfoStandard)
    return sim::detail::Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  data.dwFileAttributes = attributes;
  if (attributes != FILE_ATTRIBUTE_DIRECTORY) {
    std::error_code ec;
    uint64_t size = fs::file_size(sim::HostPath(path), ec);
    if (ec) size = 0;
    data.nFileSizeHigh = DWORD(size >> 32);
    data.nFileSizeLow = DWORD(size);
  }
  *static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information) = data;
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  if (path == nullptr) return sim::detail::Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  std::string host = HostPathLocked(path);
  std::error_code ec;
  if (!fs::is_regular_file(host, ec)) return sim::detail::Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (g_locked.count(host) != 0) return sim::detail::Fail(ERROR_SHARING_VIOLATION, FALSE);
  return fs::remove(host, ec) ? TRUE : sim::detail::Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (from == nullptr || to == nullptr) return sim::detail::Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  std::string source = HostPathLocked(from), target = HostPathLocked(to);
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return sim::detail::Fail(ERROR_FILE_NOT_FOUND, FALSE);
  bool targetThere = fs::exists(target, ec);
  if (targetThere && (flags & MOVEFILE_REPLACE_EXISTING) == 0)
    return sim::detail::Fail(ERROR_ALREADY_EXISTS, FALSE);
  if (g_locked.count(source) != 0 || (targetThere && g_locked.count(target) != 0))
    return sim::detail::Fail(ERROR_SHARING_VIOLATION, FALSE);
  fs::rename(source, target, ec);
  return ec ? sim::detail::Fail(ERROR_ACCESS_DENIED, FALSE) : TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module != nullptr) return sim::detail::Fail(ERROR_MOD_NOT_FOUND, DWORD(0));
  std::string path;
  {
    std::lock_guard<std::mutex> hold(sim::detail::Mu());
    path = g_modulePath;
  }
  if (path.empty()) return sim::detail::Fail(ERROR_MOD_NOT_FOUND, DWORD(0));
  if (buffer == nullptr || size == 0) return sim::detail::Fail(ERROR_INSUFFICIENT_BUFFER, DWORD(0));
  if (path.size() < size) {
    std::memcpy(buffer, path.data(), path.size());
    buffer[path.size()] = '\0';
    return DWORD(path.size());
  }
  std::memcpy(buffer, path.data(), size - 1);
  buffer[size - 1] = '\0';
  return sim::detail::Fail(ERROR_INSUFFICIENT_BUFFER, size);
}

// The host's unlink and rename work on open files, as sharing for delete
// lets them on Windows.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  std::string host = HostPathLocked(path);
  if (access != 0 && g_locked.count(host) != 0)
    return sim::detail::Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  int flags = access == 0 ? O_RDONLY : O_WRONLY | O_APPEND;
  if (disposition == OPEN_ALWAYS) flags |= O_CREAT;
  SimObject file;
  file.fd = open(host.c_str(), flags, 0644);
  if (file.fd >= 0) return g_files.Add(file);
  DWORD error = disposition == OPEN_ALWAYS ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
  return sim::detail::Fail(error, INVALID_HANDLE_VALUE);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, LPOVERLAPPED) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  *written = 0;
  if (g_diskFull) return sim::detail::Fail(ERROR_DISK_FULL);
  ssize_t done = write(file->fd, buffer, size);
  if (done < 0) return sim::detail::Fail(ERROR_INVALID_HANDLE);
  *written = DWORD(done);
  return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  struct stat s;
  if (fstat(file->fd, &s) != 0) return sim::detail::Fail(ERROR_INVALID_HANDLE);
  *information = {DWORD(s.st_dev), DWORD(uint64_t(s.st_size) >> 32), DWORD(s.st_size),
                  DWORD(uint64_t(s.st_ino) >> 32), DWORD(s.st_ino)};
  return TRUE;
}
