#include "stream/protocol.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zenta::stream {

namespace {

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
  char buffer[256];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(args, pattern);
  std::vsnprintf(text.data(), text.size(), pattern, args);
  va_end(args);
  text.resize(static_cast<size_t>(n));
  return text;
}

// The white space that scanf's conversions skip.
bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" conversion: skips white space, takes an optional sign and at
// least one digit. Values beyond 32 bits are no number.
std::optional<long long> scanDecimal(std::string_view& text) {
  size_t i = 0;
  while (i < text.size() && isScanSpace(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t digits = i;
  long long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > 0xFFFFFFFFLL) return std::nullopt;
    ++i;
  }
  if (i == digits) return std::nullopt;
  text.remove_prefix(i);
  return negative ? -value : value;
}

}  // namespace

std::string formatConnect(int channel) {
  return format("CONNECT %d 1\r\n", channel);
}

std::string formatLogin(int channel, std::string_view account, std::string_view password) {
  return format("%03d SetPass -%d %.*s %.*s\r\n", channel, channel,
                static_cast<int>(account.size()), account.data(), static_cast<int>(password.size()),
                password.data());
}

std::string formatPause(int channel) {
  return format("%03d PAUSE\r\n", channel);
}

std::string formatResume(int channel) {
  return format("%03d RESUME\r\n", channel);
}

std::string formatCameraCommand(int channel, std::string_view word, std::string_view account,
                                std::string_view password) {
  return format("%03d %.*s\r\n%03d ^%.*s %.*s\r\n", channel, static_cast<int>(word.size()),
                word.data(), channel, static_cast<int>(account.size()), account.data(),
                static_cast<int>(password.size()), password.data());
}

MessageHeader parseHeader(const uint8_t* bytes) {
  MessageHeader header;
  uint64_t stampBits = 0;
  for (int i = 7; i >= 0; --i)
    stampBits = (stampBits << 8) | bytes[i];
  std::memcpy(&header.timestamp, &stampBits, sizeof header.timestamp);

  const uint32_t rawCode = uint32_t{bytes[8]} | uint32_t{bytes[9]} << 8 |
                           uint32_t{bytes[10]} << 16 | uint32_t{bytes[11]} << 24;
  header.lengthCode = static_cast<int32_t>(rawCode);
  if (rawCode == 0x80000000u) {
    header.kind = MessageKind::Broken;
    return header;
  }
  const uint32_t magnitude =
      header.lengthCode < 0 ? static_cast<uint32_t>(-header.lengthCode) : rawCode;
  if (magnitude == 0) {
    header.kind = MessageKind::TimeTick;
  } else if (magnitude <= kMaxVideoLength) {
    header.kind = MessageKind::VideoFrame;
    header.payloadLength = magnitude;
  } else {
    header.kind = MessageKind::TextMessage;
    header.payloadLength = magnitude % kMaxVideoLength;
  }
  return header;
}

std::array<char, 21> rightAlign20(std::string_view text) {
  std::array<char, 21> field{};
  const size_t n = std::min<size_t>(text.size(), 20);
  std::fill(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(20 - n), ' ');
  std::copy_n(text.begin(), n, field.begin() + static_cast<std::ptrdiff_t>(20 - n));
  field[20] = '\0';
  return field;
}

std::optional<InfoText> parseInfo(const uint8_t* payload, size_t length) {
  if (payload == nullptr) return std::nullopt;
  const std::string_view text(reinterpret_cast<const char*>(payload), length);
  const size_t info = text.find("INFO");
  if (info == std::string_view::npos) return std::nullopt;

  // Line 2 starts 6 bytes after the "I" and ends at the next CR; line 3
  // starts 2 bytes after that CR and ends at the CR after it.
  const size_t nameStart = info + 6;
  if (nameStart > text.size()) return std::nullopt;
  const size_t nameEnd = text.find('\r', nameStart);
  if (nameEnd == std::string_view::npos) return std::nullopt;
  const size_t titleStart = nameEnd + 2;
  if (titleStart > text.size()) return std::nullopt;
  const size_t titleEnd = text.find('\r', titleStart);
  if (titleEnd == std::string_view::npos) return std::nullopt;

  // The permission code is the byte after the third LF counted from the "I".
  size_t lf = info;
  for (int i = 0; i < 3; ++i) {
    lf = text.find('\n', i == 0 ? lf : lf + 1);
    if (lf == std::string_view::npos) return std::nullopt;
  }
  if (lf + 1 >= text.size()) return std::nullopt;

  InfoText result;
  result.cameraName = rightAlign20(text.substr(nameStart, nameEnd - nameStart));
  result.serverTitle = rightAlign20(text.substr(titleStart, titleEnd - titleStart));
  result.permission = text[lf + 1];
  return result;
}

