// quorvex-server: the program's web server (uploads, reference ranges, newest version).
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "server/service.h"

#ifndef QUORVEX_PROGRAM_VERSION
#define QUORVEX_PROGRAM_VERSION "000"
#endif

namespace {

// The limits an operator may set; each is one whole number.
struct LimitOption {
  const char* name;
  const char* what;
  void (*set)(qvserver::ServerLimits&, unsigned long long);
};
#define QV_LIMIT(name, field, what)                                                                          \
  {                                                                                                          \
    name, what,                                                                                              \
        [](qvserver::ServerLimits& l, unsigned long long v) { l.field = static_cast<decltype(l.field)>(v); } \
  }
const LimitOption kLimitOptions[] = {
    QV_LIMIT("connections", maxConnections, "connections in all (512)"),
    QV_LIMIT("per-address", maxPerAddress, "connections per client address (64)"),
    QV_LIMIT("per-network", maxPerNetwork, "connections per sending network, /24 or /64 (128)"),
    QV_LIMIT("fair-share", fairShare, "past half the connections, a network holding this many waits (8)"),
    QV_LIMIT("event-loops", workerThreads, "threads serving connections (4)"),
    QV_LIMIT("heavy", heavyRequests, "searches and downloads at once, one per network (event loops - 1)"),
    QV_LIMIT("answer-bytes", answerBytes, "bytes of one download page (1048576)"),
    QV_LIMIT("uploads-per-network", uploadsPerNetwork, "upload bodies under way per network (8)"),
    QV_LIMIT("body-bytes", bodyBytesInFlight, "upload bodies under way in all, bytes (67108864)"),
    QV_LIMIT("waiting-pictures", maxWaitingPictures, "pictures waiting for their record, in all (2000)"),
    QV_LIMIT("waiting-per-network", maxWaitingPerNetwork, "of them from one network (20)"),
    QV_LIMIT("waiting-bytes", maxWaitingPictureBytes, "their bytes in all (268435456)"),
    QV_LIMIT("picture-seconds", orphanSeconds, "seconds a picture no record claimed is kept (600)"),
};
#undef QV_LIMIT

void Usage(std::FILE* out) {
  std::fputs(
      "usage: quorvex-server [--listen HOST:PORT] [--data DIR] [--store WHERE] [--program-version TEXT]\n"
      "                      [--trust-proxy ADDRESS] [--upload-burst N] [--limit NAME=N ...]\n"
      "  --listen HOST:PORT      address to serve on (default 127.0.0.1:8080; port 0 picks a free one)\n"
      "  --data DIR              data folder (default $XDG_DATA_HOME/quorvex-server,\n"
      "                          else ~/.local/share/quorvex-server; with PostgreSQL: the pictures,\n"
      "                          in a folder every server on the database reaches)\n"
      "  --store WHERE           sqlite (default: results.sqlite in the data folder) or a PostgreSQL\n"
      "                          connection string (postgresql://... or host=... dbname=...);\n"
      "                          default $QUORVEX_SERVER_STORE when set\n"
      "  --program-version TEXT  newest program version that /version.php announces\n"
      "                          (default " QUORVEX_PROGRAM_VERSION
      ")\n"
      "  --trust-proxy ADDRESS   a reverse proxy at this address names the client in X-Real-IP;\n"
      "                          the per-address connection cap is then left to the proxy\n"
      "  --upload-burst N        uploads one network may make at once, one more a minute after\n"
      "                          (default 20; 0: no limit, for measuring)\n"
      "  --limit NAME=N          sets one of the limits below (repeat for more):\n",
      out);
  for (const LimitOption& l : kLimitOptions) std::fprintf(out, "      %-22s %s\n", l.name, l.what);
}

}  // namespace

int main(int argc, char** argv) {
  qvserver::ServiceOptions options;
  options.programVersion = QUORVEX_PROGRAM_VERSION;
  // The environment keeps a password off the command line, where every user could read it.
  if (const char* store = std::getenv("QUORVEX_SERVER_STORE")) options.store = store;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "quorvex-server: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--listen") {
      const std::string text = value("--listen");
      if (!qvserver::ParseListenAddress(text, &options.host, &options.port)) {
        std::fprintf(stderr, "quorvex-server: --listen wants HOST:PORT, not \"%s\"\n", text.c_str());
        return 2;
      }
    } else if (arg == "--store") {
      options.store = value("--store");
    } else if (arg == "--data") {
      options.dataDir = value("--data");
    } else if (arg == "--trust-proxy") {
      options.trustedProxy = value("--trust-proxy");
    } else if (arg == "--limit") {
      const std::string text = value("--limit");
      const size_t eq = text.find('=');
      const std::string name = text.substr(0, eq),
                        number = eq == std::string::npos ? "" : text.substr(eq + 1);
      const LimitOption* found = nullptr;
      for (const LimitOption& l : kLimitOptions)
        if (name == l.name) found = &l;
      if (!found || number.empty() || number.size() > 12 ||
          number.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "quorvex-server: --limit wants NAME=N with a NAME of --help, not \"%s\"\n",
                     text.c_str());
        return 2;
      }
      found->set(options.limits, std::stoull(number));
    } else if (arg == "--upload-burst") {
      const std::string text = value("--upload-burst");
      if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "quorvex-server: --upload-burst wants a whole number, not \"%s\"\n",
                     text.c_str());
        return 2;
      }
      options.limits.uploadBurst = static_cast<unsigned>(std::stoul(text));
    } else if (arg == "--program-version") {
      options.programVersion = value("--program-version");
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "quorvex-server: unknown option \"%s\"\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (options.store == "sqlite") options.store.clear();
  if (!options.store.empty() && !qvserver::Store::IsPostgres(options.store)) {
    std::fprintf(stderr, "quorvex-server: --store wants sqlite or a PostgreSQL connection string\n");
    return 2;
  }
  // Every client arrives from the proxy's one address: the proxy caps connections per client.
  if (!options.trustedProxy.empty()) options.limits.maxPerAddress = options.limits.maxConnections;

  // SIGTERM and SIGINT are taken by one waiting thread, never in the middle of a request; a
  // peer that hangs up must not end the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  qvserver::Service service(options);
  std::string error;
  if (!service.Start(&error)) {
    std::fprintf(stderr, "quorvex-server: %s\n", error.c_str());
    return 1;
  }
  const std::string data = service.store().Where();
  std::fprintf(stderr, "quorvex-server: listening on %s:%d, data in %s\n", options.host.c_str(),
               service.port(), data.c_str());
  std::fflush(stderr);

  std::atomic<bool> served{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (served) return;  // woken below after the service ended by itself
    std::fprintf(
        stderr, "quorvex-server: %s received, finishing the requests under way (a second one ends at once)\n",
        sig == SIGTERM ? "SIGTERM" : "SIGINT");
    std::fflush(stderr);
    service.Stop();
    sigwait(&stopSignals, &sig);
    if (served) return;
    // The store commits each upload whole, so even this leaves nothing half-written.
    std::fprintf(stderr, "quorvex-server: second %s, stopping now\n", sig == SIGTERM ? "SIGTERM" : "SIGINT");
    std::fflush(stderr);
    std::_Exit(1);
  });
  service.Run();
  served = true;
  // Wake the waiter so it can be joined.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  std::fprintf(stderr, "quorvex-server: stopped\n");
  return 0;
}
