// zenta-camsim: a camera server with up to sixteen channels of live H.263
// pictures, for running the viewer without a recorder and for the tests.
#include <pthread.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "sim/config.h"
#include "sim/event_log.h"
#include "sim/server.h"
#include "zenta/version.h"

int main(int argc, char** argv) {
  using namespace zenta::sim;
  Config config;
  if (const auto error = parseCommandLine(argc - 1, argv + 1, config)) {
    if (*error == "help") {
      std::fputs(usage().c_str(), stdout);
      return 0;
    }
    if (*error == "version") {
      std::printf("zenta-camsim %s\n", zenta::kProjectVersion);
      return 0;
    }
    std::fprintf(stderr, "zenta-camsim: %s\n(--help lists the options)\n", error->c_str());
    return 2;
  }
  if (const auto error = validate(config)) {
    std::fprintf(stderr, "zenta-camsim: %s\n", error->c_str());
    return 2;
  }

  // The encoders' remarks (clipped coefficients and such) are no news.
  av_log_set_level(AV_LOG_ERROR);

  // Every thread leaves SIGINT and SIGTERM to the main thread's sigwait.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  EventLog log;
  if (!log.open(config.eventLog)) {
    std::fprintf(stderr, "zenta-camsim: cannot write the event log %s\n", config.eventLog.c_str());
    return 2;
  }
  Server server(config, log);
  if (const auto error = server.start()) {
    std::fprintf(stderr, "zenta-camsim: %s\n", error->c_str());
    return 1;
  }
  std::fprintf(stderr, "zenta-camsim: %d channels, stream port %d, HTTP port %d\n",
               config.channelCount, server.streamPort(), server.httpPort());

  std::thread acceptor([&server] { server.run(); });
  int received = 0;
  sigwait(&signals, &received);
  log.write("shutdown", {{"signal", received == SIGINT ? "SIGINT" : "SIGTERM"}});
  server.stop();
  acceptor.join();
  log.write("stopped");
  return 0;
}
