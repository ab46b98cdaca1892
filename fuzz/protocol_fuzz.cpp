// Fuzz target: the readers of untrusted wire text, the server's command line
// reader and the viewer's readers of headers, INFO texts and port replies.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "stream/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zenta::stream;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const ClientCommand command = parseCommand(line);
    if (command.kind != ClientCommand::Kind::Unknown &&
        (command.channel < 1 || command.channel > kChannelCount))
      __builtin_trap();
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  }
  if (const auto info = parseInfo(data, size)) {
    if (info->cameraName[20] != '\0' || info->serverTitle[20] != '\0') __builtin_trap();
  }
  if (size >= kHeaderSize) {
    const MessageHeader header = parseHeader(data);
    if (header.kind == MessageKind::VideoFrame && header.payloadLength > kMaxVideoLength)
      __builtin_trap();
    if (header.kind == MessageKind::TextMessage && header.payloadLength >= kMaxVideoLength)
      __builtin_trap();
  }
  if (const auto port = parsePortReply(text)) {
    if (*port < 1 || *port > 65535) __builtin_trap();
  }
  return 0;
}
