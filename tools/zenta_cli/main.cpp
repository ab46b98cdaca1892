// zenta-cli: the viewer's saved servers, a server's channels, a snapshot or
// a recording of one channel, for scripts and for people without a screen.
// Built on the viewer's own host store, stream client, decoder and snapshot
// writer.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hosts/host_store.h"
#include "platform/base/text.h"
#include "platform/registry/registry.h"
#include "stream/session.h"
#include "video/colour/canvas.h"
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
    "  hosts list                       the saved servers (* the remembered one)\n"
    "  hosts add HOST [--account A --password P | --guest]\n"
    "                                   save a server and remember it\n"
    "  hosts remove HOST                forget a saved server\n"
    "  hosts remember HOST              make a saved server the remembered one\n"
    "  probe HOST[:HTTPPORT]            reach the server, list its channels\n"
    "  snapshot HOST CHANNEL FILE.jpg   save one picture of a channel\n"
    "  record HOST CHANNEL FILE.263 --seconds N\n"
    "                                   save a channel's H.263 pictures\n"
    "\n"
    "HOST is a host name or IPv4 address, optionally :HTTPPORT for the port\n"
    "query. probe, snapshot and record log in with the saved server's account,\n"
    "or with --account A --password P, or --guest. --timeout S bounds them\n"
    "(default 10 s).\n"
    "\n"
    "Exit codes: 0 done, 1 server or channel not reachable, 2 bad command line,\n"
    "3 login refused, 4 time-out, 5 the file could not be written. An output\n"
    "file appears under its name only when it is complete.\n"
    "\n"
    "--help shows this text, --version the version.\n";

std::u16string wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}
std::string narrow(const std::u16string& text) {
  return stream::toWireText(text, 1000);
}

struct Options {
  std::vector<std::string> words;
  std::optional<std::string> account, password;
  bool guest = false;
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
  if (!o.bad && o.account.has_value() != o.password.has_value()) {
    o.bad = true;
    o.error = "--account and --password go together";
  }
  return o;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "zenta-cli: %s\nTry 'zenta-cli --help'.\n", message.c_str());
  return kUsage;
}

int hostsCommand(const Options& o) {
  stream::ViewerState state;
  hosts::HostStore store(state);
  const std::string& verb = o.words.size() > 1 ? o.words[1] : "";
  if (verb == "list" && o.words.size() == 2) {
    const auto remembered = store.rememberedHost();
    for (const std::u16string& host : store.listHosts()) {
      stream::ViewerState one;
      hosts::HostStore(one).loadHost(host);
      const bool current = remembered && platform::equalFolded(*remembered, host);
      std::printf("%s%s\t%s\n", current ? "* " : "  ", narrow(host).c_str(),
                  one.guestLogin ? "(guest)" : narrow(one.accountText).c_str());
    }
    return kOk;
  }
  if (o.words.size() != 3)
    return usageError("hosts takes list, add HOST, remove HOST or remember HOST");
  const std::u16string host = wide(o.words[2]);
  if (verb == "add") {
    if (!hosts::storableHostText(host) || host.size() > hosts::kHostCapacity)
      return usageError("a host is 1 to 39 characters without a backslash");
    const bool guest = o.guest || !o.account;
    store.saveHost(host, wide(o.account.value_or("")), wide(o.password.value_or("")), guest);
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
    return kOk;
  }
  if (verb == "remember") {
    store.loadHost(host);
    std::u16string account, password;
    {
      std::lock_guard guard(state.loginLock);
      account = state.accountText;
      password = state.passwordText;
    }
    store.saveHost(host, account, password, state.guestLogin);
    return kOk;
  }
  return usageError("hosts takes list, add HOST, remove HOST or remember HOST");
}

// The login for a server: the options', else the saved host's, else guest.
void setLogin(stream::ViewerState& state, const Options& o, const std::u16string& host) {
  hosts::HostStore store(state);
  store.loadHost(host);
  std::lock_guard guard(state.loginLock);
  state.hostText = host;
  if (o.guest) {
    state.guestLogin = true;
  } else if (o.account) {
    state.guestLogin = false;
    state.accountText = wide(*o.account);
    state.passwordText = wide(*o.password);
  }
}

stream::SessionSettings settings(const Options& o) {
  stream::SessionSettings s;
  s.probeTimeout = std::chrono::seconds(std::min(o.timeout, 10));
  s.connectTimeout = std::chrono::seconds(std::min(o.timeout, 10));
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
  bool pictureSaved = false;
  bool writeFailed = false;

  template <typename Predicate>
  bool waitUntil(Clock::time_point deadline, Predicate done) {
    std::unique_lock guard(lock);
    return changed.wait_until(guard, deadline, [&] { return done(); });
  }
};

