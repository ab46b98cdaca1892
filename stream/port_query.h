// The HTTP query with which the viewer learns the stream port: one GET of
// the object "ports" on the HTTP port given in the host text.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace zenta::stream {

// Sends "GET ports HTTP/1.0" (agent "WINCE", no proxy) to host:httpPort and
// parses up to 250 bytes of the reply body as two decimal integers, the
// second being the stream port. Nothing when the request fails, the body is
// empty or has no second number, or the whole query takes longer than
// `timeout`, or `cancelFd` becomes readable first. Host names with
// characters that are not allowed in a host name make no request.
std::optional<int> queryStreamPort(const std::string& host, int httpPort,
                                   std::chrono::milliseconds timeout, int cancelFd = -1);

}  // namespace zenta::stream
