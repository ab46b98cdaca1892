#include "stream/report.h"

#include "stream/protocol.h"

namespace zenta::stream {

std::string_view stateName(ChannelState state) {
  switch (state) {
    case ChannelState::Connecting:
      return "connecting";
    case ChannelState::Live:
      return "live";
    case ChannelState::Paused:
      return "paused";
    case ChannelState::NoSignal:
      return "no_signal";
    case ChannelState::Refused:
      return "refused";
    case ChannelState::Absent:
      return "absent";
  }
  return "connecting";
}

std::string_view permissionName(char code) {
  if (permitsPtz(code)) return "ptz";
  if (grantsViewing(code)) return "view";
  return "none";
}

}  // namespace zenta::stream
