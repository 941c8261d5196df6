// The system's only channel for messages: the console and one log file.
#pragma once
#include <atomic>
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

 private:
  void AppendToFile(const std::string& text, bool stamp);

  std::mutex Lock;  // serialises file writes and guards Path
  std::string Path;
  std::atomic<bool> Enabled{true};
};
