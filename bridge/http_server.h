// The bridge's HTTP side: the channels as JSON, each channel's latest
// picture as a JPEG and as a multipart MJPEG stream, and camera commands.
//   GET  /api/channels        the sixteen channels (JSON, the reports' schema)
//   GET  /ch/N.jpg            a fresh picture of channel N
//   GET  /ch/N.mjpg           channel N live (multipart/x-mixed-replace)
//   POST /api/ch/N/ptz        body: one command word; 204, or 403 / 400
//   GET  /  and  /ws          the page and its one WebSocket
// One thread a client connection, at most kMaxClients at once, of which at
// most kMaxStreams stream (MJPEG, the page's WebSocket): the page and the
// API stay answerable whatever streaming clients do.
//
// Who may ask: only requests whose Host is this bridge's own name (the
// listen address, localhost, or a configured public origin's host), so a
// page of another site cannot reach it through DNS rebinding; and the
// WebSocket and camera commands only from the bridge's own origin, so a
// page of another site open in a browser here can neither watch nor steer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge/recorder.h"

namespace zenta::bridge {

struct HttpSettings {
  std::string address = "127.0.0.1";  // a numeric address
  uint16_t port = 8091;
  // A request must come whole within this of the connection being idle
  // (or opened); one that does not is closed.
  int idleSeconds = 10;
  // A client that takes nothing of an answer or a stream part for this
  // long is dropped.
  int sendTimeoutSeconds = 10;
  // When set ("user:password"), every request must carry it (HTTP Basic).
  std::string credentials;
  // The origins the bridge is reached at besides its own address, as
  // "scheme://host[:port]" (a reverse proxy's public address).
  std::vector<std::string> publicOrigins;
};

class HttpServer {
 public:
  static constexpr int kMaxClients = 64;
  static constexpr int kMaxStreams = 48;

  HttpServer(Recorder& recorder, HttpSettings settings);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and starts answering; false (with `error`) when the address
  // cannot be bound. The port actually bound (for port 0) is port().
  bool start(std::string& error);
  uint16_t port() const;
  // The RTSP server's port, for the channels' rtsp URLs in the API (none
  // until set).
  void setRtspPort(uint16_t port);
  // Stops taking clients, ends every client's connection and waits.
  void stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// "scheme://host[:port]" of a URL, lower case, without path or trailing
// slash; empty when it is not an http or https URL.
std::string originOf(std::string_view url);

}  // namespace zenta::bridge
