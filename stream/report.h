#pragma once
// The words programs report channels in (zenta-cli's --json, the bridge's
// API and page): one vocabulary for both, versioned as a whole so that
// scripts can tell a changed shape from a new field.

#include <string_view>

namespace zenta::stream {

// The version of the reports' shape; a field added keeps it, a field
// renamed, removed or given another meaning changes it.
inline constexpr int kReportSchema = 1;

// What a channel is doing, as far as a program can tell.
enum class ChannelState {
  Connecting,  // not (yet) answered
  Live,        // pictures coming
  Paused,      // answered, pictures not asked for
  NoSignal,    // asked for, none lately
  Refused,     // the login may not view it
  Absent,      // the recorder has no such channel
};

// The state's identifier: "connecting", "live", "paused", "no_signal",
// "refused", "absent".
std::string_view stateName(ChannelState state);

// A permission code's name: "ptz" (view and steer), "view", or "none".
std::string_view permissionName(char code);

}  // namespace zenta::stream
