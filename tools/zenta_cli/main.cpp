// zenta-cli: the viewer's saved servers, a server's channels, a snapshot or
// a recording of one channel, for scripts and for people without a screen.
// Built on the viewer's own host store, stream client, decoder and snapshot
// writer.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "hosts/host_store.h"
#include "platform/base/text.h"
#include "platform/registry/registry.h"
#include "stream/report.h"
#include "stream/session.h"
#include "tools/zenta_cli/recording.h"
#include "video/colour/canvas.h"
#include "video/h263/picture_decoder.h"
#include "video/snapshot/jpeg_writer.h"
#include "zenta/version.h"

namespace {

using namespace zenta;
using Clock = std::chrono::steady_clock;

// Exit codes.
constexpr int kOk = 0, kUnreachable = 1, kUsage = 2, kRefused = 3, kTimeOut = 4, kWriteFailed = 5;

const char* const kUsageText =
    "Usage: zenta-cli [--registry=FILE] COMMAND ...\n"
    "The viewer's saved servers, and a server's channels without a screen.\n"
    "\n"
    "  hosts list [--json]              the saved servers (* the remembered one)\n"
    "  hosts add HOST [--account A [--password-stdin] | --guest]\n"
    "                                   save a server and remember it\n"
    "  hosts remove HOST                forget a saved server\n"
    "  hosts remember HOST              make a saved server the remembered one\n"
    "  probe HOST[:HTTPPORT] [--json]   reach the server, list its channels\n"
    "  snapshot HOST CHANNEL FILE.jpg   save one picture of a channel\n"
    "  record HOST CHANNEL FILE [--seconds N]\n"
    "                                   record a channel: FILE.3gp, .mov or .mkv\n"
    "                                   (.mkv when FILE has no extension) with the\n"
    "                                   server's times, FILE.263 the bare pictures;\n"
    "                                   until Ctrl-C without --seconds\n"
    "\n"
    "HOST is a host name or IPv4 address, optionally :HTTPPORT for the port\n"
    "query. probe, snapshot and record log in with the saved server's account,\n"
    "or with --account A, or --guest. The password of --account comes from\n"
    "--password-stdin (the first line of standard input), the environment\n"
    "variable ZENTA_PASSWORD, or a prompt on the terminal; --password P works\n"
    "too, but every user of this machine can read it in the process list.\n"
    "--timeout S bounds the whole command (default 10 s). Arguments and output\n"
    "are UTF-8; the server's texts are printed with control characters as \\xNN.\n"
    "\n"
    "Exit codes: 0 done, 1 server or channel not reachable, 2 bad command line,\n"
    "3 login refused, 4 time-out, 5 the file could not be written. An output\n"
    "file appears under its name only when it is complete.\n"
    "\n"
    "--help shows this text, --version the version.\n";

// Arguments are UTF-8, and so is what is printed.
std::u16string wide(const std::string& text) {
  return platform::fromUtf8(text);
}
std::string narrow(const std::u16string& text) {
  return platform::toUtf8(text);
}

// The characters of a text the server sent: UTF-8 when the bytes are valid
// UTF-8 (as a recorder set up on a modern system sends them), else one
// Latin-1 character a byte.
std::u32string serverCharacters(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80         ? 1
                       : (lead >> 5) == 6  ? 2
                       : (lead >> 4) == 14 ? 3
                       : (lead >> 3) == 30 ? 4
                                           : 0;
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1F
                 : length == 3 ? lead & 0x0F
                               : lead & 0x07;
    bool valid = length > 0 && i + size_t(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + size_t(k)]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    valid = valid && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF) &&
            (length == 1 || c >= (length == 2   ? 0x80u
                                  : length == 3 ? 0x800u
                                                : 0x10000u));
    if (!valid) {
      out.clear();
      for (const char b : text)
        out.push_back(static_cast<unsigned char>(b));
      return out;
    }
    out.push_back(c);
    i += size_t(length);
  }
  return out;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// A server's text as UTF-8, for JSON (which escapes control characters
