#include "log/tclLog.h"

#include <cstdio>

namespace {

const char* const WeekDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

thread_local bool ThreadFileEnabled = true;

// A line written in pieces (a stamped start, then the rest with its line end)
// is collected per thread and written in one go, so the other thread's lines
// can never land in the middle of it.
thread_local std::string PendingPiece;

}  // namespace

tclLog::tclLog(const std::string& path) : Path(path) {}

tclLog::~tclLog() {
  Enabled = false;
  ThreadFileEnabled = false;
  std::lock_guard<std::mutex> hold(Lock);
  Path.clear();
}

void tclLog::SetPath(const std::string& path) {
  std::lock_guard<std::mutex> hold(Lock);
  Path = path;
  DropFileLock();
}

std::string tclLog::GetPath() {
  std::lock_guard<std::mutex> hold(Lock);
  return Path;
}

std::string tclLog::FormatStamp(const SYSTEMTIME& t) {
  char text[64];
  snprintf(text, sizeof text, "%s %s %02u %02u:%02u:%02u %04u",
           WeekDays[t.wDayOfWeek % 7], Months[(t.wMonth + 11) % 12], unsigned(t.wDay),
           unsigned(t.wHour), unsigned(t.wMinute), unsigned(t.wSecond), unsigned(t.wYear));
  return text;
}

std::string tclLog::TimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatStamp(now) + " :: ";
}

void tclLog::ConsoleText(const std::string& text, bool stamp) {
  std::string out = stamp ? TimeStamp() + text : text;
  fwrite(out.data(), 1, out.size(), stdout);
  fflush(stdout);
}

void tclLog::ConsoleLine(const std::string& text, bool stamp) { ConsoleText(text + "\n", stamp); }

void tclLog::FileText(const std::string& text, bool stamp) {
  if (!ThreadFileEnabled || !Enabled) {
    PendingPiece.clear();
    return;
  }
  AppendToFile(text, stamp);
}

void tclLog::FileLine(const std::string& text, bool stamp) { FileText(text + "\n", stamp); }

void tclLog::AppendToFile(const std::string& text, bool stamp) {
  PendingPiece += stamp ? TimeStamp() + text : text;
  if (PendingPiece.empty() || PendingPiece.back() != '\n') return;
  std::string line;
  line.swap(PendingPiece);

  std::lock_guard<std::mutex> hold(Lock);
  WriteLocked(std::move(line));
}

// The file's lines end in CR LF, as a text-mode write on Windows gives.
static std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// What is kept goes out with the line in one write, so a rotation never
// splits it.
std::string tclLog::Block(const std::string& line) {
  std::string text;
  if (DroppedLines > 0)
    text = TimeStamp() + "Warning: " + std::to_string(DroppedLines) +
           " log lines were lost while the log file could not be opened.\n";
  for (const std::string& kept : Kept) text += kept;
  text += line;
  return WithCrLf(text);
}

// An empty line only writes what is kept.
void tclLog::WriteLocked(std::string line) {
  bool pending = !Kept.empty() || DroppedLines > 0;
  if (line.empty() && !pending) return;
  // Without rotation the block is only built once the file is open: while
  // it is held, up to KeptLimit would be copied for every line.
  std::string out;
  const bool rotating = MaxBytes > 0 && TakeFileLock();
  if (rotating) RotateIfDue((out = Block(line)).size());
  FILE* file = OpenFileA(Path.c_str(), "ab");
  if (file) {
    if (!rotating) out = Block(line);
    fwrite(out.data(), 1, out.size(), file);
    fclose(file);
  }
  if (rotating) ReleaseFileLock();
  if (file) {
    Kept.clear();
    KeptBytes = 0;
    DroppedLines = 0;
    return;
  }
  if (!Keep) {
    // The console is the only other place the text can go.
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
    return;
  }
  if (line.empty()) return;
  KeptBytes += line.size();
  Kept.push_back(std::move(line));
  while (KeptBytes > KeptLimit) {
    KeptBytes -= Kept.front().size();
    Kept.pop_front();
    ++DroppedLines;
  }
}

void tclLog::KeepUnwrittenLines(bool keep) {
  std::lock_guard<std::mutex> hold(Lock);
  Keep = keep;
  if (keep) return;
  Kept.clear();
  KeptBytes = 0;
  DroppedLines = 0;
}

void tclLog::WriteKeptLines() {
  std::lock_guard<std::mutex> hold(Lock);
  WriteLocked(std::string());
}

void tclLog::BothText(const std::string& text, bool consoleStamp, bool fileStamp) {
  ConsoleText(text, consoleStamp);
  FileText(text, fileStamp);
}

void tclLog::BothLine(const std::string& text, bool consoleStamp, bool fileStamp) {
  BothText(text + "\n", consoleStamp, fileStamp);
}

void tclLog::SetFileEnabled(bool enabled) { ThreadFileEnabled = enabled; }

bool tclLog::FileEnabled() const { return ThreadFileEnabled; }
