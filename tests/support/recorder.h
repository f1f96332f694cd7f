// A tiny HTTP/1.1 server on 127.0.0.1 for tests: it keeps every request exactly as it came over
// the wire (request line, headers, body bytes) and answers each with a set status and body.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace testing_http {

class Recorder {
 public:
  struct Answer {
    int status = 200;
    std::string body = "OK";
  };

  Recorder() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~Recorder() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  int Port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Answers for the requests in the order they come; the last one repeats.
  void SetAnswers(std::vector<Answer> answers) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_ = std::move(answers);
  }

  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      Handle(client);
      ::close(client);
    }
  }

  static bool ReadMore(int fd, std::string& data) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
    return true;
  }

  void Handle(int fd) {
    std::string data;
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
      if (!ReadMore(fd, data)) return;
    }
    size_t length = 0;
    const std::string head = data.substr(0, headEnd);
    const size_t at = head.find("\r\nContent-Length: ");
    if (at != std::string::npos) length = std::stoul(head.substr(at + 18));
    while (data.size() < headEnd + 4 + length) {
      if (!ReadMore(fd, data)) break;
    }
    Answer answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(data);
      if (!answers_.empty()) {
        const size_t i = std::min(requests_.size() - 1, answers_.size() - 1);
        answer = answers_[i];
      }
    }
    const std::string reply = "HTTP/1.1 " + std::to_string(answer.status) +
                              " Status\r\nContent-Length: " + std::to_string(answer.body.size()) +
                              "\r\nConnection: close\r\n\r\n" + answer.body;
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
  std::vector<std::string> requests_;
};

// A port on 127.0.0.1 where nothing listens.
inline int DeadPort() { return loopback::FreePort(); }

}  // namespace testing_http
