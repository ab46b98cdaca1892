#include "viewer/receive_loop.h"

namespace zenta::viewer {

void receiveLoop(stream::StreamSession& session, stream::ChannelView& channel) {
  if (!session.logIn(channel)) return;
  for (;;) {
    stream::MessageHeader header;
    const int read = session.readHeader(channel, header);
    if (read == 1) return;
    if (read == -1) continue;
    bool stored = false;
    if (session.readPayload(channel, header.payloadLength, stored) == 1) return;
  }
}

}  // namespace zenta::viewer
