// Loopback sockets on the virtual clock: enough of Winsock for a client that
// connects without blocking and waits with select. What is ready is ready at
// once; a wait on nothing ready takes its whole time.
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/sim/sim_internal.h"

namespace {

struct Connection {
  bool connecting = false;
  bool refused = false;
  sim::Listener listener;
  std::string sent;
  size_t read = 0;
  bool abortive = false;   // SO_LINGER on with a time-out of 0
};

std::map<SOCKET, Connection> g_sockets;   // open ones; guarded by Mu(), as all below
std::map<uint16_t, sim::Listener> g_listeners;
int g_timeWaits = 0;
thread_local int t_wsaError = 0;

int WsaFail(int error) {
  t_wsaError = error;
  return SOCKET_ERROR;
}

// Whether the socket is ready to read (0), to write (1), or failed (2).
bool Ready(const Connection& c, int kind) {
  if (kind == 2) return c.refused;
  if (kind == 1) return !c.refused && c.listener.accepts;
  return !c.sent.empty() && c.sent == c.listener.request;
}

}  // namespace

namespace sim {

void Listen(uint16_t port, const Listener& listener) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  g_listeners[port] = listener;
}

void StopListening(uint16_t port) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  g_listeners.erase(port);
}

int OpenSocketCount() {
  std::lock_guard<std::mutex> hold(detail::Mu());
  return int(g_sockets.size());
}

int TimeWaitCount() {
  std::lock_guard<std::mutex> hold(detail::Mu());
  return g_timeWaits;
}

void detail::ResetSockets() {
  std::lock_guard<std::mutex> hold(Mu());
  g_sockets.clear();
  g_listeners.clear();
  g_timeWaits = 0;
}

}  // namespace sim

int WSAStartup(WORD, WSADATA*) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  return int(sim::detail::TakeFailureLocked("WSAStartup"));
}

int WSACleanup() { return 0; }

int WSAGetLastError() { return t_wsaError; }

int ioctlsocket(SOCKET, long, u_long*) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  if (int error = int(sim::detail::TakeFailureLocked("ioctlsocket"))) return WsaFail(error);
  return 0;
}
u_short htons(u_short value) { return __builtin_bswap16(value); }
u_long htonl(u_long value) { return __builtin_bswap32(uint32_t(value)); }

// The lowest free number: the host's fd_set holds numbers below 1024 only.
SOCKET socket(int, int, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  if (int error = int(sim::detail::TakeFailureLocked("socket"))) {
    WsaFail(error);
    return INVALID_SOCKET;
  }
  SOCKET s = 3;
  while (g_sockets.count(s) != 0) ++s;
  g_sockets[s] = Connection();
  return s;
}

int connect(SOCKET s, const sockaddr* address, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  const sockaddr_in* to = reinterpret_cast<const sockaddr_in*>(address);
  if (to->sin_addr.s_addr != htonl(INADDR_LOOPBACK)) return WsaFail(WSAEADDRNOTAVAIL);
  Connection& c = g_sockets.at(s);
  auto listening = g_listeners.find(htons(to->sin_port));
  c.connecting = true;
  c.refused = listening == g_listeners.end();
  if (!c.refused) c.listener = listening->second;
  return WsaFail(WSAEWOULDBLOCK);
}

int getsockopt(SOCKET s, int, int, char* value, int* length) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  int error = g_sockets.at(s).refused ? WSAECONNREFUSED : 0;
  memcpy(value, &error, sizeof error);
  *length = sizeof error;
  return 0;
}

int setsockopt(SOCKET s, int level, int option, const char* value, int length) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  if (level != SOL_SOCKET || option != SO_LINGER || length != int(sizeof(linger)))
    return WsaFail(WSAEINVAL);
  linger l;
  memcpy(&l, value, sizeof l);
  g_sockets.at(s).abortive = l.l_onoff != 0 && l.l_linger == 0;
  return 0;
}

int send(SOCKET s, const char* buffer, int length, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection& c = g_sockets.at(s);
  if (!Ready(c, 1)) return WsaFail(WSAENOTCONN);
  c.sent.append(buffer, size_t(length));
  return length;
}

int recv(SOCKET s, char* buffer, int length, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection& c = g_sockets.at(s);
  if (!Ready(c, 0)) return WsaFail(Ready(c, 1) ? WSAEWOULDBLOCK : WSAENOTCONN);
  size_t n = std::min(size_t(length), c.listener.answer.size() - c.read);
  memcpy(buffer, c.listener.answer.data() + c.read, n);
  c.read += n;
  return int(n);
}

int closesocket(SOCKET s) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  const Connection& c = g_sockets.at(s);
  // The server closes once it has answered; a pending connection is reset.
  bool closesFirst = c.connecting && Ready(c, 1) && !Ready(c, 0);
  g_timeWaits += closesFirst && !c.abortive;
  g_sockets.erase(s);
  return 0;
}

int SelectSockets(fd_set* read, fd_set* write, fd_set* except, DWORD milliseconds) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  fd_set* sets[3] = {read, write, except};
  int ready = 0;
  for (int kind = 0; kind < 3; ++kind) {
    fd_set asked = *sets[kind];
    FD_ZERO(sets[kind]);
    for (auto& s : g_sockets)
      if (FD_ISSET(int(s.first), &asked) && Ready(s.second, kind)) {
        FD_SET(int(s.first), sets[kind]);
        ++ready;
      }
  }
  if (ready == 0) sim::detail::AdvanceTo(sim::Now() + milliseconds);
  return ready;
}
