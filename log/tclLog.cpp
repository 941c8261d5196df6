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

static size_t LineFeeds(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// The file's lines end in CR LF, as a text-mode write on Windows gives.
static std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + LineFeeds(text));
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// True only when every byte was taken and the close flushed them: a full
// disk may fail either.
bool tclLog::WriteAndClose(FILE* file, const std::string& text) {
  const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  return fclose(file) == 0 && written;
}

std::string tclLog::LossNotice() {
  if (DroppedLines == 0) return std::string();
  return TimeStamp() + "Warning: " + std::to_string(DroppedLines) +
         " log lines were lost while the log file could not be opened.\n";
}

// What is kept goes out with the line in one write, so a rotation never
// splits it. Only an open file is worth the copy: while the file is held, a
// line copies nothing of what is kept, with a limit or without.
bool tclLog::WriteBlock(const std::string& line) {
  const bool locked = MaxBytes > 0 && TakeFileLock();
  bool written = false;
  if (FILE* file = OpenFileA(Path.c_str(), "ab")) {
    const std::string notice = WithCrLf(LossNotice()), last = WithCrLf(line);
    const size_t bytes = notice.size() + KeptBytes + last.size();
    if (locked) file = RotateIfDue(file, bytes);
    if (file != nullptr) {
      std::string block;
      block.reserve(bytes);
      block += notice;
      for (const std::string& kept : Kept) block += kept;
      block += last;
      written = WriteAndClose(file, block);
    }
  }
  if (locked) ReleaseFileLock();
  return written;
}

// An empty line only writes what is kept.
void tclLog::WriteLocked(std::string line) {
  if (line.empty() && Kept.empty() && DroppedLines == 0) return;
  if (WriteBlock(line)) {
    ForgetKept();
    return;
  }
  if (!Keep) {
    // The console is the only other place the text can go.
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
    return;
  }
  if (line.empty()) return;
  // Kept as the file will have it: a full disk fails every try, and each
  // try then only copies it.
  std::string inFile = WithCrLf(line);
  KeptBytes += inFile.size();
  KeptCarriageReturns += inFile.size() - line.size();
  Kept.push_back(std::move(inFile));
  while (KeptBytes - KeptCarriageReturns > KeptLimit) {
    const size_t returns = LineFeeds(Kept.front());
    KeptBytes -= Kept.front().size();
    KeptCarriageReturns -= returns;
    Kept.pop_front();
    ++DroppedLines;
  }
}

void tclLog::ForgetKept() {
  Kept.clear();
  KeptBytes = 0;
  KeptCarriageReturns = 0;
  DroppedLines = 0;
}

void tclLog::KeepUnwrittenLines(bool keep) {
  std::lock_guard<std::mutex> hold(Lock);
  Keep = keep;
  if (!keep) ForgetKept();
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
