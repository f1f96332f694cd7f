// Raw TCP on loopback for the tests that speak HTTP by hand: a port where nothing listens, a
// connection from a chosen 127.x address, whole sends, and one request's reply.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace loopback {

// A port on 127.0.0.1 that was free a moment ago (bound, read back, closed).
inline int FreePort() {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(sock);
  return ntohs(addr.sin_port);
}

// A connection to 127.0.0.1:port, from the given loopback address when one is named (the server
// tells its clients apart by address); -1 when it is refused.
inline int Connect(int port, const char* from = nullptr) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  if (from != nullptr) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    ::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(sock);
    return -1;
  }
  return sock;
}

// False when the peer stopped taking bytes before all were sent.
inline bool SendAll(int sock, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = ::send(sock, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

enum class ReadUntil {
  FirstAnswer,  // a head and as much body as its Content-Length says (the connection may stay open)
  HangUp,       // everything until the peer closes (requests sent with Connection: close)
};

// Sends bytes as they stand on a fresh connection and returns the reply; empty when refused.
// Waits at most 10 s for each piece of the reply.
inline std::string Exchange(int port, const std::string& bytes, ReadUntil until = ReadUntil::FirstAnswer,
                            const char* from = nullptr) {
  const int sock = Connect(port, from);
  if (sock < 0) return {};
  std::string reply;
  SendAll(sock, bytes);
  char buf[4096];
  for (;;) {
    const size_t headEnd = reply.find("\r\n\r\n");
    if (until == ReadUntil::FirstAnswer && headEnd != std::string::npos) {
      const size_t at = reply.find("Content-Length: ");
      const size_t length = at < headEnd ? std::stoul(reply.substr(at + 16)) : 0;
      if (reply.size() >= headEnd + 4 + length) break;
    }
    pollfd p{sock, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  ::close(sock);
  return reply;
}

}  // namespace loopback
