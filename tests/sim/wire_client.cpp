#include "tests/sim/wire_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

extern char** environ;

namespace zenta::testing {

WireClient::~WireClient() {
  close();
}

bool WireClient::connect(int port, int receiveBuffer) {
  close();
  closed_ = false;
  buffer_.clear();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (receiveBuffer > 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool WireClient::send(std::string_view bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool WireClient::logIn(int channel, std::string_view account, std::string_view password) {
  char line[160];
  std::snprintf(line, sizeof line, "%03d SetPass -%d %.*s %.*s\r\n", channel, channel,
                static_cast<int>(account.size()), account.data(), static_cast<int>(password.size()),
                password.data());
  return send("CONNECT " + std::to_string(channel) + " 1\r\n" + line + line + line);
}

void WireClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WireClient::fill(size_t count, SteadyClock::time_point deadline) {
  while (buffer_.size() < count) {
    if (closed_ || fd_ < 0) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return false;
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    uint8_t chunk[65536];
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.insert(buffer_.end(), chunk, chunk + got);
  }
  return true;
}

std::optional<WireMessage> WireClient::read(std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  if (!fill(12, deadline)) return std::nullopt;
  WireMessage message;
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = bits << 8 | buffer_[static_cast<size_t>(i)];
  std::memcpy(&message.stamp, &bits, sizeof bits);
  const uint32_t raw = uint32_t{buffer_[8]} | uint32_t{buffer_[9]} << 8 |
                       uint32_t{buffer_[10]} << 16 | uint32_t{buffer_[11]} << 24;
  message.code = static_cast<int32_t>(raw);
  size_t length = 0;
  if (raw == 0x80000000u) {
    message.kind = WireMessage::Kind::Broken;
  } else {
    const uint32_t magnitude = message.code < 0 ? 0u - raw : raw;
    if (magnitude == 0) {
      message.kind = WireMessage::Kind::Tick;
    } else if (magnitude <= 0x100000) {
      message.kind = WireMessage::Kind::Video;
      length = magnitude;
    } else {
      message.kind = WireMessage::Kind::Text;
      length = magnitude & 0xFFFFF;
    }
  }
  if (!fill(12 + length, deadline)) return std::nullopt;
  message.payload.assign(buffer_.begin() + 12, buffer_.begin() + 12 + static_cast<long>(length));
  buffer_.erase(buffer_.begin(), buffer_.begin() + 12 + static_cast<long>(length));
  message.arrived = SteadyClock::now();
  return message;
}

std::optional<WireMessage> WireClient::next(WireMessage::Kind kind,
                                            std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return std::nullopt;
    auto message = read(left);
    if (!message) return std::nullopt;
    if (message->kind == kind) return message;
  }
}

std::vector<WireMessage> WireClient::collect(std::chrono::milliseconds span) {
  std::vector<WireMessage> messages;
  const auto deadline = SteadyClock::now() + span;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) break;
    auto message = read(left);
    if (!message) break;
    messages.push_back(std::move(*message));
  }
  return messages;
}

std::string WireClient::readAll(std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  while (fill(buffer_.size() + 1, deadline)) {
  }
  std::string bytes(buffer_.begin(), buffer_.end());
  buffer_.clear();
  return bytes;
}

namespace {

int bitsAt(const std::vector<uint8_t>& data, size_t position, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    const size_t bit = position + static_cast<size_t>(i);
    const int b = bit / 8 < data.size() ? (data[bit / 8] >> (7 - bit % 8)) & 1 : 0;
    value = value << 1 | b;
  }
  return value;
}

}  // namespace

bool startsWithPictureStart(const std::vector<uint8_t>& payload) {
  return payload.size() >= 3 && bitsAt(payload, 0, 22) == 0x20;
}

int sourceFormat(const std::vector<uint8_t>& payload) {
  // PSC (22 bits), TR (8), then PTYPE: "1", "0", three flags, the format.
  return bitsAt(payload, 35, 3);
}

bool intraPicture(const std::vector<uint8_t>& payload) {
  if (sourceFormat(payload) != 7) return bitsAt(payload, 38, 1) == 0;
  // PLUSPTYPE: UFEP (3 bits), the 18-bit OPPTYPE when UFEP is 1, then the
  // picture type (3 bits, 0 for intra).
  const int ufep = bitsAt(payload, 38, 3);
  return bitsAt(payload, ufep == 1 ? 59 : 41, 3) == 0;
}

