// The socket calls the session makes: a TCP socket for a stream port and a
// connect bounded in time that can be given up.
#pragma once

#include <netinet/in.h>

#include <chrono>

namespace zenta::stream {

int newStreamSocket();
// Connects with a time limit, by a non-blocking connect. Gives up early when
// `wakeFd` becomes readable. The socket is blocking again afterwards.
bool connectWithin(int socket, const sockaddr_in& address, std::chrono::milliseconds limit,
                   int wakeFd);
sockaddr_in makeAddress(in_addr host, int port);

}  // namespace zenta::stream
