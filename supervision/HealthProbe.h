// One health check on 127.0.0.1 ("localhost" may resolve to ::1), made
// without blocking: it is started, then moved on whenever its socket is ready,
// until it is done or its time is up.
#pragma once
#include <string>

#include "supervision/HealthCheck.h"

// What is wrong with an HTTP answer as far as it came, judged by its status
// line alone (redirects are not followed); "" when the check passes.
std::string HttpAnswerFailure(const std::string& answer);

class tclHealthProbe {
 public:
  tclHealthProbe(const tclHealthCheck& check, DWORD now);
  ~tclHealthProbe();
  tclHealthProbe(const tclHealthProbe&) = delete;
  tclHealthProbe& operator=(const tclHealthProbe&) = delete;

  // Adds the socket to the set it waits on.
  void Watch(fd_set& read, fd_set& write, fd_set& except) const;
  // Goes as far as the sets (from a select over Watch's sets) and the time allow.
  void Step(const fd_set& read, const fd_set& write, const fd_set& except, DWORD now);
  bool Done() const { return Socket == INVALID_SOCKET; }
  DWORD Deadline() const { return Started + Check.Timeout; }
  bool Passed() const { return Success; }
  // What went wrong, for the log.
  const std::string& What() const { return Failure; }
  // The service's own failure to run the check, which says nothing about
  // the program: the Windows error; 0 when the check ran.
  int OwnFault() const { return Fault; }

 private:
  enum class Stage { Connecting, Sending, Reading };
  void Close();
  void Finish(bool passed, const std::string& failure);
  void NotRun(const std::string& what);
  void Connected();
  void Send();
  void Read();

  tclHealthCheck Check;
  DWORD Started;
  SOCKET Socket = INVALID_SOCKET;
  Stage At = Stage::Connecting;
  std::string Request;
  size_t SentBytes = 0;
  std::string Answer;
  bool Success = false;
  std::string Failure;
  int Fault = 0;
};
