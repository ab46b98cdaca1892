// The page the bridge serves at "/": every channel as a live tile.
#pragma once

namespace zenta::bridge {

extern const char kPageHtml[];

}  // namespace zenta::bridge
