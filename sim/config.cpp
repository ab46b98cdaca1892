#include "sim/config.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace zenta::sim {

namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 19> kFaultNames = {{
    {FaultKind::DropAfter, "drop-after"},
    {FaultKind::DropRandom, "drop-random"},
    {FaultKind::StallAfter, "stall-after"},
    {FaultKind::Refuse, "refuse"},
    {FaultKind::Oversize, "oversize"},
    {FaultKind::NegativeLength, "negative-length"},
    {FaultKind::MinLength, "min-length"},
    {FaultKind::TextWithoutInfo, "text-without-info"},
    {FaultKind::InfoWithoutLineEnd, "info-without-line-end"},
    {FaultKind::NotH263, "not-h263"},
    {FaultKind::TickThenClose, "tick-then-close"},
    {FaultKind::InfoThenClose, "info-then-close"},
    {FaultKind::UnsupportedMode, "unsupported-mode"},
    {FaultKind::TinyPayload, "tiny-payload"},
    {FaultKind::ClockStep, "clock-step"},
    {FaultKind::Flood, "flood"},
    {FaultKind::IgnorePause, "ignore-pause"},
    {FaultKind::RefuseFrom, "refuse-from"},
    {FaultKind::CutIn, "cut-in"},
}};

using Error = std::optional<std::string>;

constexpr size_t kMaxInfoLine = 200;

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

std::optional<long long> parseNumber(std::string_view text, long long low, long long high) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

std::optional<bool> parseBool(std::string_view text) {
  if (text == "yes" || text == "true" || text == "on" || text == "1") return true;
  if (text == "no" || text == "false" || text == "off" || text == "0") return false;
  return std::nullopt;
}

Error bad(std::string_view key, std::string_view value, std::string_view expected) {
  return "bad value \"" + std::string(value) + "\" for " + std::string(key) + " (" +
         std::string(expected) + ")";
}

// Permission codes: one printable character per channel, missing ones "0".
std::optional<std::string> parsePermissions(std::string_view text) {
  if (text.size() > static_cast<size_t>(kChannels)) return std::nullopt;
  for (const char c : text)
    if (c <= ' ' || c > '~') return std::nullopt;
  std::string codes(text);
  codes.resize(kChannels, '0');
  return codes;
}

std::optional<Fault> parseFault(std::string_view text) {
  const size_t equals = text.find('=');
  const std::string_view name = text.substr(0, equals);
  for (const auto& [kind, faultName] : kFaultNames) {
    if (name != faultName) continue;
    Fault fault{kind, 1};
    if (equals != std::string_view::npos) {
      // A clock step goes either way (seconds), a stall may come before the
      // first picture; every other count is positive.
      const long long low = kind == FaultKind::ClockStep    ? -1000000000
                            : kind == FaultKind::StallAfter ? 0
                                                            : 1;
      const auto count = parseNumber(text.substr(equals + 1), low, 1000000000);
      if (!count) return std::nullopt;
      fault.count = static_cast<int>(*count);
    }
    return fault;
  }
  return std::nullopt;
}

