// zenta-bridge: one recorder's channels for the tools people already use,
// over HTTP: the channels as JSON, each channel's latest picture, a live
// MJPEG stream per channel, and camera commands.
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/http_server.h"
#include "bridge/recorder.h"
#include "bridge/rtsp_server.h"
#include "hosts/host_store.h"
#include "platform/base/text.h"
#include "platform/registry/registry.h"
#include "zenta/version.h"

#if defined(ZENTA_SANITIZE_ADDRESS)
// Under AddressSanitizer only. GLib's library constructor allocates the
// first block of its quark table; once GStreamer has registered more quarks
// than that block holds, GLib moves them to a larger one and leaves the old
// block on purpose (threads may still be reading it without a lock). That
// one allocation is left out of the leak report, and only it: allocations
// made while shared libraries initialise. Telling them apart needs whole
// allocation stacks (GLib has no frame pointers for the fast unwinder).
extern "C" const char* __asan_default_options();
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
  return "leak:_dl_init\n";
}
#endif

namespace {

constexpr const char* kHelp =
    "Usage: zenta-bridge [OPTION]... HOST\n"
    "Serve every channel of one recorder over HTTP, for browsers, dashboards\n"
    "and players: HOST is a saved host's name (its login is used) or\n"
    "HOST[:HTTP-PORT] of the recorder (guest login unless --account).\n"
    "\n"
    "  --listen ADDRESS     the address or name to serve on (default 127.0.0.1);\n"
    "                       any other than this machine's own needs --auth\n"
    "  --public-origin URL  the bridge is also reached at URL (a reverse proxy's\n"
    "                       https://name): requests for that host, and its pages'\n"
    "                       WebSocket and camera commands, are accepted\n"
    "  --auth FILE          clients must log in (HTTP and RTSP Basic) with the\n"
    "                       USER:PASSWORD on the file's first line (or in\n"
    "                       $ZENTA_BRIDGE_AUTH when FILE is -)\n"
    "  --http-port N        the HTTP port (default 8091; 0: any free one)\n"
    "  --rtsp-port N        the RTSP port (default 8554; 0: any free one)\n"
    "  --account NAME       log in to the recorder as NAME\n"
    "  --password-stdin     the password: the first line of standard input\n"
    "                       (else $ZENTA_PASSWORD)\n"
    "  --registry=FILE      the saved hosts (default $XDG_CONFIG_HOME/zenta/registry)\n"
    "  --help, --version\n"
    "\n"
    "It serves rtsp://ADDRESS:RTSP-PORT/ch/N (channel N's H.263 in RTP, for VLC,\n"
    "ffplay and recorders that read RTSP), http://ADDRESS:PORT/ (a page with\n"
    "every channel live), /api/channels (JSON), /ch/N.jpg (channel N's\n"
    "latest picture), /ch/N.mjpg (channel N live, multipart MJPEG) and takes\n"
    "POST /api/ch/N/ptz with a command word (up, down, left, right, stop,\n"
    "zoomin, zoomout, zoomstop, preset1 to preset8). A channel streams from the\n"
    "recorder only while somebody watches it.\n"
    "Exit codes: 0 stopped by a signal, 1 the port cannot be served, 2 usage.\n";

struct Options {
  std::string listen = "127.0.0.1";
  long port = 8091;
  long rtspPort = 8554;
  std::optional<std::string> account;
  bool passwordStdin = false;
  std::string host;
  std::optional<std::string> authFile;
  std::vector<std::string> publicOrigins;
};

int usage(const std::string& message) {
  std::fprintf(stderr, "zenta-bridge: %s\nTry 'zenta-bridge --help'.\n", message.c_str());
  return 2;
}

bool loopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1";
}

