#include "supervision/HealthProbe.h"

namespace {

// More than any status line has: what sends this much without a line end is
// not an HTTP server.
const size_t LongestStatusLine = 4096;

std::string ErrorWhat(const std::string& what, int error) {
  if (error == WSAECONNREFUSED) return "the connection was refused";
  return what + " (error " + std::to_string(error) + ")";
}

// "HTTP/1.1 204 No Content" gives 204; anything else -1.
int StatusOf(const std::string& line) {
  if (line.compare(0, 5, "HTTP/") != 0) return -1;
  std::string::size_type blank = line.find(' ');
  if (blank == std::string::npos || line.size() < blank + 4) return -1;
  int status = 0;
  for (std::string::size_type i = blank + 1; i < blank + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    status = status * 10 + (line[i] - '0');
  }
  bool ends = line.size() == blank + 4 || line[blank + 4] == ' ';
  return ends ? status : -1;
}

}  // namespace

std::string HttpAnswerFailure(const std::string& answer) {
  if (answer.empty()) return "the connection was closed without an answer";
  std::string line = answer.substr(0, answer.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  int status = StatusOf(line);
  if (status < 0) return "the answer is not HTTP";
  if (status >= 200 && status <= 399) return "";
  return "the answer has status " + std::to_string(status);
}

tclHealthProbe::tclHealthProbe(const tclHealthCheck& check, DWORD now)
    : Check(check), Started(now) {
  Socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  u_long nonBlocking = 1;
  if (Socket == INVALID_SOCKET || ioctlsocket(Socket, FIONBIO, &nonBlocking) != 0) {
    NotRun(Socket == INVALID_SOCKET ? "no socket could be made"
                                    : "the socket could not be made non-blocking");
    return;
  }
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(check.Port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int error = 0;
  if (connect(Socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
    Connected();
  else if ((error = WSAGetLastError()) != WSAEWOULDBLOCK)
    Finish(false, ErrorWhat("the connection failed", error));
}

tclHealthProbe::~tclHealthProbe() { Close(); }

// Reset, not closed in turn: a port this side closes first stays in TIME_WAIT
// for minutes, and checks of many programs would use the ports up.
void tclHealthProbe::Close() {
  if (Socket == INVALID_SOCKET) return;
  linger abortive = {};
  abortive.l_onoff = 1;
  abortive.l_linger = 0;
  setsockopt(Socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
             sizeof abortive);
  closesocket(Socket);
  Socket = INVALID_SOCKET;
}

void tclHealthProbe::Finish(bool passed, const std::string& failure) {
  Success = passed;
  Failure = failure;
  Close();
}

void tclHealthProbe::NotRun(const std::string& what) {
  Fault = WSAGetLastError();
  Finish(false, what);
}

void tclHealthProbe::Watch(fd_set& read, fd_set& write, fd_set& except) const {
  if (Done()) return;
  if (At == Stage::Connecting) {
    FD_SET(Socket, &write);
    FD_SET(Socket, &except);   // where Windows reports a refused connection
  } else {
    FD_SET(Socket, At == Stage::Sending ? &write : &read);
  }
}

void tclHealthProbe::Step(const fd_set& read, const fd_set& write, const fd_set& except,
                          DWORD now) {
  if (Done()) return;
  if (At == Stage::Connecting) {
    if (FD_ISSET(Socket, &except) || FD_ISSET(Socket, &write)) {
      int error = 0;
      int length = sizeof error;
      getsockopt(Socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      if (error != 0 || FD_ISSET(Socket, &except))
        return Finish(false, ErrorWhat("the connection failed", error));
      Connected();
    }
  } else if (At == Stage::Sending && FD_ISSET(Socket, &write)) {
    Send();
  } else if (At == Stage::Reading && FD_ISSET(Socket, &read)) {
    Read();
  }
  if (!Done() && DWORD(now - Started) >= Check.Timeout)
    Finish(false, std::string(At == Stage::Connecting ? "no connection" : "no answer") +
                      " within " + std::to_string(Check.Timeout) + " ms");
}

void tclHealthProbe::Connected() {
  if (Check.Kind == tclHealthKind::Tcp) return Finish(true, "");
  Request = "GET " + Check.Path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(Check.Port) +
            "\r\n\r\n";
  At = Stage::Sending;
  Send();
}

void tclHealthProbe::Send() {
  int sent = send(Socket, Request.data() + SentBytes, int(Request.size() - SentBytes), 0);
  if (sent == SOCKET_ERROR) {
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) Finish(false, ErrorWhat("the request failed", error));
    return;
  }
  SentBytes += size_t(sent);
  if (SentBytes == Request.size()) At = Stage::Reading;
}

// Until the status line is whole or the server closes the connection.
void tclHealthProbe::Read() {
  char buffer[512];
  int got = recv(Socket, buffer, sizeof buffer, 0);
  if (got == SOCKET_ERROR) {
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) Finish(false, ErrorWhat("the answer failed", error));
    return;
  }
  Answer.append(buffer, size_t(got));
  if (Answer.find('\n') == std::string::npos && got > 0 && Answer.size() < LongestStatusLine)
    return;
  std::string failure = HttpAnswerFailure(Answer);
  Finish(failure.empty(), failure);
}