Error applyServer(Config& config, std::string_view key, std::string_view value) {
  if (key == "listen") {
    config.listen.clear();
    std::string_view rest = value;
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view address = trim(rest.substr(0, comma));
      if (!address.empty()) config.listen.emplace_back(address);
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    }
    if (config.listen.empty()) return bad(key, value, "one or more addresses");
  } else if (key == "stream-port") {
    const auto port = parseNumber(value, 0, 65535);
    if (!port) return bad(key, value, "0 to 65535");
    config.streamPort = static_cast<int>(*port);
  } else if (key == "http-port") {
    if (value == "off") {
      config.httpPort = -1;
      return std::nullopt;
    }
    const auto port = parseNumber(value, 0, 65535);
    if (!port) return bad(key, value, "0 to 65535 or off");
    config.httpPort = static_cast<int>(*port);
  } else if (key == "title") {
    config.title = std::string(value);
  } else if (key == "channels") {
    const auto count = parseNumber(value, 1, kChannels);
    if (!count) return bad(key, value, "1 to 16");
    config.channelCount = static_cast<int>(*count);
  } else if (key == "guest") {
    const auto allowed = parseBool(value);
    if (!allowed) return bad(key, value, "yes or no");
    config.guestAllowed = *allowed;
  } else if (key == "guest-permissions") {
    const auto codes = parsePermissions(value);
    if (!codes) return bad(key, value, "up to 16 permission codes");
    config.guestPermissions = *codes;
  } else if (key == "max-clients") {
    const auto count = parseNumber(value, 1, 1024);
    if (!count) return bad(key, value, "1 to 1024");
    config.maxClients = static_cast<int>(*count);
  } else if (key == "event-log") {
    config.eventLog = std::string(value);
  } else if (key == "picture-log") {
    const auto on = parseBool(value);
    if (!on) return bad(key, value, "yes or no");
    config.logPictures = *on;
  } else if (key == "seed") {
    const auto seed = parseNumber(value, 0, 0x7fffffffffffffffLL);
    if (!seed) return bad(key, value, "a number");
    config.seed = static_cast<uint64_t>(*seed);
  } else {
    return "unknown setting \"" + std::string(key) + "\"";
  }
  return std::nullopt;
}

Error applyChannelSetting(ChannelConfig& channel, std::string_view key, std::string_view value) {
  if (key == "name") {
    channel.cameraName = std::string(value);
  } else if (key == "size") {
    const size_t x = value.find('x');
    const auto width =
        x == std::string_view::npos ? std::nullopt : parseNumber(value.substr(0, x), 1, 4096);
    const auto height =
        x == std::string_view::npos ? std::nullopt : parseNumber(value.substr(x + 1), 1, 4096);
    if (!width || !height) return bad(key, value, "WIDTHxHEIGHT");
    channel.width = static_cast<int>(*width);
    channel.height = static_cast<int>(*height);
  } else if (key == "rate") {
    const auto rate = parseNumber(value, 1, 30);
    if (!rate) return bad(key, value, "1 to 30 pictures per second");
    channel.rate = static_cast<int>(*rate);
  } else if (key == "bitrate") {
    std::string_view digits = value;
    long long unit = 1;
    if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) unit = 1000;
    if (!digits.empty() && (digits.back() == 'm' || digits.back() == 'M')) unit = 1000000;
    if (unit != 1) digits.remove_suffix(1);
    const auto rate = parseNumber(digits, 1, 100000000);
    if (!rate || *rate * unit < 8000 || *rate * unit > 8000000)
      return bad(key, value, "8k to 8M bits per second");
    channel.bitrate = static_cast<int>(*rate * unit);
  } else if (key == "gop") {
    const auto gop = parseNumber(value, 1, 600);
    if (!gop) return bad(key, value, "1 to 600");
    channel.gop = static_cast<int>(*gop);
  } else if (key == "gob-headers") {
    if (const auto on = parseBool(value)) {
      channel.gobPayload = *on ? 400 : 0;
      return std::nullopt;
    }
    const auto bytes = parseNumber(value, 100, 65535);
    if (!bytes) return bad(key, value, "yes, no or a packet size of 100 to 65535 bytes");
    channel.gobPayload = static_cast<int>(*bytes);
  } else if (key == "file") {
    channel.file = std::string(value);
  } else if (key == "fault") {
    const auto fault = parseFault(value);
    if (!fault) return bad(key, value, "a fault name, optionally =N");
    channel.faults.push_back(*fault);
  } else {
    return "unknown channel setting \"" + std::string(key) + "\"";
  }
  return std::nullopt;
}

// channel 0 means every channel.
Error applyChannel(Config& config, int channel, std::string_view key, std::string_view value) {
  for (int i = 0; i < kChannels; ++i) {
    if (channel != 0 && i != channel - 1) continue;
    if (auto error = applyChannelSetting(config.channels[static_cast<size_t>(i)], key, value))
      return error;
  }
  return std::nullopt;
}

