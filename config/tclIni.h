// The only reader of the configuration file; every read goes to the file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "config/Constants.h"
#include "supervision/StopMethod.h"

class tclIni {
 public:
  explicit tclIni(const std::string& path);

  void SetPath(const std::string& path);
  const std::string& FilePath() const { return Path; }

  // Off while a reload reads the file: its log tells what changed, not the
  // whole account again. Only the supervision loop reads the file then.
  bool Echo = true;
  // While the echo is off, the lines about a program section begin with
  // this, so that they name their program as the account's section header does.
  std::string LinePrefix;
  // An error or warning about what the file says, logged once, here.
  void Error(const std::string& text);

  std::string ReadValue(const std::string& section, const std::string& key,
                        const std::string& defaultValue);
  std::string ReadWord(const std::string& section, const std::string& key,
                       const std::string& defaultValue);
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue);
  bool ReadYesNo(const std::string& section, const std::string& key, bool defaultValue);
  // Keys added beyond the original set are echoed only when the file has
  // them, so a file without them gives the account it always gave.
  bool HasKey(const std::string& section, const std::string& key);
  int32_t ReadOptionalInteger(const std::string& section, const std::string& key,
                              int32_t defaultValue);
  bool ReadOptionalYesNo(const std::string& section, const std::string& key, bool defaultValue);
  // `fallback` where the section has no such key (or an empty one).
  tclStopMethod ReadOptionalStopMethod(const std::string& section, tclStopMethod fallback);
  static std::string SectionName(int32_t n);

  std::string ReadServiceName();
  bool ReadUserInterface();
  int32_t ReadRestartInterval();
  std::string ReadAppName(int32_t n);
  std::string ReadProcessName(int32_t n);
  std::string ReadCommandLine(int32_t n);
  std::string ReadStartDir(int32_t n);
  uint32_t ReadPriority(int32_t n);
  uint32_t ReadWindow(int32_t n);
  // Whether the loop restarts it: yes, or onfailure, which sets `onFailureOnly`.
  bool ReadAutoRestart(int32_t n, bool* onFailureOnly = nullptr);
  bool ReadPaused(int32_t n);
  int32_t ReadStartPause(int32_t n);
  int32_t ReadStopPause(int32_t n);
  int32_t ReadNumOfRespChecks(int32_t n);
  bool ReadPrcFileLogging(int32_t n);
  // The log's limit in KiB (0: none) and how many backups it keeps (1 to 9);
  // echoed only when set.
  int32_t ReadLogMaxSize();
  int32_t ReadLogBackups();

  // Until ForgetKeys, a key the section's list of names lacks is taken as
  // absent without a lookup: one call for the list instead of one per absent
  // key, which under some readers checks the file again each time.
  void ListKeys(const std::string& section);
  void ForgetKeys();

 private:
  bool IsListedAbsent(const std::string& section, const std::string& key) const;

  std::string Path;  // set once, before any second thread exists
  std::string ListedSection;             // empty: no list held
  std::vector<std::string> ListedKeys;   // in lower case
};

class tclIniKeyList {
 public:
  tclIniKeyList(tclIni& ini, const std::string& section) : Owner(ini) { Owner.ListKeys(section); }
  ~tclIniKeyList() { Owner.ForgetKeys(); }
  tclIniKeyList(const tclIniKeyList&) = delete;
  tclIniKeyList& operator=(const tclIniKeyList&) = delete;

 private:
  tclIni& Owner;
};

class tclIniQuiet {
 public:
  explicit tclIniQuiet(tclIni& ini) : Owner(ini), Was(ini.Echo) { Owner.Echo = false; }
  ~tclIniQuiet() { Owner.Echo = Was; }
  tclIniQuiet(const tclIniQuiet&) = delete;
  tclIniQuiet& operator=(const tclIniQuiet&) = delete;

 private:
  tclIni& Owner;
  bool Was;   // nested inside a reload's read, it must not turn the echo back on
};

class tclIniLinePrefix {
 public:
  tclIniLinePrefix(tclIni& ini, const std::string& prefix) : Owner(ini) {
    if (!Owner.Echo) Owner.LinePrefix = prefix;
  }
  ~tclIniLinePrefix() { Owner.LinePrefix.clear(); }
  tclIniLinePrefix(const tclIniLinePrefix&) = delete;
  tclIniLinePrefix& operator=(const tclIniLinePrefix&) = delete;

 private:
  tclIni& Owner;
};

constexpr unsigned SettingsBufferSize = 500;

// The one configuration reader of the run.
extern tclIni Ini;
