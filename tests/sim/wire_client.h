// A client of the camera server, written from the wire description alone:
// it sends the viewer's command lines and reads framed server messages.
// And the simulator as a process: started on free ports with an event log,
// stopped by a signal.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/reference_h263.h"

namespace zenta::testing {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

struct WireMessage {
  enum class Kind { Tick, Video, Text, Broken };
  Kind kind = Kind::Tick;
  double stamp = 0;
  int32_t code = 0;
  std::vector<uint8_t> payload;
  SteadyClock::time_point arrived;

  std::string text() const { return std::string(payload.begin(), payload.end()); }
};

class WireClient {
 public:
  WireClient() = default;
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  // receiveBuffer: SO_RCVBUF before connecting, 0 for the system's default.
  bool connect(int port, int receiveBuffer = 0);
  bool send(std::string_view bytes);
  // The channel request and the login three times, as the viewer sends them.
  bool logIn(int channel, std::string_view account = "guest", std::string_view password = "mirel");
  // The next message; nothing on time-out or when the server closed.
  std::optional<WireMessage> read(std::chrono::milliseconds limit = 3s);
  // The next message of one kind, skipping others.
  std::optional<WireMessage> next(WireMessage::Kind kind, std::chrono::milliseconds limit = 3s);
  // Every message that arrives within `span`.
  std::vector<WireMessage> collect(std::chrono::milliseconds span);
  // Raw bytes until the server closes or the limit passes.
  std::string readAll(std::chrono::milliseconds limit);
  bool closedByServer() const { return closed_; }
  void close();

 private:
  bool fill(size_t count, SteadyClock::time_point deadline);
  int fd_ = -1;
  bool closed_ = false;
  std::vector<uint8_t> buffer_;
};

// Whether a payload starts with the H.263 picture start code.
bool startsWithPictureStart(const std::vector<uint8_t>& payload);
// The source format field of a picture header (1 to 5 standard, 7 extended).
int sourceFormat(const std::vector<uint8_t>& payload);
// Whether the picture header codes an intra picture.
bool intraPicture(const std::vector<uint8_t>& payload);
// GOB headers in a coded picture (group start codes with a group number).
int gobHeaderCount(const std::vector<uint8_t>& payload);

struct PictureMeans {
  double y = 0, cb = 0, cr = 0;
};
// Means of a picture's planes below its top `skipRows` rows.
PictureMeans means(const YuvPicture& picture, int skipRows = 0);

// The local time now as days since 1899-12-30.
double localDaysNow();

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> arguments);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool ok() const { return streamPort_ > 0; }
  int pid() const { return pid_; }
  int streamPort() const { return streamPort_; }
  int httpPort() const { return httpPort_; }
  // Lines of the event log whose event is `name` and which hold every one
  // of `fragments` (e.g. "\"channel\":3").
  std::vector<std::string> events(std::string_view name,
                                  const std::vector<std::string>& fragments = {}) const;
  bool waitForEvent(std::string_view name, const std::vector<std::string>& fragments = {},
                    std::chrono::milliseconds limit = 5s) const;
  // Sends `signal` and waits for the exit status; -1 when it does not end.
  int stop(int signal, std::chrono::milliseconds limit = 5s);
  // Runs the simulator to its end with `arguments` (for bad command lines).
  static int runToEnd(const std::vector<std::string>& arguments, std::string* output = nullptr);

 private:
  int pid_ = -1;
  int streamPort_ = 0;
  int httpPort_ = 0;
  std::string logPath_;
};

// A number out of a log line: "\"key\":123".
std::optional<double> eventNumber(const std::string& line, std::string_view key);

}  // namespace zenta::testing
