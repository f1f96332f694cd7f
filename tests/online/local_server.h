// A local HTTP server on 127.0.0.1 with an ephemeral port, run on its own thread for one test.
#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace testing_http {

class LocalServer {
 public:
  LocalServer() = default;
  ~LocalServer() { Stop(); }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  httplib::Server& Routes() { return server_; }

  // Binds and starts serving; returns the base address (http://127.0.0.1:PORT).
  std::string Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 500 && !server_.is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return Base();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void Stop() {
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// An address where nothing listens: a port bound once and released, so connecting is refused.
inline std::string DeadBase() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

}  // namespace testing_http
