// The bridge's RTSP side, on GStreamer's RTSP server: rtsp://ADDRESS:PORT/ch/N
// for each channel, the recorder's H.263 pictures passed through unchanged
// in RTP (H263-1998 payload, which carries baseline and H.263+ alike), timed
// by the recorder's message stamps. Each client gets a pipeline of its own
// that starts with the pictures since the last intra one, so its first
// decoded picture is whole; the recorder keeps one connection a channel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bridge/recorder.h"

namespace zenta::bridge {

struct RtspSettings {
  std::string address = "127.0.0.1";
  uint16_t port = 8554;
  // When set ("user:password"), every request must carry it (RTSP Basic).
  std::string credentials;
};

class RtspServer {
 public:
  RtspServer(Recorder& recorder, RtspSettings settings);
  ~RtspServer();
  RtspServer(const RtspServer&) = delete;
  RtspServer& operator=(const RtspServer&) = delete;

  // Binds and starts serving on a thread of its own; false (with `error`)
  // when the port cannot be served.
  bool start(std::string& error);
  uint16_t port() const;
  void stop();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zenta::bridge
