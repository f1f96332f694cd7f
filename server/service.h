// The HTTP face of the server: the program's three addresses, the results page and its pictures.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace qvserver {

struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (see Service::port)
  std::string dataDir;
  std::string programVersion;  // the answer of /version.php
  std::FILE* log = stderr;     // one line per request; null for none
};

// Where the data lives unless told: $XDG_DATA_HOME/quorvex-server, else ~/.local/share/quorvex-server.
std::string DefaultDataFolder();

// "HOST:PORT" into its parts; false when it is not that.
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

class Service {
 public:
  explicit Service(ServiceOptions options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Opens the store and binds the socket. False with error when either fails.
  bool Start(std::string* error);
  // Serves until Stop(); returns once every request under way has been answered.
  void Run();
  // Safe from any thread, once; Run() returns after the requests under way are done.
  void Stop();
  // Run() has started accepting connections (and has not returned).
  bool Listening() const;

  int port() const { return port_; }
  Store& store() { return *store_; }

 private:
  void Routes();
  void Log(const httplib::Request& req, const httplib::Response& res);
  void Upload(const httplib::Request& req, httplib::Response& res);
  void Compare(const httplib::Request& req, httplib::Response& res);
  void Page(const httplib::Request& req, httplib::Response& res);
  void Picture(const httplib::Request& req, httplib::Response& res);

  ServiceOptions options_;
  std::unique_ptr<httplib::Server> http_;
  std::unique_ptr<Store> store_;
  std::mutex logMutex_;
  int port_ = 0;
  int listener_ = -1;  // the listening socket, owned by the HTTP library
};

}  // namespace qvserver