Error applyAccount(Account& account, std::string_view key, std::string_view value) {
  if (key == "password") {
    account.password = std::string(value);
  } else if (key == "permissions") {
    const auto codes = parsePermissions(value);
    if (!codes) return bad(key, value, "up to 16 permission codes");
    account.permissions = *codes;
  } else {
    return "unknown account setting \"" + std::string(key) + "\"";
  }
  return std::nullopt;
}

Account& accountNamed(Config& config, std::string_view name) {
  for (Account& account : config.accounts)
    if (account.name == name) return account;
  config.accounts.push_back({std::string(name), "", std::string(kChannels, '0')});
  return config.accounts.back();
}

// "N=VALUE" addresses channel N; a value without such a prefix, every channel.
std::pair<int, std::string_view> splitChannel(std::string_view value) {
  const size_t equals = value.find('=');
  if (equals != std::string_view::npos) {
    if (const auto channel = parseNumber(value.substr(0, equals), 1, kChannels))
      return {static_cast<int>(*channel), value.substr(equals + 1)};
  }
  return {0, value};
}

}  // namespace

std::string_view faultName(FaultKind kind) {
  for (const auto& [faultKind, name] : kFaultNames)
    if (faultKind == kind) return name;
  return "fault";
}

Config::Config() {
  for (int i = 0; i < kChannels; ++i)
    channels[static_cast<size_t>(i)].cameraName = "Camera " + std::to_string(i + 1);
}

char Config::permission(const Account& account, int channel) const {
  if (channel < 1 || channel > kChannels || account.permissions.size() < kChannels) return '3';
  return account.permissions[static_cast<size_t>(channel - 1)];
}

std::optional<Account> Config::authenticate(std::string_view name,
                                            std::string_view password) const {
  for (const Account& account : accounts)
    if (account.name == name) {
      if (account.password == password) return account;
      return std::nullopt;
    }
  if (guestAllowed && name == "guest" && password == "mirel")
    return Account{"guest", "mirel", guestPermissions};
  return std::nullopt;
}

std::optional<std::string> loadConfigFile(const std::string& path, Config& config) {
  std::ifstream file(path);
  if (!file) return "cannot read " + path;
  enum class Scope { Server, Guest, Account, Channel, AllChannels } scope = Scope::Server;
  int channel = 0;
  std::string account;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const auto where = [&](const std::string& message) {
      return path + ":" + std::to_string(number) + ": " + message;
    };
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == '#' || text.front() == ';') continue;
    if (text.front() == '[') {
      if (text.back() != ']') return where("a section name ends in ]");
      const std::string_view section = trim(text.substr(1, text.size() - 2));
      if (section == "server") {
        scope = Scope::Server;
      } else if (section == "guest") {
        scope = Scope::Guest;
      } else if (section == "channels") {
        scope = Scope::AllChannels;
      } else if (section.starts_with("channel ")) {
        const auto n = parseNumber(trim(section.substr(8)), 1, kChannels);
        if (!n) return where("channels are numbered 1 to 16");
        scope = Scope::Channel;
        channel = static_cast<int>(*n);
      } else if (section.starts_with("account ")) {
        account = std::string(trim(section.substr(8)));
        if (account.empty() || account.find(' ') != std::string::npos)
          return where("an account name is one word");
        scope = Scope::Account;
        accountNamed(config, account);
      } else {
        return where("unknown section [" + std::string(section) + "]");
      }
      continue;
    }
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) return where("expected key = value");
    const std::string_view key = trim(text.substr(0, equals));
    const std::string_view value = trim(text.substr(equals + 1));
    Error error;
    switch (scope) {
      case Scope::Server:
        error = applyServer(config, key, value);
        break;
      case Scope::Guest:
        if (key == "allowed")
          error = applyServer(config, "guest", value);
        else if (key == "permissions")
          error = applyServer(config, "guest-permissions", value);
        else
          error = "unknown guest setting \"" + std::string(key) + "\"";
        break;
      case Scope::Account:
        error = applyAccount(accountNamed(config, account), key, value);
        break;
      case Scope::Channel:
        error = applyChannel(config, channel, key, value);
        break;
      case Scope::AllChannels:
        error = applyChannel(config, 0, key, value);
        break;
    }
    if (error) return where(*error);
  }
  return std::nullopt;
}

