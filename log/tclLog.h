// The system's only channel for messages: the console and one log file.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "platform/win.h"

class tclLog {
 public:
  explicit tclLog(const std::string& path);
  ~tclLog();
  tclLog(const tclLog&) = delete;
  tclLog& operator=(const tclLog&) = delete;

  void SetPath(const std::string& path);
  std::string GetPath();

  // The current local time as "Mon Mar 05 09:04:05 2007 :: ".
  std::string TimeStamp();
  static std::string FormatStamp(const SYSTEMTIME& time);

  void ConsoleText(const std::string& text, bool stamp);
  void ConsoleLine(const std::string& text, bool stamp);
  void FileText(const std::string& text, bool stamp);
  void FileLine(const std::string& text, bool stamp);
  void BothText(const std::string& text, bool consoleStamp, bool fileStamp);
  void BothLine(const std::string& text, bool consoleStamp, bool fileStamp);

  // The file switch belongs to the calling thread, so that a silent read or a
  // program with logging off on one thread never silences the other thread.
  void SetFileEnabled(bool enabled);
  bool FileEnabled() const;

  // In the service role nobody reads the console: a line whose file cannot be
  // opened is kept, stamp and all, and written before the next line that can
  // be. KeptLimit bytes at most; beyond it the oldest lines give way.
  // Switched off, lines go to the console again and what was kept is let go.
  void KeepUnwrittenLines(bool keep);
  // Writes the kept lines if the file can be opened now.
  void WriteKeptLines();
  static const size_t KeptLimit = 1024 * 1024;

  // With maxBytes above 0, a write that would take the file beyond it first
  // moves the file to the newest of `backups` numbered copies (name.1.log),
  // the older ones one number up and the oldest out. A failed rename leaves
  // the file as it is until the next write. Other processes writing the same
  // file rotate under the same named lock; one that cannot get it in
  // RotationLockWait ms, or could only wait on it and not release it,
  // appends without rotating. A release that fails ends rotation, with one
  // warning line.
  void SetRotation(uint64_t maxBytes, int backups);
  // "X.log" gives "X.<k>.log"; a path without ".log" gains ".<k>".
  static std::string BackupPathOf(const std::string& path, int k);
  // The named mutex of the log at that path, the same in every process.
  static std::string LockNameOf(const std::string& path);
  static const DWORD RotationLockWait = 500;

 private:
  void AppendToFile(const std::string& text, bool stamp);
  // All with Lock held.
  void WriteLocked(std::string line);
  bool WriteBlock(const std::string& line);
  std::string LossNotice();
  void ForgetKept();
  static bool WriteAndClose(FILE* file, const std::string& text);
  // tclLogRotation.cpp; all with Lock held. A lock that cannot be released
  // is never taken.
  bool TakeFileLock();
  void ReleaseFileLock();
  void DropFileLock();
  FILE* RotateIfDue(FILE* file, uint64_t adding);
  void Rotate();

  std::mutex Lock;  // serialises file writes and guards the fields below
  std::string Path;
  std::atomic<bool> Enabled{true};
  bool Keep = false;
  std::deque<std::string> Kept;   // in the file's form, CR LF and all
  size_t KeptBytes = 0;
  size_t KeptCarriageReturns = 0;   // added by that form; KeptLimit leaves them out
  uint32_t DroppedLines = 0;
  uint64_t MaxBytes = 0;   // 0: no limit, or no lock to rotate under
  int Backups = 1;
  HANDLE FileLock = nullptr;   // named after Path, made at the first rotating write
  DWORD FileLockWait = RotationLockWait;
};

// Sets the calling thread's file switch for one scope. At its end the switch
// is on again, whatever it was before: switching on is absolute.
class FileSwitch {
 public:
  FileSwitch(tclLog& log, bool enabled) : Owner(log) { Owner.SetFileEnabled(enabled); }
  ~FileSwitch() { Owner.SetFileEnabled(true); }
  FileSwitch(const FileSwitch&) = delete;
  FileSwitch& operator=(const FileSwitch&) = delete;

 private:
  tclLog& Owner;
};

// The one log of the run.
extern tclLog Log;
