// One channel's connection to a recorder as the session keeps it: the
// socket, what the reconnection rules remember of it, the receive buffer,
// and what the recorder said of the channel. Nothing of how a program shows
// or passes on what arrives: that is the sink's.
//
// The channel's receive thread and other threads work on it at once: flags
// that cross threads are atomics, and the socket is replaced or closed only
// under `lock`, so a sender that holds the lock never writes to a socket
// being replaced.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace zenta::stream {

inline constexpr int kNoConnection = -1;
inline constexpr size_t kReceiveBufferSize = 158976;  // one 368 x 288 picture in 4:2:0 planes

// The steady clock in milliseconds, as Connection::lastPictureMs keeps it.
inline int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Connection {
  Connection();

  int32_t number = 0;  // 1 to 16, as on the wire
  // The channel's socket, or kNoConnection.
  std::atomic<int> socket{kNoConnection};
  // The channel streams to the program (resumed); a paused one is not.
  std::atomic<bool> active{false};
  // A connection to the recorder is made: false from the moment one fails
  // until the next is made.
  std::atomic<bool> linked{false};
  // A text message (the INFO text) arrived since the channel was opened.
  std::atomic<bool> answered{false};
  // The recorder closed the channel's connections before any byte: it has
  // no such channel. Tried again now and then; cleared by a text.
  std::atomic<bool> absent{false};
  // When the sink last took a picture of the channel, or the channel was
  // last resumed (steady milliseconds): how long it has brought nothing new.
  std::atomic<int64_t> lastPictureMs{0};

  // Guards `socket` changes and every send on the channel.
  std::mutex lock;
  std::thread receiveThread;
  std::unique_ptr<uint8_t[]> receiveBuffer;  // kReceiveBufferSize bytes

  // The receive thread's own: what it knows of the connection it reads.
  struct Bookkeeping {
    bool established = false;  // the connection was made
    std::chrono::steady_clock::time_point connectedAt{};
    std::chrono::steady_clock::time_point lastReceived{};
    bool textOnConnection = false;
    bool pictureTaken = false;  // the sink took a picture that came on it
    // Connections in a row that brought no progress, and that the server
    // closed before sending a byte.
    uint32_t fruitless = 0;
    uint32_t closedWithoutByte = 0;
  } book;
};

}  // namespace zenta::stream
