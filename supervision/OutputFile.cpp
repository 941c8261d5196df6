// The file is the service's alone, held open with every sharing flag so
// that readers, backups and administrators may copy, rename or delete it
// under a running program. Nothing the program writes waits for the disk:
// what cannot be written now is kept, and written in order later.
#include "supervision/OutputFile.h"

#include <algorithm>

#include "log/tclLog.h"
#include "supervision/OutputLines.h"
#include "supervision/tclPrc.h"

namespace {

const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const size_t LastLineLimit = 200;

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An empty file takes any line, even one beyond the limit.
bool Fits(uint64_t used, uint64_t adding, const tclOutputOptions& options) {
  return options.MaxBytes == 0 || used == 0 || used + adding <= options.MaxBytes;
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

tclOutputFile::tclOutputFile(const std::string& path, const tclOutputOptions& options)
    : Path(path), Options(options) {}

tclOutputFile::~tclOutputFile() {
  if (!Kept.empty() || Lost > 0) Drain(CurrentOptions());
  Close();
}

void tclOutputFile::SetOptions(const tclOutputOptions& options) {
  std::lock_guard<std::mutex> hold(Mu);
  Options = options;
}

tclOutputOptions tclOutputFile::CurrentOptions() const {
  std::lock_guard<std::mutex> hold(Mu);
  return Options;
}

std::string tclOutputFile::LastLine() const {
  std::lock_guard<std::mutex> hold(Mu);
  return Last;
}

// Lines lost for want of memory still count as the program's last words.
void tclOutputFile::Remember(const std::vector<std::string>& lines) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    std::string end = LineEndOf(*line);
    if (end.empty()) continue;
    LineEnd = end;
    break;
  }
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    size_t size = line->size() - LineEndOf(*line).size();
    if (size == 0) continue;
    std::lock_guard<std::mutex> hold(Mu);
    Last = line->substr(0, std::min(size, LastLineLimit));
    return;
  }
}

void tclOutputFile::Write(const std::vector<std::string>& lines) {
  tclOutputOptions options = CurrentOptions();
  Remember(lines);
  std::vector<std::string> stamped;
  if (options.Timestamps) {
    const std::string stamp = Log.TimeStamp();
    for (const std::string& line : lines) stamped.push_back(stamp + line);
  }
  const std::vector<std::string>& out = options.Timestamps ? stamped : lines;
  // Behind kept lines new ones wait their turn, which Tend gives them.
  size_t done = Kept.empty() && Lost == 0 ? WriteSome(out.data(), out.size(), options) : 0;
  for (size_t i = done; i < out.size(); ++i) Keep(out[i]);
}

void tclOutputFile::Tend() {
  tclOutputOptions options = CurrentOptions();
  if (File != INVALID_HANDLE_VALUE && !StillNamed()) Close();
  if (!Kept.empty() || Lost > 0) Drain(options);
}

// Once one line is lost the rest are counted too, so the notice stands
// where the gap is.
void tclOutputFile::Keep(std::string line) {
  if (Lost > 0 || KeptBytes + line.size() > KeptLimit) {
    ++Lost;
    return;
  }
  KeptBytes += line.size();
  Kept.push_back(std::move(line));
}

bool tclOutputFile::Drain(const tclOutputOptions& options) {
  size_t done = WriteSome(Kept.data(), Kept.size(), options);
  for (size_t i = 0; i < done; ++i) KeptBytes -= Kept[i].size();
  Kept.erase(Kept.begin(), Kept.begin() + long(done));
  if (!Kept.empty()) return false;
  if (Lost == 0) return true;
  std::string notice = std::to_string(Lost) + " output lines were lost" + LineEnd;
  if (options.Timestamps) notice = Log.TimeStamp() + notice;
  if (WriteSome(&notice, 1, options) == 0) return false;
  Lost = 0;
  return true;
}

// As many lines as the file takes now, in one write per file; the count
// written. A line never straddles a rotation.
size_t tclOutputFile::WriteSome(const std::string* lines, size_t count,
                                const tclOutputOptions& options) {
  size_t done = 0;
  std::string batch;
  while (done < count) {
    if (!Open(options)) break;
    if (!Fits(Size, lines[done].size(), options) && !Rotate(options)) break;
    batch.clear();
    size_t next = done;
    while (next < count && (next == done || Fits(Size + batch.size(), lines[next].size(), options)))
      batch += lines[next++];
    if (!Append(batch, options)) break;
    done = next;
  }
  return done;
}

bool tclOutputFile::Open(const tclOutputOptions& options) {
  if (File != INVALID_HANDLE_VALUE) return true;
  File = CreateFileA(Path.c_str(), FILE_APPEND_DATA, ShareAll, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return Fail(options);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(File, &info)) {
    Fail(options);
    Close();
    return false;
  }
  Size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

// Closed first: Wine renames an open file less surely than Windows. The
// first free backup number is filled, so that a rotation that failed half
// way and is tried again never shifts, and so deletes, a backup twice.
bool tclOutputFile::Rotate(const tclOutputOptions& options) {
  Close();
  const uint32_t backups = std::max(options.Backups, 1u);
  uint32_t free = 1;
  while (free <= backups && Exists(BackupName(Path, free))) ++free;
  if (free > backups) {
    free = backups;
    if (!DeleteFileA(BackupName(Path, free).c_str())) return Fail(options);
  }
  for (uint32_t k = free; k > 1; --k)
    if (!MoveFileExA(BackupName(Path, k - 1).c_str(), BackupName(Path, k).c_str(), 0))
      return Fail(options);
  if (!MoveFileExA(Path.c_str(), BackupName(Path, 1).c_str(), 0)) return Fail(options);
  return Open(options);
}

bool tclOutputFile::Append(const std::string& text, const tclOutputOptions& options) {
  DWORD written = 0;
  bool ok = WriteFile(File, text.data(), DWORD(text.size()), &written, nullptr) &&
            written == text.size();
  if (!ok) return Fail(options);
  Size += written;
  Outage = false;
  return true;
}

// The error of the call that just failed, named once until a write succeeds.
bool tclOutputFile::Fail(const tclOutputOptions& options) {
  const DWORD error = GetLastError();
  if (Outage) return false;
  Outage = true;
  LogProgramLine(options.FileLogging, options.LogPrefix +
                                          "The output log cannot be written (error " +
                                          std::to_string(int32_t(error)) + "): " + Path);
  return false;
}

// Whether the path still leads to the file we hold; a delete-pending file
// cannot be opened, and so counts as gone.
bool tclOutputFile::StillNamed() {
  HANDLE named = CreateFileA(Path.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  bool same = SameFile(File, named);
  CloseHandle(named);
  return same;
}

void tclOutputFile::Close() {
  if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
  File = INVALID_HANDLE_VALUE;
}