// itself).
std::string serverUtf8(std::string_view text) {
  std::string out;
  for (const char32_t c : serverCharacters(text))
    appendUtf8(out, c);
  return out;
}

// A text as it may reach a terminal: control characters (C0, DEL, C1) and
// the backslash escaped as \xNN (or \u{N}), the rest as UTF-8. No escape
// sequence or line break of the server's gets out.
std::string printable(std::string_view text) {
  std::string out;
  for (const char32_t c : serverCharacters(text)) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", unsigned(c));
      out += escaped;
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

struct Options {
  std::vector<std::string> words;
  std::optional<std::string> account, password;
  bool guest = false;
  bool passwordStdin = false;
  bool json = false;
  int seconds = 0;
  int timeout = 10;
  bool bad = false;
  std::string error;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        o.bad = true;
        o.error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    const auto number = [&](const char* name, int low, int high) {
      const auto v = value(name);
      char* end = nullptr;
      const long n = v ? std::strtol(v->c_str(), &end, 10) : 0;
      if (!v || *end != 0 || n < low || n > high) {
        o.bad = true;
        o.error = std::string(name) + " takes a number from " + std::to_string(low) + " to " +
                  std::to_string(high);
        return 0;
      }
      return int(n);
    };
    if (a.rfind("--registry=", 0) == 0) {
      platform::setRegistryFile(a.substr(11));
    } else if (a == "--account") {
      o.account = value("--account");
    } else if (a == "--password") {
      o.password = value("--password");
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--password-stdin") {
      o.passwordStdin = true;
    } else if (a == "--guest") {
      o.guest = true;
    } else if (a == "--seconds") {
      o.seconds = number("--seconds", 1, 86400);
    } else if (a == "--timeout") {
      o.timeout = number("--timeout", 1, 3600);
    } else if (a.rfind("--", 0) == 0 && a != "--help") {
      o.bad = true;
      o.error = "unknown option " + a;
    } else {
      o.words.push_back(a);
    }
  }
  if (!o.bad && o.guest && (o.account || o.password)) {
    o.bad = true;
    o.error = "--guest goes without --account and --password";
  }
  if (!o.bad && o.password && o.passwordStdin) {
    o.bad = true;
    o.error = "--password and --password-stdin exclude each other";
  }
  if (!o.bad && !o.account && (o.password || o.passwordStdin)) {
    o.bad = true;
    o.error = "a password goes with --account";
  }
  return o;
}

