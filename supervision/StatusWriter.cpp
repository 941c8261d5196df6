#include <cstdio>

#include "config/Locations.h"
#include "log/ErrorText.h"
#include "log/tclLog.h"
#include "supervision/StatusFile.h"
#include "supervision/tclPrcList.h"

namespace {

// A reader ("-status", a viewer) may hold the old file for a moment.
const int ReplaceAttempts = 3;
const DWORD ReplaceRetryPause = 50;

bool MoveOver(const std::string& from, const std::string& to, DWORD& error) {
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = GetLastError();
    if (attempt == ReplaceAttempts) return false;
    Sleep(ReplaceRetryPause);
  }
}

// Written under another name and renamed over the old file, so that a reader
// finds the old content or the new, never a mix. False with the log line.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& failure) {
  std::string temporary = tclStatusWriter::TemporaryPathOf(path);
  FILE* file = OpenFileA(temporary.c_str(), "wb");
  bool written = file != nullptr && fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr && fclose(file) != 0) written = false;
  DWORD error = 0;
  if (!written) {
    failure = "Error: The status file could not be written: " + temporary;
  } else if (!MoveOver(temporary, path, error)) {
    failure = ErrorText(error, ": The status file could not be replaced: " + path);
    written = false;
  }
  if (!written) DeleteFileA(temporary.c_str());
  return written;
}

}  // namespace

void tclStatusWriter::Begin(const std::string& path, DWORD writerId, const std::string& started) {
  std::lock_guard<std::mutex> hold(Lock);
  Path = path;
  Header = StatusHeader();
  Header.WriterId = writerId;
  Header.Started = started;
  LastBody.clear();
  std::string temporary = TemporaryPathOf(path);
  FailureLogged = !FitsPathLimit(temporary);
  if (FailureLogged)
    Log.FileLine("Warning: The status file cannot be written: this path is too long: " + temporary,
                 true);
}

void tclStatusWriter::NoteReloadAsked() {
  std::lock_guard<std::mutex> hold(Lock);
  ++Header.ReloadsAsked;
}

void tclStatusWriter::NoteReloadBegun(uint32_t budgetMs) {
  std::lock_guard<std::mutex> hold(Lock);
  Header.ReloadsCovered = Header.ReloadsAsked;
  Header.ReloadBudget = budgetMs;
}

void tclStatusWriter::NoteReload(const std::string& outcome) {
  std::lock_guard<std::mutex> hold(Lock);
  ++Header.Reloads;
  Header.ReloadOutcome = outcome;
  Header.ReloadBudget = 0;
}

std::string tclStatusWriter::TemporaryPathOf(const std::string& path) { return path + ".tmp"; }

void tclStatusWriter::Write(std::string (*serviceState)(), tclPrcList& list) {
  std::lock_guard<std::mutex> hold(Lock);
  Header.Service = serviceState();
  std::vector<ProgramStatus> rows = ProgramStatuses(list);
  Header.Written.clear();
  std::string body = FormatStatus(Header, rows);
  if (body == LastBody) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  Header.Written = tclLog::FormatStamp(now);
  std::string failure;
  if (ReplaceFile(Path, FormatStatus(Header, rows), failure)) {
    LastBody = body;
    FailureLogged = false;
  } else if (!FailureLogged) {
    // Once, until a write succeeds again: the pass retries every time.
    Log.FileLine(failure, true);
    FailureLogged = true;
  }
}