// Reads a channel's messages: INFO texts and pictures go to `onInfo` and
// `onPicture`, until the session closes the channel.
template <typename OnInfo, typename OnPicture>
void readChannel(stream::StreamSession& session, stream::ChannelView& channel, OnInfo onInfo,
                 OnPicture onPicture) {
  if (!session.logIn(channel)) return;
  for (;;) {
    stream::MessageHeader header;
    const int read = session.readHeader(channel, header);
    if (read == 1) return;
    if (read == -1 || header.kind == stream::MessageKind::TimeTick) continue;
    bool stored = false;
    const int payload = session.readPayload(channel, header.payloadLength, stored);
    if (payload == 1) return;
    if (payload == -1 || !stored) continue;
    const uint8_t* data = channel.receiveBuffer.get();
    if (header.kind == stream::MessageKind::TextMessage) {
      if (const auto info = stream::parseInfo(data, header.payloadLength)) onInfo(*info);
    } else if (header.kind == stream::MessageKind::VideoFrame) {
      onPicture(data, header.payloadLength);
    }
  }
}

int channelNumber(const std::string& text) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  return *end == 0 && n >= 1 && n <= 16 ? int(n) : 0;
}

std::string trimmed(const std::array<char, 21>& field) {
  std::string text(field.data(), strnlen(field.data(), 20));
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

int probeCommand(const Options& o) {
  if (o.words.size() != 2) return usageError("probe takes HOST[:HTTPPORT]");
  stream::ViewerState state;
  const std::u16string host = wide(o.words[1]);
  setLogin(state, o, host);
  Findings found;
  stream::StreamSession session(
      state,
      [&](stream::StreamSession& s, stream::ChannelView& channel) {
        video::H263DecoderHandle decoder;
        video::h263Create(decoder);
        readChannel(
            s, channel,
            [&](const stream::InfoText& info) {
              std::lock_guard guard(found.lock);
              found.info[channel.number] = info;
              found.changed.notify_all();
            },
            [&](const uint8_t* data, uint32_t length) {
              if (video::h263PictureType(data, length) == 0) return;
              video::PlanarFrame* out = nullptr;
              if (video::h263Decode(decoder, &out, data, length) < 0) return;
              std::lock_guard guard(found.lock);
              found.size.try_emplace(channel.number, decoder.width, decoder.height);
              found.changed.notify_all();
            });
        video::h263Destroy(decoder);
      },
      settings(o));
  if (!session.probeServer(host)) {
    std::fprintf(stderr, "zenta-cli: %s is not reachable\n", o.words[1].c_str());
    return kUnreachable;
  }
  std::printf("reachable: %s, stream port %d\n", o.words[1].c_str(), int(state.streamPort));
  for (auto& channel : state.channels)
    session.openChannel(channel, host);
  const auto deadline = Clock::now() + std::chrono::seconds(std::min(o.timeout, 3));
  found.waitUntil(deadline, [&] {
    // Every channel that told its INFO text and may show pictures has one.
    if (found.info.size() < state.channels.size()) return false;
    for (const auto& [number, info] : found.info) {
      if (stream::grantsViewing(info.permission) && !found.size.count(number)) return false;
    }
    return true;
  });
  session.closeAllChannels();
  std::lock_guard guard(found.lock);
  std::string title;
  std::printf("%-8s%-22s%-6s%s\n", "channel", "camera", "code", "picture");
  for (int number = 1; number <= 16; ++number) {
    const auto info = found.info.find(number);
    const auto size = found.size.find(number);
    std::string picture = size == found.size.end() ? "-"
                                                   : std::to_string(size->second.first) + "x" +
                                                         std::to_string(size->second.second);
    if (info == found.info.end()) {
      std::printf("%-8d%-22s%-6s%s\n", number, "-", "-", picture.c_str());
      continue;
    }
    if (stream::grantsViewing(info->second.permission)) title = trimmed(info->second.serverTitle);
    std::printf("%-8d%-22s%-6c%s\n", number, trimmed(info->second.cameraName).c_str(),
                info->second.permission, picture.c_str());
  }
  std::printf("title: %s\n", title.empty() ? "-" : title.c_str());
  return kOk;
}

// One channel of a server, logged in, with `onPicture` for its pictures.
// Ends with the resume command. The result: the exit code so far.
template <typename OnPicture>
int withChannel(const Options& o, Findings& found, int number, OnPicture onPicture,
                const std::function<bool()>& done, Clock::time_point deadline) {
  stream::ViewerState state;
  const std::u16string host = wide(o.words[1]);
  setLogin(state, o, host);
  stream::StreamSession session(
      state,
      [&](stream::StreamSession& s, stream::ChannelView& channel) {
        readChannel(
            s, channel,
            [&](const stream::InfoText& info) {
              std::lock_guard guard(found.lock);
              found.refused = !stream::grantsViewing(info.permission);
              found.changed.notify_all();
            },
            [&](const uint8_t* data, uint32_t length) { onPicture(data, length); });
      },
      settings(o));
  if (!session.probeServer(host)) {
    std::fprintf(stderr, "zenta-cli: %s is not reachable\n", o.words[1].c_str());
    return kUnreachable;
  }
  if (!session.openChannel(state.channels[size_t(number - 1)], host)) {
    std::fprintf(stderr, "zenta-cli: channel %d cannot be opened\n", number);
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
  video::H263DecoderHandle decoder;
  video::h263Create(decoder);
  std::vector<uint8_t> canvas(video::kCanvasBytes, 0);
  bool intraSeen = false;
  const int code = withChannel(
      o, found, number,
      [&](const uint8_t* data, uint32_t length) {
        // From an intra picture on, the first picture decoded whole.
        intraSeen = intraSeen || video::h263PictureType(data, length) == 1;
        video::PlanarFrame* out = nullptr;
        if (!intraSeen || video::h263Decode(decoder, &out, data, length) < 0 || out == nullptr)
          return;
        std::lock_guard guard(found.lock);
        if (found.pictureSaved || found.writeFailed) return;
        const int width = decoder.width, height = std::min(decoder.height, video::kCanvasHeight);
        video::ConvertPlanarToCanvas(canvas.data(), out->y, out->cb, out->cr, width, height,
                                     out->stride);
        // The area the viewer shows and saves.
        const int shown = width == 368 ? 360 : std::min(width, 320);
        const uint8_t* rows =
            canvas.data() + size_t(video::kCanvasHeight - height) * video::kCanvasStride;
        if (video::JpegSnapshotWriter(path.c_str(), rows, video::kCanvasWidth, unsigned(shown),
                                      unsigned(height), 90) == 1) {
          found.pictureSaved = true;
        } else {
          found.writeFailed = true;
        }
        found.changed.notify_all();
      },
      [&] { return found.pictureSaved || found.writeFailed; },
      Clock::now() + std::chrono::seconds(o.timeout));
  video::h263Destroy(decoder);
  if (code == kWriteFailed)
    std::fprintf(stderr, "zenta-cli: %s could not be written\n", path.c_str());
  if (code == kTimeOut) std::fprintf(stderr, "zenta-cli: no picture within %d s\n", o.timeout);
  return code;
}

int recordCommand(const Options& o) {
  if (o.words.size() != 4 || channelNumber(o.words[2]) == 0 || o.seconds == 0)
    return usageError("record takes HOST CHANNEL FILE.263 --seconds N, CHANNEL 1 to 16");
  const int number = channelNumber(o.words[2]);
  const std::string path = o.words[3];
  const std::string temporary = path + ".part" + std::to_string(::getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "zenta-cli: %s could not be written\n", path.c_str());
    return kWriteFailed;
  }
  Findings found;
  bool intraSeen = false;
  size_t pictures = 0;
  const auto until = Clock::now() + std::chrono::seconds(o.seconds);
  const int code = withChannel(
      o, found, number,
      [&](const uint8_t* data, uint32_t length) {
        // From an intra picture on, so that the stream plays from its start.
        intraSeen = intraSeen || video::h263PictureType(data, length) == 1;
        if (!intraSeen) return;
        std::lock_guard guard(found.lock);
        if (std::fwrite(data, 1, length, file) != length) found.writeFailed = true;
        ++pictures;
      },
      [] { return false; }, until);
  bool whole = std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
  whole = std::fclose(file) == 0 && whole;
  // Recording ends at the time asked for: that is no time-out.
  const int result = code == kTimeOut ? kOk : code;
  if (result != kOk || !whole || pictures == 0 ||
      std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    if (result != kOk) return result;
    std::fprintf(stderr, "zenta-cli: %s\n",
                 pictures == 0 ? "no picture arrived" : "the file could not be written");
    return pictures == 0 ? kTimeOut : kWriteFailed;
  }
  std::printf("%zu pictures\n", pictures);
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
  const Options o = parse(argc, argv);
  if (o.bad) return usageError(o.error);
  if (o.words.empty()) return usageError("a command is needed");
  const std::string& command = o.words[0];
  if (command == "hosts") return hostsCommand(o);
  if (command == "probe") return probeCommand(o);
  if (command == "snapshot") return snapshotCommand(o);
  if (command == "record") return recordCommand(o);
  return usageError("unknown command " + command);
}