// The numeric address of a name or address (the first the resolver
// gives, IPv4 first: "localhost" is 127.0.0.1, as the URLs people type);
// empty when it has none.
std::string numericAddress(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    hints.ai_family = AF_UNSPEC;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  }
  char text[NI_MAXHOST] = {};
  const int failed =
      getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
  freeaddrinfo(found);
  return failed != 0 ? std::string() : std::string(text);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("zenta-bridge %s\n", zenta::kProjectVersion);
      return 0;
    }
    if (a == "--listen") {
      if (!value(o.listen)) return usage("--listen takes an address");
    } else if (a == "--http-port" || a == "--rtsp-port") {
      long& port = a == "--http-port" ? o.port : o.rtspPort;
      char* end = nullptr;
      if (!value(text)) return usage(a + " takes a port");
      port = std::strtol(text.c_str(), &end, 10);
      if (*end != 0 || end == text.c_str() || port < 0 || port > 65535)
        return usage(a + " takes 0 to 65535");
    } else if (a == "--public-origin") {
      if (!value(text) || zenta::bridge::originOf(text).empty())
        return usage("--public-origin takes an http:// or https:// URL");
      o.publicOrigins.push_back(text);
    } else if (a == "--account") {
      if (!value(text)) return usage("--account takes a name");
      o.account = text;
    } else if (a == "--auth") {
      if (!value(text)) return usage("--auth takes a file (or -)");
      o.authFile = text;
    } else if (a == "--password-stdin") {
      o.passwordStdin = true;
    } else if (a.rfind("--registry=", 0) == 0) {
      zenta::platform::setRegistryFile(a.substr(11));
    } else if (!a.empty() && a[0] == '-') {
      return usage("unknown option '" + a + "'");
    } else if (o.host.empty()) {
      o.host = a;
    } else {
      return usage("one HOST only");
    }
  }
  if (o.host.empty()) return usage("a HOST is needed");
  std::string credentials;
  if (o.authFile) {
    if (*o.authFile == "-") {
      if (const char* env = std::getenv("ZENTA_BRIDGE_AUTH")) credentials = env;
    } else {
      std::ifstream in(*o.authFile);
      if (!in) {
        std::fprintf(stderr, "zenta-bridge: cannot read %s: %s\n", o.authFile->c_str(),
                     std::strerror(errno));
        return 2;
      }
      std::getline(in, credentials);
    }
    if (!credentials.empty() && credentials.back() == '\r') credentials.pop_back();
    const size_t colon = credentials.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == credentials.size())
      return usage("--auth needs USER:PASSWORD (a file's first line, or $ZENTA_BRIDGE_AUTH)");
  }
  const std::string numeric = numericAddress(o.listen);
  if (numeric.empty()) return usage("--listen: " + o.listen + " is no address of this machine");
  o.listen = numeric;
  if (!loopback(o.listen) && credentials.empty())
    return usage("serving on " + o.listen + " needs --auth (only 127.0.0.1 and ::1 go without)");
  if (o.passwordStdin && !o.account) return usage("--password-stdin goes with --account");

  // Stop signals are taken by a thread of their own.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  zenta::stream::Login login;
  const std::u16string host = zenta::platform::fromUtf8(o.host);
  zenta::hosts::HostStore(login).loadHost(host);
  {
    login.host = host;
    if (o.account) {
      std::string password;
      if (o.passwordStdin) {
        for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';)
          password.push_back(char(c));
        if (!password.empty() && password.back() == '\r') password.pop_back();
      } else if (const char* env = std::getenv("ZENTA_PASSWORD")) {
        password = env;
      }
      login.guest = false;
      login.account = zenta::platform::fromUtf8(*o.account);
      login.password = zenta::platform::fromUtf8(password);
    }
  }

  zenta::bridge::Recorder recorder(login);
  zenta::bridge::HttpServer server(
      recorder, {o.listen, uint16_t(o.port), 10, 10, credentials, o.publicOrigins});
  std::string error;
  if (!server.start(error)) {
    std::fprintf(stderr, "zenta-bridge: %s\n", error.c_str());
    return 1;
  }
  zenta::bridge::RtspServer rtsp(recorder, {o.listen, uint16_t(o.rtspPort), credentials});
  if (!rtsp.start(error)) {
    std::fprintf(stderr, "zenta-bridge: %s\n", error.c_str());
    return 1;
  }
  server.setRtspPort(rtsp.port());
  const std::string shown =
      o.listen.find(':') != std::string::npos ? "[" + o.listen + "]" : o.listen;
  std::printf("zenta-bridge: serving http://%s:%u/ and rtsp://%s:%u/ch/N for %s\n", shown.c_str(),
              unsigned(server.port()), shown.c_str(), unsigned(rtsp.port()), o.host.c_str());
  std::fflush(stdout);

  // The recorder is tried until it answers; the server says what it knows
  // meanwhile (every channel connecting).
  std::atomic<bool> stopping{false};
  std::thread connector([&] {
    bool told = false;
    while (!recorder.connect()) {
      if (stopping) return;
      if (!told)
        std::fprintf(stderr, "zenta-bridge: %s does not answer; trying again\n", o.host.c_str());
      told = true;
      for (int i = 0; i < 50 && !stopping; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (stopping) return;
    }
    std::fprintf(stderr, "zenta-bridge: logged in to %s\n", o.host.c_str());
  });
  int signal = 0;
  sigwait(&stopSignals, &signal);
  // A connect under way is given up at once.
  stopping = true;
  recorder.cancelConnect();
  connector.join();
  rtsp.stop();
  server.stop();
  recorder.close();
  return 0;
}
