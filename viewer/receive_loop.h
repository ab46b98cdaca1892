// The body of a channel's receive thread: it logs the channel in, then reads
// the server's messages until the session closes the channel.
#pragma once

#include "stream/session.h"

namespace zenta::viewer {

void receiveLoop(stream::StreamSession& session, stream::ChannelView& channel);

}  // namespace zenta::viewer