int gobHeaderCount(const std::vector<uint8_t>& payload) {
  // A group start code: 16 zeros and a one, then a group number 1 to 30.
  int count = 0;
  for (size_t bit = 1; bit + 22 <= payload.size() * 8; ++bit) {
    if (bitsAt(payload, bit, 17) != 1) continue;
    const int group = bitsAt(payload, bit + 17, 5);
    if (group >= 1 && group <= 30) ++count;
    bit += 16;
  }
  return count;
}

PictureMeans means(const YuvPicture& picture, int skipRows) {
  PictureMeans result;
  double y = 0, cb = 0, cr = 0;
  size_t lumaCount = 0, chromaCount = 0;
  for (int row = skipRows; row < picture.height; ++row)
    for (int x = 0; x < picture.width; ++x, ++lumaCount)
      y += picture.y[static_cast<size_t>(row * picture.width + x)];
  const int cw = picture.width / 2;
  for (int row = skipRows / 2; row < picture.height / 2; ++row)
    for (int x = 0; x < cw; ++x, ++chromaCount) {
      cb += picture.cb[static_cast<size_t>(row * cw + x)];
      cr += picture.cr[static_cast<size_t>(row * cw + x)];
    }
  if (lumaCount > 0) result.y = y / static_cast<double>(lumaCount);
  if (chromaCount > 0) {
    result.cb = cb / static_cast<double>(chromaCount);
    result.cr = cr / static_cast<double>(chromaCount);
  }
  return result;
}

double localDaysNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const year_month_day date{year{local.tm_year + 1900},
                            month{static_cast<unsigned>(local.tm_mon + 1)},
                            day{static_cast<unsigned>(local.tm_mday)}};
  const auto days = (sys_days{date} - sys_days{year{1899} / December / 30}).count();
  const double secondsOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<double>(days) + secondsOfDay / 86400.0;
}

SimProcess::SimProcess(std::vector<std::string> arguments) {
  char pattern[] = "/tmp/zenta-camsim-log-XXXXXX";
  const int fd = ::mkstemp(pattern);
  if (fd < 0) return;
  ::close(fd);
  logPath_ = pattern;
  arguments.insert(arguments.begin(), {ZENTA_CAMSIM, "--stream-port", "0", "--http-port", "0",
                                       "--event-log", logPath_});
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, ZENTA_CAMSIM, nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    return;
  }
  // A loaded machine and a sanitizer's start-up can take seconds.
  if (!waitForEvent("listening", {}, 30s)) return;
  const auto line = events("listening").front();
  streamPort_ = static_cast<int>(eventNumber(line, "stream_port").value_or(0));
  httpPort_ = static_cast<int>(eventNumber(line, "http_port").value_or(0));
}

SimProcess::~SimProcess() {
  // A clean stop, so that a sanitizer's report at exit shows as a failure.
  if (pid_ > 0) {
    const int status = stop(SIGTERM, 10s);
    if (status != 0) ADD_FAILURE() << "the simulator ended with status " << status;
  }
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (!logPath_.empty()) ::unlink(logPath_.c_str());
}

std::vector<std::string> SimProcess::events(std::string_view name,
                                            const std::vector<std::string>& fragments) const {
  std::vector<std::string> found;
  std::ifstream file(logPath_);
  const std::string tag = "\"event\":\"" + std::string(name) + "\"";
  std::string line;
  while (std::getline(file, line)) {
    if (line.find(tag) == std::string::npos) continue;
    bool all = true;
    for (const std::string& fragment : fragments)
      all = all && line.find(fragment) != std::string::npos;
    if (all) found.push_back(line);
  }
  return found;
}

bool SimProcess::waitForEvent(std::string_view name, const std::vector<std::string>& fragments,
                              std::chrono::milliseconds limit) const {
  const auto deadline = SteadyClock::now() + limit;
  while (SteadyClock::now() < deadline) {
    if (!events(name, fragments).empty()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

int SimProcess::stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  const auto deadline = SteadyClock::now() + limit;
  while (SteadyClock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

int SimProcess::runToEnd(const std::vector<std::string>& arguments, std::string* output) {
  std::string command = ZENTA_CAMSIM;
  for (const std::string& argument : arguments)
    command += " '" + argument + "'";
  command += " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[1024];
  std::string text;
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    text.append(buffer, got);
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<double> eventNumber(const std::string& line, std::string_view key) {
  const std::string tag = "\"" + std::string(key) + "\":";
  const size_t at = line.find(tag);
  if (at == std::string::npos) return std::nullopt;
  return std::strtod(line.c_str() + at + tag.size(), nullptr);
}

}  // namespace zenta::testing