std::optional<std::string> parseCommandLine(int argc, const char* const* argv, Config& config) {
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return "help";
    if (arg == "--version") return "version";
    if (arg == "--config") {
      if (i + 1 >= argc) return "--config needs a file";
      if (auto error = loadConfigFile(argv[i + 1], config)) return error;
    }
  }
  static constexpr std::array<std::string_view, 8> kServerOptions = {
      "stream-port",       "http-port",   "title",     "channels",
      "guest-permissions", "max-clients", "event-log", "seed"};
  static constexpr std::array<std::string_view, 8> kChannelOptions = {
      "name", "size", "rate", "bitrate", "gop", "gob-headers", "file", "fault"};
  bool listenGiven = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) return "unexpected argument \"" + std::string(arg) + "\"";
    const std::string_view name = arg.substr(2);
    if (name == "no-guest") {
      config.guestAllowed = false;
      continue;
    }
    if (name == "no-picture-log") {
      config.logPictures = false;
      continue;
    }
    if (i + 1 >= argc) return std::string(arg) + " needs a value";
    const std::string_view value = argv[++i];
    Error error;
    if (name == "config") {
      continue;  // read above
    } else if (name == "listen") {
      if (!listenGiven) config.listen.clear();
      listenGiven = true;
      config.listen.emplace_back(value);
    } else if (std::find(kServerOptions.begin(), kServerOptions.end(), name) !=
               kServerOptions.end()) {
      error = applyServer(config, name, value);
    } else if (name == "account") {
      // NAME:PASSWORD[:CODES]
      const size_t first = value.find(':');
      if (first == 0 || first == std::string_view::npos) return "--account NAME:PASSWORD[:CODES]";
      const size_t second = value.find(':', first + 1);
      Account& account = accountNamed(config, value.substr(0, first));
      account.password = std::string(value.substr(first + 1, second - first - 1));
      if (second != std::string_view::npos)
        error = applyAccount(account, "permissions", value.substr(second + 1));
    } else if (name == "fault") {
      // CHANNEL:KIND[=N], or all:KIND[=N]
      const size_t colon = value.find(':');
      if (colon == std::string_view::npos) return "--fault CHANNEL:KIND[=N]";
      const std::string_view target = value.substr(0, colon);
      const auto channel =
          target == "all" ? std::optional<long long>{0} : parseNumber(target, 1, kChannels);
      if (!channel) return "--fault: channels are 1 to 16 or all";
      error = applyChannel(config, static_cast<int>(*channel), "fault", value.substr(colon + 1));
    } else if (std::find(kChannelOptions.begin(), kChannelOptions.end(), name) !=
               kChannelOptions.end()) {
      const auto [channel, rest] = splitChannel(value);
      error = applyChannel(config, channel, name, rest);
    } else {
      return "unknown option " + std::string(arg);
    }
    if (error) return std::string(arg) + ": " + *error;
  }
  return std::nullopt;
}

bool isStandardSize(int width, int height) {
  return (width == 128 && height == 96) || (width == 176 && height == 144) ||
         (width == 352 && height == 288) || (width == 704 && height == 576) ||
         (width == 1408 && height == 1152);
}

