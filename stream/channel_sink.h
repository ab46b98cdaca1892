// What a program does with what a channel brings. The session's pump reads
// the messages and keeps the connection (reconnection, pauses, absent and
// silent channels); it calls the sink of the channel, on the channel's
// receive thread, for each message it has read whole.
#pragma once

#include <cstdint>
#include <span>

#include "stream/connection.h"
#include "stream/protocol.h"

namespace zenta::stream {

enum class LinkState {
  Opened,        // the channel was opened in a connect sequence (a new stream begins)
  Connected,     // a later connection was made and the login sent again
  Reconnecting,  // the connection failed; a new one follows
  Absent,        // the recorder closed the connection before any byte: no such channel
};

class ChannelSink {
 public:
  virtual ~ChannelSink() = default;
  // An INFO text. A channel that is not active afterwards is paused.
  virtual void onInfo(Connection& /*channel*/, const InfoText& /*info*/) {}
  // A picture's payload, whole, with the recorder's stamp. True when the
  // sink took a new picture from it (it decoded): only that counts as the
  // channel's progress and signal.
  virtual bool onPicture(Connection& channel, std::span<const uint8_t> payload, double stamp) = 0;
  virtual void onTick(Connection& /*channel*/, double /*stamp*/) {}
  virtual void onState(Connection& /*channel*/, LinkState /*state*/) {}
};

}  // namespace zenta::stream
