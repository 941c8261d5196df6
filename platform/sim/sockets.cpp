// Loopback sockets on the virtual clock: enough of Winsock for a client that
// connects without blocking and waits with select.
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/sim/sim_internal.h"

namespace {

const uint64_t Never = UINT64_MAX;

struct Connection {
  bool refused = false;
  sim::Listener listener;
  uint64_t connectedAt = Never;
  uint64_t requestAt = Never;   // first byte sent
  uint16_t port = 0;
  size_t request = 0;           // index in the port's requests
  size_t read = 0;
};

std::map<SOCKET, Connection> g_sockets;   // open ones; guarded by Mu(), as all below
std::map<uint16_t, sim::Listener> g_listeners;
std::map<uint16_t, std::vector<std::string>> g_requests;
thread_local int t_wsaError = 0;

int WsaFail(int error) {
  t_wsaError = error;
  return SOCKET_ERROR;
}

uint64_t After(uint64_t from, int64_t ms) { return from == Never || ms < 0 ? Never : from + ms; }

// When the socket becomes ready to read (0), to write (1), or failed (2).
uint64_t ReadyAt(const Connection& c, int kind) {
  if (kind == 2) return c.refused ? 0 : Never;
  return kind == 1 ? c.connectedAt : After(c.requestAt, c.listener.answerAfterMs);
}

// The connection, if open and connected by now.
Connection* Connected(SOCKET s) {
  auto it = g_sockets.find(s);
  return it == g_sockets.end() || it->second.connectedAt > sim::Now() ? nullptr : &it->second;
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

std::vector<std::string> Requests(uint16_t port) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  return g_requests[port];
}

int OpenSocketCount() {
  std::lock_guard<std::mutex> hold(detail::Mu());
  return int(g_sockets.size());
}

void detail::ResetSockets() {
  std::lock_guard<std::mutex> hold(Mu());
  g_sockets.clear();
  g_listeners.clear();
  g_requests.clear();
}

}  // namespace sim

int WSAStartup(WORD, WSADATA*) { return 0; }

int WSAGetLastError() { return t_wsaError; }

// The lowest free number: the host's fd_set holds numbers below 1024 only.
SOCKET socket(int, int, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  SOCKET s = 3;
  while (g_sockets.count(s) != 0) ++s;
  g_sockets[s] = Connection();
  return s;
}

int ioctlsocket(SOCKET, long, u_long*) { return 0; }

int connect(SOCKET s, const sockaddr* address, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  const sockaddr_in* to = reinterpret_cast<const sockaddr_in*>(address);
  if (to->sin_addr.s_addr != htonl(INADDR_LOOPBACK)) return WsaFail(WSAEADDRNOTAVAIL);
  Connection& c = g_sockets.at(s);
  c.port = htons(to->sin_port);
  auto listening = g_listeners.find(c.port);
  c.refused = listening == g_listeners.end();
  if (!c.refused) {
    c.listener = listening->second;
    c.connectedAt = After(sim::Now(), c.listener.acceptAfterMs);
    c.request = g_requests[c.port].size();
    g_requests[c.port].emplace_back();
  }
  return WsaFail(WSAEWOULDBLOCK);
}

int getsockopt(SOCKET s, int, int, char* value, int* length) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  int error = g_sockets.at(s).refused ? WSAECONNREFUSED : 0;
  memcpy(value, &error, sizeof error);
  *length = sizeof error;
  return 0;
}

int send(SOCKET s, const char* buffer, int length, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Connected(s);
  if (c == nullptr) return WsaFail(WSAENOTCONN);
  if (c->requestAt == Never) c->requestAt = sim::Now();
  g_requests[c->port][c->request].append(buffer, size_t(length));
  return length;
}

int recv(SOCKET s, char* buffer, int length, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Connected(s);
  if (c == nullptr) return WsaFail(WSAENOTCONN);
  if (ReadyAt(*c, 0) > sim::Now()) return WsaFail(WSAEWOULDBLOCK);
  size_t n = std::min(size_t(length), c->listener.answer.size() - c->read);
  memcpy(buffer, c->listener.answer.data() + c->read, n);
  c->read += n;
  return int(n);
}

int closesocket(SOCKET s) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  g_sockets.erase(s);
  return 0;
}

u_short htons(u_short value) { return u_short((value >> 8) | (value << 8)); }

u_long htonl(u_long value) {
  return ((value & 0xff) << 24) | ((value & 0xff00) << 8) | ((value >> 8) & 0xff00) |
         ((value >> 24) & 0xff);
}

// Waits until the first socket asked about is ready, or the time is up.
int SelectSockets(fd_set* read, fd_set* write, fd_set* except, DWORD milliseconds) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  fd_set* sets[3] = {read, write, except};
  uint64_t now = sim::Now(), first = Never;
  for (int kind = 0; kind < 3; ++kind)
    for (auto& s : g_sockets)
      if (FD_ISSET(int(s.first), sets[kind]))
        first = std::min(first, std::max(now, ReadyAt(s.second, kind)));
  first = std::min(first, now + milliseconds);
  sim::detail::AdvanceTo(first);
  int ready = 0;
  for (int kind = 0; kind < 3; ++kind) {
    fd_set asked = *sets[kind];
    FD_ZERO(sets[kind]);
    for (auto& s : g_sockets)
      if (FD_ISSET(int(s.first), &asked) && ReadyAt(s.second, kind) <= first) {
        FD_SET(int(s.first), sets[kind]);
        ++ready;
      }
  }
  return ready;
}