std::optional<std::string> validate(const Config& config) {
  if (config.listen.empty()) return "no address to listen on";
  if (config.httpPort > 0 && config.httpPort == config.streamPort)
    return "the stream port and the HTTP port must differ";
  // Names and the title are lines of the INFO text: a line end inside one
  // would break the text, and the viewer keeps 20 characters of each.
  const auto badLine = [](const std::string& text) {
    return text.size() > kMaxInfoLine || text.find_first_of("\r\n") != std::string::npos;
  };
  if (badLine(config.title))
    return "the title must be one line of at most " + std::to_string(kMaxInfoLine) + " bytes";
  for (int i = 0; i < config.channelCount; ++i) {
    const ChannelConfig& channel = config.channels[static_cast<size_t>(i)];
    const std::string name = "channel " + std::to_string(i + 1);
    if (badLine(channel.cameraName))
      return name + ": the camera name must be one line of at most " +
             std::to_string(kMaxInfoLine) + " bytes";
    if (!isStandardSize(channel.width, channel.height) &&
        (channel.width % 4 != 0 || channel.height % 4 != 0 || channel.width < 32 ||
         channel.height < 32 || channel.width > 704 || channel.height > 576))
      return name + ": size " + std::to_string(channel.width) + "x" +
             std::to_string(channel.height) +
             " is neither a standard size nor a multiple of 4 from 32x32 to 704x576";
    if (!channel.file.empty() && !std::ifstream(channel.file))
      return name + ": cannot read " + channel.file;
  }
  return std::nullopt;
}

std::string usage() {
  return R"(usage: zenta-camsim [options]
A camera server with up to sixteen channels of live H.263 pictures.

Server:
  --config FILE            read settings from FILE (see sim/example.conf)
  --listen ADDRESS         listen on ADDRESS (repeatable; default 127.0.0.1, 0.0.0.0 for all)
  --stream-port N          stream port (default 18083; 0 picks a free port)
  --http-port N|off        HTTP port that answers the port query (default 8080)
  --title TEXT             server title sent in every INFO text
  --channels N             serve channels 1 to N (default 16)
  --account NAME:PASSWORD[:CODES]
                           an account; CODES are permission codes, channel 1 first
                           ("1" camera control, "0" view only, "2"/"3" refused)
  --no-guest               refuse the guest login
  --guest-permissions CODES  (default 1111000000000000)
  --max-clients N          connections served at once (default 64)
  --event-log FILE         JSON lines of what happens ("-" for standard output)
  --no-picture-log         leave picture events out of the log
  --help, --version        this text, the version
  --seed N                 seed of the random faults

Channels (VALUE for every channel, or N=VALUE for channel N):
  --name [N=]TEXT          camera name
  --size [N=]WxH           picture size (default 320x240): 128x96, 176x144, 352x288 and
                           704x576 and 1408x1152 are coded as H.263, other sizes as H.263+
  --rate [N=]FPS           pictures per second, 1 to 30 (default 10)
  --bitrate [N=]BITS       bits per second, e.g. 200k (default 200k)
  --gop [N=]PICTURES       distance of intra pictures (default 30)
  --gob-headers [N=]yes|no|BYTES  write GOB headers (default no)
  --file [N=]PATH          play a video file, scaled and looped

Faults, for tests:
  --fault N:KIND[=COUNT]   N a channel or "all"; KIND one of
      drop-after=P         close the connection after P pictures
      cut-in=P             send picture P's header and half its payload, then close
      drop-random=R        after each picture close with chance 1 in R
      stall-after=P        send nothing after P pictures, keep the connection
      refuse=C             close the Cth connection to the channel at once
      oversize=P           pad picture P to 200,000 bytes
      negative-length      announce pictures with negative length codes
      min-length=P         send the length code -2147483648 in place of picture P
      text-without-info    a text message without INFO in place of the INFO text
      info-without-line-end  an INFO text lacking its third line end
      not-h263=P           random bytes in place of picture P
      tick-then-close      each connection: one time tick, no INFO text, then closed
      info-then-close      each connection: the INFO text, then closed
      unsupported-mode=P   picture P announces arithmetic coding (H.263 sizes)
)";
}

}  // namespace zenta::sim