// The password of --account when the command line does not give it: from
// standard input (--password-stdin, its first line), from ZENTA_PASSWORD, or
// asked for on the terminal without echo. False when there is none.
bool takePassword(Options& o) {
  if (!o.account || o.password) return true;
  const auto firstLine = [](std::FILE* in) -> std::optional<std::string> {
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF && c != '\n';)
      line.push_back(char(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  };
  if (o.passwordStdin) {
    o.password = firstLine(stdin);
    return true;
  }
  if (const char* fromEnvironment = std::getenv("ZENTA_PASSWORD")) {
    o.password = fromEnvironment;
    return true;
  }
  if (::isatty(STDIN_FILENO) == 0) return false;
  termios saved{};
  const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::fprintf(stderr, "Password for %s: ", o.account->c_str());
  std::fflush(stderr);
  o.password = firstLine(stdin);
  if (terminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fprintf(stderr, "\n");
  return true;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "zenta-cli: %s\nTry 'zenta-cli --help'.\n", message.c_str());
  return kUsage;
}

int hostsCommand(const Options& o) {
  stream::Login login;
  hosts::HostStore store(login);
  const std::string& verb = o.words.size() > 1 ? o.words[1] : "";
  if (verb == "list" && o.words.size() == 2) {
    const auto remembered = store.rememberedHost();
    nlohmann::json list = nlohmann::json::array();
    for (const std::u16string& host : store.listHosts()) {
      stream::Login one;
      hosts::HostStore(one).loadHost(host);
      const bool current = remembered && platform::equalFolded(*remembered, host);
      if (o.json) {
        list.push_back(nlohmann::json{
            {"host", narrow(host)},
            {"account", one.guest ? nlohmann::json() : nlohmann::json(narrow(one.account))},
            {"guest", one.guest},
            {"remembered", current}});
        continue;
      }
      std::printf("%s%s\t%s\n", current ? "* " : "  ", printable(narrow(host)).c_str(),
                  one.guest ? "(guest)" : printable(narrow(one.account)).c_str());
    }
    if (o.json)
      std::printf("%s\n",
                  list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return kOk;
  }
  if (o.words.size() != 3)
    return usageError("hosts takes list, add HOST, remove HOST or remember HOST");
  const std::u16string host = wide(o.words[2]);
  if (verb == "add") {
    if (!hosts::storableHostText(host) || host.size() > hosts::kHostCapacity)
      return usageError("a host is 1 to 39 characters without a backslash");
    const bool guest = o.guest || !o.account;
    if (!store.saveHost(host, wide(o.account.value_or("")), wide(o.password.value_or("")), guest)) {
      std::fprintf(stderr, "zenta-cli: the saved servers could not be written (%s)\n",
                   platform::registryFile().c_str());
      return kWriteFailed;
    }
    return kOk;
  }
  // Host names compare without case, as the registry's key names do.
  const auto list = store.listHosts();
  if (std::none_of(list.begin(), list.end(), [&](const std::u16string& saved) {
        return platform::equalFolded(saved, host);
      })) {
    std::fprintf(stderr, "zenta-cli: no saved host %s\n", o.words[2].c_str());
    return kUnreachable;
  }
  if (verb == "remove") {
    store.loadRemembered();  // the remembered host is the current one
    store.deleteHost(host);
    const auto left = store.listHosts();
    if (std::any_of(left.begin(), left.end(), [&](const std::u16string& saved) {
          return platform::equalFolded(saved, host);
        })) {
      std::fprintf(stderr, "zenta-cli: the saved servers could not be written (%s)\n",
                   platform::registryFile().c_str());
      return kWriteFailed;
    }
    return kOk;
  }
  if (verb == "remember") {
    store.loadHost(host);
    const stream::Login saved = login;
    if (!store.saveHost(host, saved.account, saved.password, saved.guest)) {
      std::fprintf(stderr, "zenta-cli: the saved servers could not be written (%s)\n",
                   platform::registryFile().c_str());
      return kWriteFailed;
    }
    return kOk;
  }
  return usageError("hosts takes list, add HOST, remove HOST or remember HOST");
}

// The login for a server: the options', else the saved host's, else guest.
stream::Login loginFor(const Options& o, const std::u16string& host) {
  stream::Login login;
  hosts::HostStore(login).loadHost(host);
  login.host = host;
  if (o.guest) {
    login.guest = true;
  } else if (o.account) {
    login.guest = false;
    login.account = wide(*o.account);
    login.password = wide(*o.password);
  }
  return login;
}

// The session's limits: the port query, the probe and the openings of a
// command together take --timeout at the most.
stream::SessionSettings settings(const Options& o) {
  stream::SessionSettings s;
  s.probeTimeout = std::chrono::seconds(std::min(o.timeout, 10));
  s.connectTimeout = std::chrono::seconds(std::min(o.timeout, 10));
  s.connectLimit = std::chrono::seconds(o.timeout);
  s.connectAttempts = 2;
  return s;
}

// What one channel's receive thread learned, under one lock.
struct Findings {
  std::mutex lock;
  std::condition_variable changed;
  std::map<int, stream::InfoText> info;
  std::map<int, std::pair<int, int>> size;
  bool refused = false;
  bool granted = false;  // an INFO text granted viewing: pictures may be kept
  bool pictureSaved = false;
  bool writeFailed = false;

  // Looks again every tenth of a second as well, for what a signal handler
  // may have set (a handler cannot notify).
  template <typename Predicate>
  bool waitUntil(Clock::time_point deadline, Predicate done) {
    std::unique_lock guard(lock);
    for (;;) {
      if (done()) return true;
      const auto now = Clock::now();
      if (now >= deadline) return false;
      changed.wait_until(guard, std::min(deadline, now + std::chrono::milliseconds(100)));
    }
  }
};

// What the client does with a channel's INFO texts and pictures; a picture
// handler returns whether it took the picture (it decoded).
struct CallbackSink : stream::ChannelSink {
  std::function<void(stream::Connection&, const stream::InfoText&)> info;
  std::function<bool(stream::Connection&, std::span<const uint8_t>, double)> picture;
  void onInfo(stream::Connection& channel, const stream::InfoText& text) override {
    if (info) info(channel, text);
  }
  bool onPicture(stream::Connection& channel, std::span<const uint8_t> payload,
                 double stamp) override {
    return picture && picture(channel, payload, stamp);
  }
};

// `text` (UTF-8) and blanks up to `width` characters: a table's column,
// counted in characters, not bytes.
std::string padded(std::string text, size_t width) {
  const auto characters = size_t(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
  if (characters < width) text.append(width - characters, ' ');
  return text;
}

int channelNumber(const std::string& text) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  return *end == 0 && n >= 1 && n <= 16 ? int(n) : 0;
}

// An INFO field without its leading blanks, as the server sent it.
std::string rawTrimmed(const std::array<char, 21>& field) {
  std::string text(field.data(), strnlen(field.data(), 20));
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

int probeCommand(const Options& o) {
  if (o.words.size() != 2) return usageError("probe takes HOST[:HTTPPORT]");
  const stream::Login login = loginFor(o, wide(o.words[1]));
  Findings found;
  // One decoder a channel, each used by its channel's thread alone.
  std::array<video::PictureDecoder, stream::kChannelCount> decoders;
  CallbackSink sink;
  sink.info = [&](stream::Connection& channel, const stream::InfoText& info) {
    std::lock_guard guard(found.lock);
    found.info[channel.number] = info;
    found.changed.notify_all();
  };
  sink.picture = [&](stream::Connection& channel, std::span<const uint8_t> payload, double) {
    const auto decoded = decoders[size_t(channel.number - 1)].decode(payload);
    if (!decoded) return false;
    std::lock_guard guard(found.lock);
    found.size.try_emplace(channel.number, decoded->width, decoded->height);
    found.changed.notify_all();
    return true;
  };
  stream::StreamSession session(settings(o));
  const auto started = Clock::now();
  // Every channel that opens is asked; none is waited for here.
  stream::ConnectOptions options;
  options.awaitChannel = 0;
  options.streaming = 0xFFFF;  // each channel's first picture tells its size
  options.closeOnFailure = false;
  const auto result = session.connect(login, sink, options);
  if (result != stream::ConnectResult::Connected && !session.channel(1).linked) {
    session.closeAllChannels();
    std::fprintf(stderr, "zenta-cli: %s is not reachable\n", o.words[1].c_str());
    return kUnreachable;
  }
  if (!o.json)
    std::printf("reachable: %s, stream port %d\n", o.words[1].c_str(), session.streamPort());
  // Within --timeout: every channel answered (its INFO text, or closed by
  // a recorder without it), and every one that may show pictures has one.
  const auto deadline = started + std::chrono::seconds(o.timeout);
  found.waitUntil(deadline, [&] {
    if (session.unanswered() != 0) return false;
    for (const auto& [number, info] : found.info) {
      if (stream::grantsViewing(info.permission) && !found.size.count(number)) return false;
    }
    return true;
  });
  std::array<bool, stream::kChannelCount> absent{};
  for (int number = 1; number <= stream::kChannelCount; ++number)
    absent[size_t(number - 1)] = session.channel(number).absent;
  session.closeAllChannels();
  std::lock_guard guard(found.lock);
  std::string title;
  nlohmann::json channels = nlohmann::json::array();
  if (!o.json)
    std::printf("%-8s%s%-6s%s\n", "channel", padded("camera", 22).c_str(), "code", "picture");
  for (int number = 1; number <= 16; ++number) {
    const auto info = found.info.find(number);
    const auto size = found.size.find(number);
    std::string picture = size == found.size.end() ? "-"
                                                   : std::to_string(size->second.first) + "x" +
                                                         std::to_string(size->second.second);
    // Every field in every entry, null where the recorder did not say.
    nlohmann::json entry = {{"channel", number}, {"answered", info != found.info.end()},
                            {"camera", nullptr}, {"permission", nullptr},
                            {"code", nullptr},   {"width", nullptr},
                            {"height", nullptr}};
    stream::ChannelState state = absent[size_t(number - 1)] ? stream::ChannelState::Absent
                                                            : stream::ChannelState::Connecting;
    if (info == found.info.end()) {
      if (!o.json)
        std::printf("%-8d%s%-6s%s\n", number, padded("-", 22).c_str(), "-", picture.c_str());
    } else {
      if (stream::grantsViewing(info->second.permission))
        title = rawTrimmed(info->second.serverTitle);
      const std::string camera = rawTrimmed(info->second.cameraName);
      entry["camera"] = serverUtf8(camera);
      entry["permission"] = stream::permissionName(info->second.permission);
      entry["code"] = std::string(1, info->second.permission);
      state = !stream::grantsViewing(info->second.permission) ? stream::ChannelState::Refused
              : size != found.size.end()                      ? stream::ChannelState::Live
                                                              : stream::ChannelState::NoSignal;
      if (!o.json)
        std::printf("%-8d%s%-6s%s\n", number, padded(printable(camera), 22).c_str(),
                    printable(std::string(1, info->second.permission)).c_str(), picture.c_str());
    }
    if (size != found.size.end()) {
      entry["width"] = size->second.first;
      entry["height"] = size->second.second;
    }
    entry["state"] = stream::stateName(state);
    channels.push_back(entry);
  }
  if (o.json) {
    const nlohmann::json report = {
        {"schema", stream::kReportSchema},
        {"host", o.words[1]},
        {"stream_port", session.streamPort()},
        {"title", title.empty() ? nlohmann::json() : nlohmann::json(serverUtf8(title))},
        {"channels", channels}};
    std::printf("%s\n",
                report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    std::printf("title: %s\n", title.empty() ? "-" : printable(title).c_str());
  }
  if (found.info.empty()) {
    std::fprintf(stderr, "zenta-cli: no channel answered within %d s\n", o.timeout);
    return kTimeOut;
  }
  // Every channel that answered refused this login: wrong credentials.
  const bool refused = !found.info.empty() &&
                       std::none_of(found.info.begin(), found.info.end(), [](const auto& entry) {
                         return stream::grantsViewing(entry.second.permission);
                       });
  if (refused) {
    std::fprintf(stderr, "zenta-cli: wrong account or password: the server refuses this login\n");
    return kRefused;
  }
  return kOk;
}

// One channel of a server, logged in, with `onPicture` for its pictures
// (true: taken). Ends with the resume command. The result: the exit code so
// far.
template <typename OnPicture>
int withChannel(const Options& o, Findings& found, int number, OnPicture onPicture,
                const std::function<bool()>& done, Clock::time_point deadline) {
  const stream::Login login = loginFor(o, wide(o.words[1]));
  CallbackSink sink;
  sink.info = [&](stream::Connection&, const stream::InfoText& info) {
    std::lock_guard guard(found.lock);
    found.refused = !stream::grantsViewing(info.permission);
    found.granted = !found.refused;
    found.changed.notify_all();
  };
  sink.picture = [&](stream::Connection&, std::span<const uint8_t> payload, double stamp) {
    return onPicture(payload, stamp);
  };
  stream::StreamSession session(settings(o));
  stream::ConnectOptions options;
  options.channels = uint32_t{1} << (number - 1);
  options.streaming = options.channels;
  options.awaitChannel = number;
  const auto result = session.connect(login, sink, options);
  if (result == stream::ConnectResult::Unreachable) {
    std::fprintf(stderr, "zenta-cli: %s is not reachable\n", o.words[1].c_str());
    return kUnreachable;
  }
  if (result != stream::ConnectResult::Connected) {
    std::fprintf(stderr, "zenta-cli: channel %d did not answer within %d s\n", number, o.timeout);
    return kTimeOut;
  }
  // The recorder closed the channel before its INFO text: it has no such
  // channel, which a second connection closed before any byte confirms.
  const stream::Connection& channel = session.channel(number);
  const auto answerBy = std::min(deadline, Clock::now() + std::chrono::seconds(o.timeout));
  while (!channel.absent && !channel.answered && Clock::now() < answerBy)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (channel.absent) {
    session.closeAllChannels();
    std::fprintf(stderr, "zenta-cli: %s has no channel %d\n", o.words[1].c_str(), number);
    return kUnreachable;
  }
  const bool ended = found.waitUntil(deadline, [&] { return found.refused || done(); });
  session.closeAllChannels();
  std::lock_guard guard(found.lock);
  if (found.refused) {
    std::fprintf(stderr, "zenta-cli: the server refuses channel %d to this login\n", number);
    return kRefused;
  }
  if (found.writeFailed) return kWriteFailed;
  return ended ? kOk : kTimeOut;
}

int snapshotCommand(const Options& o) {
  if (o.words.size() != 4 || channelNumber(o.words[2]) == 0)
    return usageError("snapshot takes HOST CHANNEL FILE.jpg, CHANNEL 1 to 16");
  const int number = channelNumber(o.words[2]);
  const std::string path = o.words[3];
  Findings found;
  video::PictureDecoder decoder;
  std::vector<uint8_t> canvas(video::kCanvasBytes, 0);
  bool intraSeen = false;
  const int code = withChannel(
      o, found, number,
      [&](std::span<const uint8_t> payload, double) {
        // From an intra picture on, the first picture decoded whole.
        intraSeen = intraSeen || video::h263PictureType(payload.data(), payload.size()) == 1;
        if (!intraSeen) return false;
        const auto decoded = decoder.decode(payload);
        if (!decoded) return false;
        const video::PlanarFrame* out = decoded->planes;
        std::lock_guard guard(found.lock);
        // Only what the server lets this login see is saved.
        if (!found.granted || found.pictureSaved || found.writeFailed) return true;
        const int width = decoded->width, height = decoded->height;
        int written = 0;
        if (video::canvasScaleFactor(width, height) > 1) {
          // Larger than the canvas: saved whole, as the viewer saves it.
          written = video::JpegSnapshotOfPicture(path.c_str(), *out, width, height, 90);
        } else {
          video::ConvertPlanarToCanvas(canvas.data(), out->y, out->cb, out->cr, width, height,
                                       out->stride);
          // The area the viewer shows and saves.
          const int shown = video::shownColumns(width);
          const uint8_t* rows =
              canvas.data() + size_t(video::kCanvasHeight - height) * video::kCanvasStride;
          written = video::JpegSnapshotWriter(path.c_str(), rows, video::kCanvasWidth,
                                              unsigned(shown), unsigned(height), 90);
        }
        if (written == 1) {
          found.pictureSaved = true;
        } else {
          found.writeFailed = true;
        }
        found.changed.notify_all();
        return true;
      },
      [&] { return found.pictureSaved || found.writeFailed; },
      Clock::now() + std::chrono::seconds(o.timeout));
  if (code == kWriteFailed)
    std::fprintf(stderr, "zenta-cli: %s could not be written\n", path.c_str());
  if (code == kTimeOut) std::fprintf(stderr, "zenta-cli: no picture within %d s\n", o.timeout);
  return code;
}

// Ctrl-C and SIGTERM end a recording as its time would: the file is
// finished and kept.
std::atomic<bool> stopRecording{false};

int recordCommand(const Options& o) {
  if (o.words.size() != 4 || channelNumber(o.words[2]) == 0)
    return usageError("record takes HOST CHANNEL FILE [--seconds N], CHANNEL 1 to 16");
  const int number = channelNumber(o.words[2]);
  std::string path = o.words[3];
  // A name without an extension gets Matroska's.
  if (const auto slash = path.rfind('/'), dot = path.rfind('.');
      dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    path += ".mkv";
  }
  if (!cli::recordableName(path))
    return usageError("record writes FILE.3gp, .mov, .mkv or .263 (H.263 in no other container)");
  for (const std::string& kept : cli::keepInterruptedRecordings(path))
    std::fprintf(stderr, "zenta-cli: an interrupted recording was kept as %s\n", kept.c_str());
  // Ctrl-C and SIGTERM only set the flag; the wait below sees it.
  struct sigaction stop {};
  stop.sa_handler = [](int) { stopRecording = true; };
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  Findings found;
  cli::Recording recording(path);
  // Every picture is decoded: only what decodes goes into the file, from the
  // start code the decoder took it at, and the first is an intra picture.
  video::PictureDecoder decoder;
  const bool progress = ::isatty(STDERR_FILENO) != 0;
  auto shown = Clock::now();
  // --seconds counts from the first picture in the file: the time to reach
  // the recorder and wait for an intra picture is not taken from it. That
  // wait is bounded by --timeout.
  const auto wanted = std::chrono::seconds(o.seconds);
  Clock::time_point openedAt{};
  const auto until = o.seconds > 0 ? Clock::now() + std::chrono::seconds(o.timeout) + wanted
                                   : Clock::time_point::max();
  const int code = withChannel(
      o, found, number,
      [&](std::span<const uint8_t> payload, double stamp) {
        const auto decoded = decoder.decode(payload);
        if (!decoded) return false;
        const uint8_t* data = payload.data() + decoded->offset;
        const size_t length = payload.size() - decoded->offset;
        std::lock_guard guard(found.lock);
        if (!found.granted || found.writeFailed) return true;
        if (!recording.opened()) {
          // From an intra picture on, so that the file plays from its start;
          // its size is the container's.
          if (video::h263PictureType(data, length) != 1) return true;
          openedAt = Clock::now();
          if (!recording.open(decoded->width, decoded->height)) {
            found.writeFailed = true;
            found.changed.notify_all();
            return true;
          }
        }
        if (!recording.add(data, length, stamp)) {
          found.writeFailed = true;
          found.changed.notify_all();
          return true;
        }
        if (progress && Clock::now() - shown >= std::chrono::milliseconds(500)) {
          shown = Clock::now();
          std::fprintf(stderr, "\r%zu pictures, %.1f s, %lld bytes ", recording.pictures(),
                       recording.seconds(), static_cast<long long>(recording.bytes()));
        }
        return true;
      },
      [&] {
        return stopRecording.load() ||
               (o.seconds > 0 && recording.opened() && Clock::now() - openedAt >= wanted);
      },
      until);
  if (progress) std::fprintf(stderr, "\n");
  // Recording ends at the time asked for, or when told to: no time-out.
  const int result = code == kTimeOut || (code == kOk && stopRecording) ? kOk : code;
  if (result == kWriteFailed) {
    std::fprintf(stderr, "zenta-cli: %s: %s\n", path.c_str(),
                 recording.error().empty() ? "could not be written" : recording.error().c_str());
  }
  if (result != kOk) return result;
  if (!recording.opened()) {
    if (!recording.error().empty()) {
      std::fprintf(stderr, "zenta-cli: %s: %s\n", path.c_str(), recording.error().c_str());
      return kWriteFailed;
    }
    std::fprintf(stderr, "zenta-cli: no picture arrived\n");
    return kTimeOut;
  }
  if (!recording.finish()) {
    std::fprintf(stderr, "zenta-cli: %s could not be written\n", path.c_str());
    return kWriteFailed;
  }
  std::printf("%zu pictures, %.1f s\n", recording.pictures(), recording.seconds());
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsageText, stdout);
      return kOk;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zenta-cli %s\n", kProjectVersion);
      return kOk;
    }
  }
  Options o = parse(argc, argv);
  if (o.bad) return usageError(o.error);
  if (!takePassword(o))
    return usageError("--account needs a password: --password-stdin, ZENTA_PASSWORD or a terminal");
  if (o.words.empty()) return usageError("a command is needed");
  const std::string& command = o.words[0];
  if (command == "hosts") return hostsCommand(o);
  if (command == "probe") return probeCommand(o);
  if (command == "snapshot") return snapshotCommand(o);
  if (command == "record") return recordCommand(o);
  return usageError("unknown command " + command);
}
