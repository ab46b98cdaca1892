// Numbers of the viewer's resources and menu commands, shared by the
// resource manifest and the code.
#pragma once

namespace zenta::resources {

inline constexpr int kIcon = 103;
inline constexpr int kHostDialog = 107;
inline constexpr int kMenuBar = 134;
inline constexpr int kMenuBarImages = 137;
inline constexpr int kMenuBarImageCount = 5;
inline constexpr const char16_t* kPtzBitmap = u"PTZ";

// The "Select Host" dialog's controls.
inline constexpr int kHostList = 1042;
inline constexpr int kAccountField = 1081;
inline constexpr int kPasswordField = 1082;
inline constexpr int kGuestBox = 1035;
inline constexpr int kDeleteButton = 1084;

inline constexpr int kCommandQuit = 40004;
inline constexpr int kCommandFullScreen = 40011;
inline constexpr int kCommandPtz = 40012;
inline constexpr int kCommandHosts = 40018;
inline constexpr int kCommandSnapshot = 40024;

}  // namespace zenta::resources
