// What the camera server simulator serves: addresses and ports, accounts and
// their permission codes, and per channel the camera name, picture size,
// rate, bitrate, an optional video file and the faults it injects. Read from
// a configuration file and from the command line, in that order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zenta::sim {

inline constexpr int kChannels = 16;

enum class FaultKind : uint8_t {
  DropAfter,           // close the connection after N pictures
  DropRandom,          // after each picture, close with chance 1 in N
  StallAfter,          // after N pictures send nothing more, keep the connection open
  Refuse,              // close the Nth connection to the channel right after its request
  Oversize,            // pad picture N beyond the viewer's 158,976-byte buffer
  NegativeLength,      // announce every picture with a negative length code
  MinLength,           // send the length code -2,147,483,648 in place of picture N
  TextWithoutInfo,     // a text message without "INFO" in place of the INFO text
  InfoWithoutLineEnd,  // an INFO text that lacks its last line end before the code
  NotH263,             // random bytes in place of picture N
  TickThenClose,       // every connection: one time tick in place of the INFO text, then closed
  InfoThenClose,       // every connection: the INFO text, then closed
  UnsupportedMode,     // picture N's header announces arithmetic coding (H.263 sizes only)
  TinyPayload,         // after every picture, a message holding its first N bytes
  ClockStep,           // from the 30th picture of a connection on, stamps N seconds later
  Flood,               // a tick and a picture as fast as the client takes them (intra)
  IgnorePause,         // pause commands change nothing
  RefuseFrom,          // close every connection from the Nth on right after its request
  CutIn,               // picture N of each connection: its header and half its payload, then closed
};

struct Fault {
  FaultKind kind = FaultKind::DropAfter;
  int count = 1;
};

std::string_view faultName(FaultKind kind);

struct ChannelConfig {
  std::string cameraName;  // "Camera N" unless set
  int width = 320;
  int height = 240;
  int rate = 10;         // pictures per second
  int bitrate = 200000;  // bits per second
  int gop = 30;          // pictures from one intra picture to the next
  int gobPayload = 0;  // 0: no GOB headers; else the packet size that makes the encoder write them
  std::string file;    // a video file played in place of the synthetic scene
  std::vector<Fault> faults;
};

struct Account {
  std::string name;
  std::string password;
  std::string permissions;  // one code per channel, channel 1 first
};

struct Config {
  std::vector<std::string> listen{"127.0.0.1"};
  int streamPort = 18083;  // 0: any free port
  int httpPort = 8080;     // 0: any free port, -1: no HTTP port
  std::string title = "ZENTA Simulator";
  int channelCount = kChannels;  // channels 1 to channelCount are served
  bool guestAllowed = true;
  std::string guestPermissions = "1111000000000000";
  std::vector<Account> accounts;
  std::array<ChannelConfig, kChannels> channels;
  int maxClients = 64;
  std::string eventLog;  // a file, "-" for standard output, empty for none
  bool logPictures = true;
  uint64_t seed = 1;

  Config();
  // The permission code of an account (already authenticated) on a channel.
  char permission(const Account& account, int channel) const;
  // The account that these credentials log in to, or nothing.
  std::optional<Account> authenticate(std::string_view name, std::string_view password) const;
};

// Reads a configuration file into `config`; an error message on failure.
std::optional<std::string> loadConfigFile(const std::string& path, Config& config);

// Applies the command line (after the program name). A --config file is read
// first, whatever its position; later options override it. Returns an error
// message, or "help" when --help was asked for.
std::optional<std::string> parseCommandLine(int argc, const char* const* argv, Config& config);

// Checks the whole configuration (sizes the encoders take, ports, files).
std::optional<std::string> validate(const Config& config);

std::string usage();

// Whether a size is one of the H.263 standard picture formats.
bool isStandardSize(int width, int height);

}  // namespace zenta::sim