std::optional<int> parsePortReply(std::string_view body) {
  if (!scanDecimal(body)) return std::nullopt;
  const auto port = scanDecimal(body);
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  return static_cast<int>(*port);
}

std::string toWireText(std::u16string_view text, size_t maxChars) {
  std::string wire;
  for (const char16_t c : text) {
    if (c == u'\0' || wire.size() == maxChars) break;
    wire.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  }
  return wire;
}

namespace {

// UTF-16 to UTF-8, for names the system's resolver takes (a lone surrogate
// becomes U+FFFD).
std::string utf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace

HostSpec splitHostText(std::u16string_view hostText) {
  // The whole text, as UTF-8: a name is resolved as the system spells it,
  // and a port after a long name is kept.
  const std::string host = utf8(hostText);
  const size_t colon = host.find(':');
  if (colon == std::string::npos) return {host, std::nullopt};
  HostSpec spec{host.substr(0, colon), std::nullopt};
  const std::string_view portText = std::string_view(host).substr(colon + 1);
  int port = 0;
  const auto [end, error] =
      std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (error == std::errc{} && end != portText.data() && port >= 1 && port <= 65535) {
    spec.httpPort = port;
  }
  return spec;
}

std::array<uint8_t, kHeaderSize> formatHeader(double timestamp, int32_t lengthCode) {
  std::array<uint8_t, kHeaderSize> bytes{};
  uint64_t stampBits = 0;
  std::memcpy(&stampBits, &timestamp, sizeof stampBits);
  for (size_t i = 0; i < 8; ++i)
    bytes[i] = static_cast<uint8_t>(stampBits >> (8 * i));
  const auto code = static_cast<uint32_t>(lengthCode);
  for (size_t i = 0; i < 4; ++i)
    bytes[8 + i] = static_cast<uint8_t>(code >> (8 * i));
  return bytes;
}

std::string formatInfoText(std::string_view cameraName, std::string_view serverTitle,
                           char permission) {
  std::string text = "INFO\r\n";
  text.append(cameraName).append("\r\n");
  text.append(serverTitle).append("\r\n");
  text.push_back(permission);
  text.append("\r\n");
  return text;
}

namespace {

// A channel number written with exactly `width` digits (any count when 0).
std::optional<int> channelNumber(std::string_view digits, size_t width) {
  if (digits.empty() || (width != 0 && digits.size() != width) || digits.size() > 3)
    return std::nullopt;
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kChannelCount) return std::nullopt;
  return value;
}

// Splits "account password" at its first blank; the password is the rest.
bool splitCredentials(std::string_view text, ClientCommand& command) {
  const size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return false;
  command.account = std::string(text.substr(0, blank));
  command.password = std::string(text.substr(blank + 1));
  return true;
}

}  // namespace

ClientCommand parseCommand(std::string_view line) {
  using Kind = ClientCommand::Kind;
  ClientCommand command;
  constexpr std::string_view kConnect = "CONNECT ";
  if (line.starts_with(kConnect)) {
    const std::string_view rest = line.substr(kConnect.size());
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || rest.substr(blank + 1) != "1") return command;
    const auto channel = channelNumber(rest.substr(0, blank), 0);
    if (!channel) return command;
    command.kind = Kind::Connect;
    command.channel = *channel;
    return command;
  }

  if (line.size() < 5 || line[3] != ' ') return command;
  const auto channel = channelNumber(line.substr(0, 3), 3);
  if (!channel) return command;
  const std::string_view rest = line.substr(4);

  constexpr std::string_view kLogin = "SetPass -";
  if (rest.starts_with(kLogin)) {
    const std::string_view tail = rest.substr(kLogin.size());
    const size_t blank = tail.find(' ');
    if (blank == std::string_view::npos) return command;
    const auto again = channelNumber(tail.substr(0, blank), 0);
    if (again != channel || !splitCredentials(tail.substr(blank + 1), command)) return command;
    command.kind = Kind::Login;
  } else if (rest == "PAUSE") {
    command.kind = Kind::Pause;
  } else if (rest == "RESUME") {
    command.kind = Kind::Resume;
  } else if (rest.front() == '^') {
    if (!splitCredentials(rest.substr(1), command)) return command;
    command.kind = Kind::Credentials;
  } else if (std::find(kCameraCommands.begin(), kCameraCommands.end(), rest) !=
             kCameraCommands.end()) {
    command.kind = Kind::CameraWord;
    command.word = std::string(rest);
  } else {
    return command;
  }
  command.channel = *channel;
  return command;
}

}  // namespace zenta::stream
