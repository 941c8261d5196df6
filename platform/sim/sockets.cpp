// Loopback sockets on the virtual clock: enough of Winsock for a client that
// connects without blocking and waits with select.
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/sim/sim_internal.h"

namespace {

const uint64_t Never = UINT64_MAX;

struct Connection {
  bool open = true;
  bool refused = false;
  bool connecting = false;   // connect was called
  sim::Listener listener;
  uint64_t connectedAt = Never;
  uint64_t requestAt = Never;   // first byte sent
  std::string* sent = nullptr;  // the port's record of this connection
  size_t read = 0;
};

std::map<SOCKET, Connection> g_sockets;   // guarded by Mu(), as all below
std::map<uint16_t, sim::Listener> g_listeners;
std::map<uint16_t, std::vector<std::unique_ptr<std::string>>> g_requests;
thread_local int t_wsaError = 0;

int WsaFail(int error) {
  t_wsaError = error;
  return SOCKET_ERROR;
}

Connection* Find(SOCKET s) {
  auto it = g_sockets.find(s);
  return it == g_sockets.end() || !it->second.open ? nullptr : &it->second;
}

uint64_t After(uint64_t from, int64_t ms) { return from == Never || ms < 0 ? Never : from + ms; }

uint64_t AnswerAt(const Connection& c) { return After(c.requestAt, c.listener.answerAfterMs); }

// When the socket becomes ready for each kind of wait.
uint64_t ReadyAt(const Connection& c, int kind) {
  if (kind == 2) return c.refused ? 0 : Never;
  if (kind == 1) return c.connectedAt;
  return AnswerAt(c);
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
  std::vector<std::string> requests;
  for (const auto& r : g_requests[port]) requests.push_back(*r);
  return requests;
}

int OpenSocketCount() {
  std::lock_guard<std::mutex> hold(detail::Mu());
  int n = 0;
  for (const auto& s : g_sockets) n += s.second.open;
  return n;
}

namespace detail {
void ResetSockets() {
  std::lock_guard<std::mutex> hold(Mu());
  g_sockets.clear();
  g_listeners.clear();
  g_requests.clear();
}
}  // namespace detail

}  // namespace sim

int WSAStartup(WORD version, WSADATA* data) {
  data->wVersion = version;
  return 0;
}

int WSAGetLastError() { return t_wsaError; }

// The lowest free number: the host's fd_set holds numbers below 1024 only.
SOCKET socket(int family, int type, int protocol) {
  if (family != AF_INET || type != SOCK_STREAM || protocol != IPPROTO_TCP) return INVALID_SOCKET;
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  SOCKET s = 3;
  while (Find(s) != nullptr) ++s;
  g_sockets[s] = Connection();
  return s;
}

int ioctlsocket(SOCKET s, long command, u_long*) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  return Find(s) != nullptr && command == FIONBIO ? 0 : WsaFail(WSAENOTCONN);
}

int connect(SOCKET s, const sockaddr* address, int length) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Find(s);
  const sockaddr_in* to = reinterpret_cast<const sockaddr_in*>(address);
  if (c == nullptr || c->connecting || length != int(sizeof(sockaddr_in))) return WsaFail(WSAENOTCONN);
  if (to->sin_family != AF_INET || to->sin_addr.s_addr != htonl(INADDR_LOOPBACK))
    return WsaFail(WSAEADDRNOTAVAIL);
  uint16_t port = htons(to->sin_port);
  c->connecting = true;
  auto listening = g_listeners.find(port);
  if (listening == g_listeners.end()) {
    c->refused = true;
  } else {
    c->listener = listening->second;
    c->connectedAt = After(sim::Now(), c->listener.acceptAfterMs);
    g_requests[port].push_back(std::make_unique<std::string>());
    c->sent = g_requests[port].back().get();
  }
  return WsaFail(WSAEWOULDBLOCK);
}

int getsockopt(SOCKET s, int level, int option, char* value, int* length) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Find(s);
  if (c == nullptr || level != SOL_SOCKET || option != SO_ERROR || *length < int(sizeof(int)))
    return WsaFail(WSAENOTCONN);
  int error = c->refused ? WSAECONNREFUSED : 0;
  memcpy(value, &error, sizeof error);
  *length = sizeof error;
  return 0;
}

int send(SOCKET s, const char* buffer, int length, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Find(s);
  if (c == nullptr || c->connectedAt > sim::Now()) return WsaFail(WSAENOTCONN);
  if (c->requestAt == Never) c->requestAt = sim::Now();
  c->sent->append(buffer, size_t(length));
  return length;
}

int recv(SOCKET s, char* buffer, int length, int) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Find(s);
  if (c == nullptr || c->connectedAt > sim::Now()) return WsaFail(WSAENOTCONN);
  if (AnswerAt(*c) > sim::Now()) return WsaFail(WSAEWOULDBLOCK);
  size_t n = std::min(size_t(length), c->listener.answer.size() - c->read);
  memcpy(buffer, c->listener.answer.data() + c->read, n);
  c->read += n;
  return int(n);
}

int closesocket(SOCKET s) {
  std::lock_guard<std::mutex> hold(sim::detail::Mu());
  Connection* c = Find(s);
  if (c == nullptr) return WsaFail(WSAENOTCONN);
  c->open = false;
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
      if (sets[kind] != nullptr && s.second.open && FD_ISSET(int(s.first), sets[kind]))
        first = std::min(first, std::max(now, ReadyAt(s.second, kind)));
  uint64_t until = now + milliseconds;
  if (first > until) {
    sim::detail::AdvanceTo(until);
    for (fd_set* set : sets)
      if (set != nullptr) FD_ZERO(set);
    return 0;
  }
  sim::detail::AdvanceTo(first);
  int ready = 0;
  for (int kind = 0; kind < 3; ++kind) {
    if (sets[kind] == nullptr) continue;
    fd_set asked = *sets[kind];
    FD_ZERO(sets[kind]);
    for (auto& s : g_sockets)
      if (s.second.open && FD_ISSET(int(s.first), &asked) && ReadyAt(s.second, kind) <= first) {
        FD_SET(int(s.first), sets[kind]);
        ++ready;
      }
  }
  return ready;
}
