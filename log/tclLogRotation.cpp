// A bounded log: the file is moved to numbered backups before it would grow
// beyond its limit. The console role and the running service write the same
// file from two processes, so the size check, the renames and the append are
// done under one named mutex that both derive from the file's path.
#include <cstdio>

#include "log/ErrorText.h"
#include "log/NamedLock.h"
#include "log/tclLog.h"

namespace {

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

void tclLog::SetRotation(uint64_t maxBytes, int backups) {
  std::lock_guard<std::mutex> hold(Lock);
  MaxBytes = maxBytes;
  Backups = backups;
  DropFileLock();
}

// Paths name one file whatever their letter case.
std::string tclLog::LockNameOf(const std::string& path) { return SharedLockName("log", path); }

std::string tclLog::BackupPathOf(const std::string& path, int k) {
  const std::string extension = ".log";
  std::string stem = path, tail;
  if (stem.size() >= extension.size() &&
      Lower(stem.substr(stem.size() - extension.size())) == extension) {
    tail = stem.substr(stem.size() - extension.size());
    stem.resize(stem.size() - extension.size());
  }
  return stem + "." + std::to_string(k) + tail;
}

bool tclLog::TakeFileLock() {
  if (FileLock == nullptr) FileLock = MakeOrOpenLock(LockNameOf(Path));
  if (FileLock == nullptr) return false;
  DWORD result = WaitForSingleObject(FileLock, FileLockWait);
  // An abandoned mutex is ours: its holder ended, at worst mid-rotation,
  // which the next rotation completes (Rotate fills gaps).
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
    FileLockWait = RotationLockWait;
    return true;
  }
  // A holder that does not let go costs one wait, not one per line: until
  // the lock is had again, lines only try it and are appended unrotated.
  FileLockWait = 0;
  return false;
}

void tclLog::ReleaseFileLock() {
  if (ReleaseMutex(FileLock)) return;
  const DWORD error = GetLastError();
  DropFileLock();
  // Taking it again would only nest in the hold this thread keeps, and keep
  // the other role waiting at every line: rotation ends here. So this line
  // cannot come back through the lock, and is the only one of its kind.
  MaxBytes = 0;
  if (FILE* file = OpenFileA(Path.c_str(), "ab"))
    WriteAndClose(file, TimeStamp() + "Warning: " +
                            ErrorText(error, " releasing the log file's lock: the log file is "
                                             "no longer rotated.") + "\r\n");
}

void tclLog::DropFileLock() {
  if (FileLock != nullptr) CloseHandle(FileLock);
  FileLock = nullptr;
  FileLockWait = RotationLockWait;
}

// The size is read from the disk every time, under the lock: the other
// role's appends count. The open file is closed to be moved, and opened anew.
FILE* tclLog::RotateIfDue(FILE* file, uint64_t adding) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(Path.c_str(), GetFileExInfoStandard, &data)) return file;
  uint64_t size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // An empty file gains nothing by a rotation, even for a line beyond the limit.
  if (size == 0 || size + adding <= MaxBytes) return file;
  fclose(file);
  Rotate();
  return OpenFileA(Path.c_str(), "ab");
}

// Fills the first free backup number, so that a rotation that failed half
// way (a backup held by a viewer) and is tried again at the next line never
// shifts, and so deletes, the backups a second time. Only when every number
// is taken does the oldest go. Nothing is ever renamed over another file.
void tclLog::Rotate() {
  int free = 1;
  while (free <= Backups && Exists(BackupPathOf(Path, free))) ++free;
  if (free > Backups) {
    free = Backups;
    if (!DeleteFileA(BackupPathOf(Path, free).c_str())) return;
  }
  for (int k = free; k > 1; --k) {
    std::string older = BackupPathOf(Path, k), newer = BackupPathOf(Path, k - 1);
    if (!MoveFileExA(newer.c_str(), older.c_str(), 0)) return;
  }
  MoveFileExA(Path.c_str(), BackupPathOf(Path, 1).c_str(), 0);
}
