// Every byte that passes between the viewer and a video server: the text
// commands the viewer sends, the framed messages the server sends, the INFO
// text inside those messages and the reply of the HTTP port query.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zenta::stream {

inline constexpr int kChannelCount = 16;
inline constexpr int kDefaultStreamPort = 18083;
inline constexpr size_t kHeaderSize = 12;
inline constexpr uint32_t kMaxVideoLength = 0x100000;  // 1,048,576 bytes
inline constexpr size_t kMaxWireText = 39;             // account, password, host as sent

inline constexpr std::string_view kGuestAccount = "guest";
inline constexpr std::string_view kGuestPassword = "mirel";

// The camera command words, by the index of their button on the PTZ panel.
inline constexpr std::array<std::string_view, 16> kCameraCommands = {
    "up",      "left",    "right",   "down",    "preset1", "preset2", "preset3",  "preset4",
    "preset5", "preset6", "preset7", "preset8", "zoomin",  "zoomout", "zoomstop", "stop"};

inline constexpr bool isCameraWord(std::string_view word) {
  for (const std::string_view w : kCameraCommands)
    if (w == word) return true;
  return false;
}

// Commands sent by the viewer; each ends in CR LF and carries no other framing.
std::string formatConnect(int channel);
std::string formatLogin(int channel, std::string_view account, std::string_view password);
std::string formatPause(int channel);
std::string formatResume(int channel);
std::string formatCameraCommand(int channel, std::string_view word, std::string_view account,
                                std::string_view password);

enum class MessageKind : uint8_t {
  TimeTick,     // no payload
  VideoFrame,   // one coded H.263 picture
  TextMessage,  // text, possibly an INFO text
  Broken,       // a length code that has no meaning; the stream is out of step
};

struct MessageHeader {
  double timestamp = 0;  // days since 1899-12-30 00:00, time of day as the fraction
  int32_t lengthCode = 0;
  MessageKind kind = MessageKind::TimeTick;
  uint32_t payloadLength = 0;
};

// Reads the 12 header bytes: a little-endian binary64 time stamp and a
// little-endian signed 32-bit length code. The sign of the code carries no
// meaning; the code -2^31, which has no absolute value, is Broken.
MessageHeader parseHeader(const uint8_t* bytes);

// The INFO text: camera name, server title (both right-aligned in 20
// characters with leading blanks, then a zero byte) and the permission code.
struct InfoText {
  std::array<char, 21> cameraName{};
  std::array<char, 21> serverTitle{};
  char permission = 0;
};

// Finds the first "INFO" in the payload and the three line ends after it.
// Never reads past `length`; needs no terminating zero.
std::optional<InfoText> parseInfo(const uint8_t* payload, size_t length);

// Permission "1" allows camera control; "2" and "3" refuse viewing.
inline bool permitsPtz(char permission) {
  return permission == '1';
}
inline bool grantsViewing(char permission) {
  return permission != '2' && permission != '3';
}

// Stores `text` right-aligned in a 20-character field with leading blanks
// (its first 20 characters when it is longer), followed by a zero byte.
std::array<char, 21> rightAlign20(std::string_view text);

// Reads two decimal integers separated by white space ("%d%d") and returns
// the second as the stream port, or nothing when it is missing or is no
// usable TCP port (1 to 65535).
std::optional<int> parsePortReply(std::string_view body);

// 16-bit text as it goes on the wire: 8-bit characters (code points above
// 255 become '?'), cut at `maxChars` and at the first zero character.
std::string toWireText(std::u16string_view text, size_t maxChars = kMaxWireText);

// A host text "name" or "name:port": the name for resolution (UTF-8, cut at
// the first colon) and the HTTP port, when a decimal number follows the
// colon.
struct HostSpec {
  std::string name;
  std::optional<int> httpPort;
};
HostSpec splitHostText(std::u16string_view hostText);

// The server's half: the framing of its messages and the reading of the
// viewer's command lines.

// The 12 header bytes for a time stamp and a length code.
std::array<uint8_t, kHeaderSize> formatHeader(double timestamp, int32_t lengthCode);

// The length code that announces a text of `length` bytes (below 0x100000).
inline int32_t textLengthCode(size_t length) {
  return static_cast<int32_t>(kMaxVideoLength + (length % kMaxVideoLength));
}

// The four lines of an INFO text, each ending in CR LF.
std::string formatInfoText(std::string_view cameraName, std::string_view serverTitle,
                           char permission);

struct ClientCommand {
  enum class Kind : uint8_t {
    Connect,      // "CONNECT n 1"
    Login,        // "nnn SetPass -n account password"
    Pause,        // "nnn PAUSE"
    Resume,       // "nnn RESUME"
    CameraWord,   // "nnn word", the first line of a camera command
    Credentials,  // "nnn ^account password", its second line
    Unknown,
  };
  Kind kind = Kind::Unknown;
  int channel = 0;   // 1 to 16
  std::string word;  // the camera command word
  std::string account;
  std::string password;
};

// Reads one command line without its line end (a CR before the LF is
// stripped by the caller). Anything that is not exactly one of the viewer's
// commands for a channel 1 to 16 is Unknown.
ClientCommand parseCommand(std::string_view line);

}  // namespace zenta::stream
