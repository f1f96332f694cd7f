// The HTTP face of the server: the program's three addresses, the results site and its pictures.
// Every client is bounded here, whatever stands in front: the request head by size, each request
// by time, each address by connections and uploads, the whole server by connections.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "server/limits.h"
#include "server/store.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace qvserver {

struct ServerLimits {
  unsigned maxConnections = 512;  // in all; more wait in the kernel's listen queue
  unsigned maxPerAddress = 64;    // per client address (the proxy counts as one)
  unsigned maxPerNetwork = 128;   // per sending network (IPv4 /24, IPv6 /64; not the proxy)
  // Past half of maxConnections a network already holding this many waits, so the other half
  // stays free for networks that hold few: a version or compare request always finds a slot.
  unsigned fairShare = 8;
  unsigned listenBacklog = 128;        // the bounded queue of connections not yet taken
  size_t headBytes = 32 * 1024;        // request line and headers together, per connection
  unsigned maxHeaders = 64;            // header lines per request
  unsigned idleSeconds = 10;           // a connection with nothing moving is closed
  unsigned headSeconds = 10;           // from the end of the last request to a complete head
  unsigned requestSeconds = 60;        // from the end of the last request to the answer sent
  unsigned drainSeconds = 5;           // how long a stop waits for requests under way
  unsigned workerThreads = 4;          // event loops; slow clients never hold one
  unsigned uploadBurst = 20;           // posts an address may make at once ...
  unsigned uploadRefillSeconds = 60;   // ... and one more each this long; burst 0: no limit
  unsigned sweepSeconds = 60;          // orphan pictures are looked for this often
  unsigned maxWaitingPictures = 2000;  // pictures still without their record, in all ...
  unsigned maxWaitingPerNetwork = 20;  // ... and from one sending network (429 beyond, for it only)
  size_t maxWaitingPictureBytes = size_t{256} << 20;  // their bytes in all
  int64_t orphanSeconds = kOrphanPictureSeconds;
  unsigned uploadsPerNetwork = 8;               // upload bodies under way at once per network
  size_t bodyBytesInFlight = size_t{64} << 20;  // upload bodies under way in all (503 beyond)
  unsigned heavyRequests = 0;                   // searches and downloads at once; 0: event loops - 1
  size_t answerBytes = size_t{1} << 20;         // a download's size; the rest is on its next page
};

struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 8080;      // 0: any free port (see Service::port)
  std::string dataDir;  // the SQLite store, or with a PostgreSQL store its pictures
  // A PostgreSQL connection string (see Store::IsPostgres); empty: SQLite in dataDir.
  std::string store;
  std::string programVersion;  // the answer of /version.php
  std::FILE* log = stderr;     // one line per request; null for none
  // The address of a reverse proxy whose X-Real-IP header names the client; empty: none.
  std::string trustedProxy;
  ServerLimits limits;
};

// Where the data lives unless told: $XDG_DATA_HOME/quorvex-server, else ~/.local/share/quorvex-server.
std::string DefaultDataFolder();

// "HOST:PORT" into its parts; false when it is not that.
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

// One request as the handlers see it.
struct HttpRequest {
  MHD_Connection* connection = nullptr;
  std::string method, path;
  std::string address;  // the client's address (from the trusted proxy when there is one)
  std::string version;  // "HTTP/1.1"
  std::string body;
  std::optional<std::string> Query(const char* name) const;
  std::optional<std::string> Header(const char* name) const;
};

struct HttpAnswer {
  int status = 200;
  std::string body;
  std::string contentType = "text/plain; charset=utf-8";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string outcome;  // what the log line says happened, when more than the status
};

class Service {
 public:
  explicit Service(ServiceOptions options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Opens the store and starts listening. False with error when either fails.
  bool Start(std::string* error);
  // Serves until Stop(); then stops accepting at once, lets the requests under way finish for at
  // most limits.drainSeconds, and returns with every answer sent or its connection closed.
  void Run();
  // Safe from any thread and more than once, also before Run().
  void Stop();
  // Run() has started and has not been asked to stop.
  bool Listening() const;

  int port() const { return port_; }
  Store& store() { return *store_; }
  const ServiceOptions& options() const { return options_; }

  // Called by the HTTP library's threads; public only for its callbacks.
  struct Connection;
  struct Request;
  class HeavySlot;
  int Access(MHD_Connection* c, const char* url, const char* method, const char* version,
             const char* uploadData, size_t* uploadSize, void** state);
  bool Admit(const std::string& address);
  void Completed(MHD_Connection* c, void** state, int how);
  void Notify(MHD_Connection* c, void** socketState, int what);

 private:
  HttpAnswer Route(const HttpRequest& req);
  HttpAnswer Upload(const HttpRequest& req);
  HttpAnswer Compare(const HttpRequest& req);
  HttpAnswer Page(const HttpRequest& req);
  HttpAnswer Picture(const HttpRequest& req);
  HttpAnswer ResultPage(const HttpRequest& req);
  HttpAnswer KindPage(const HttpRequest& req);
  HttpAnswer ListData(const HttpRequest& req, bool json);
  HttpAnswer RankData(const HttpRequest& req);
  int Send(MHD_Connection* c, Request* r, HttpAnswer answer);
  std::string NetworkOf(const std::string& address) const;
  bool TakeHeavy(const std::string& network);
  void ReleaseHeavy(const std::string& network);
  void LogLine(const std::string& text);
  void Watch();  // cuts connections past their time, sweeps orphan pictures
  void StopWatcher();

  ServiceOptions options_;
  std::unique_ptr<Store> store_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
  UploadLimiter uploads_;

  std::mutex logMutex_;
  mutable std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  bool stopRequested_ = false;
  bool running_ = false;
  bool draining_ = false;
  bool watcherStop_ = false;
  std::map<MHD_Connection*, Connection*> connections_;  // under stateMutex_
  std::map<std::string, unsigned> networkConnections_;  // under stateMutex_, by NetworkKey
  struct UnderWay {
    unsigned uploads = 0;
    size_t bytes = 0;  // declared lengths
  };
  std::map<std::string, UnderWay> networkUploads_;  // under stateMutex_, bodies under way
  unsigned uploadsInFlight_ = 0;                    // under stateMutex_
  size_t bodyBytes_ = 0;                            // under stateMutex_, declared lengths
  unsigned heavy_ = 0;                              // under stateMutex_, heavy requests under way
  std::set<std::string> heavyNetworks_;             // under stateMutex_, their networks
  std::thread watcher_;
};

}  // namespace qvserver
