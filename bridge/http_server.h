// The bridge's HTTP side: the channels as JSON, each channel's latest
// picture as a JPEG and as a multipart MJPEG stream, and camera commands.
//   GET  /api/channels        the sixteen channels (JSON)
//   GET  /ch/N.jpg            channel N's latest picture
//   GET  /ch/N.mjpg           channel N live (multipart/x-mixed-replace)
//   POST /api/ch/N/ptz        body: one command word; 204, or 403 / 400
// One thread a client connection, at most kMaxClients at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bridge/recorder.h"

namespace zenta::bridge {

struct HttpSettings {
  std::string address = "127.0.0.1";
  uint16_t port = 8091;
  // A client that takes nothing for this long is dropped.
  int sendTimeoutSeconds = 10;
  // When set ("user:password"), every request must carry it (HTTP Basic).
  std::string credentials;
};

class HttpServer {
 public:
  static constexpr int kMaxClients = 64;

  HttpServer(Recorder& recorder, HttpSettings settings);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and starts answering; false (with `error`) when the address
  // cannot be bound. The port actually bound (for port 0) is port().
  bool start(std::string& error);
  uint16_t port() const;
  // Stops taking clients, ends every client's connection and waits.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zenta::bridge
