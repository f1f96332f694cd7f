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

void Usage(std::FILE* out) {
  std::fputs(
      "usage: quorvex-server [--listen HOST:PORT] [--data DIR] [--program-version TEXT]\n"
      "                      [--trust-proxy ADDRESS] [--upload-burst N]\n"
      "  --listen HOST:PORT      address to serve on (default 127.0.0.1:8080; port 0 picks a free one)\n"
      "  --data DIR              data folder (default $XDG_DATA_HOME/quorvex-server,\n"
      "                          else ~/.local/share/quorvex-server)\n"
      "  --program-version TEXT  newest program version that /version.php announces\n"
      "                          (default " QUORVEX_PROGRAM_VERSION
      ")\n"
      "  --trust-proxy ADDRESS   a reverse proxy at this address names the client in X-Real-IP;\n"
      "                          the per-address connection cap is then left to the proxy\n"
      "  --upload-burst N        uploads one address may make at once, one more a minute after\n"
      "                          (default 20; 0: no limit, for measuring)\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  qvserver::ServiceOptions options;
  options.programVersion = QUORVEX_PROGRAM_VERSION;
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
    } else if (arg == "--data") {
      options.dataDir = value("--data");
    } else if (arg == "--trust-proxy") {
      options.trustedProxy = value("--trust-proxy");
      // Every client arrives from the proxy's one address: it caps connections per client.
      options.limits.maxPerAddress = options.limits.maxConnections;
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
  const std::string data = service.store().folder();
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
