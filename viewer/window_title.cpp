#include "viewer/window_title.h"

#include <string_view>

namespace zenta::viewer {

namespace {

// The text without its padding; control characters become blanks, as on
// the screen.
std::u16string trimmed(const std::array<char, 21>& text) {
  std::u16string out;
  for (size_t n = 0; n < 20 && text[n] != 0; ++n) {
    const auto u = static_cast<unsigned char>(text[n]);
    out.push_back(u < 0x20 || (u >= 0x7F && u <= 0x9F) ? u' ' : char16_t(u));
  }
  const size_t first = out.find_first_not_of(u' ');
  if (first == std::u16string::npos) return {};
  return out.substr(first, out.find_last_not_of(u' ') - first + 1);
}

}  // namespace

std::u16string windowTitle(const std::array<char, 21>& camera, const std::array<char, 21>& server,
                           bool fourPictures) {
  constexpr std::u16string_view kDash = u" \u2014 ";
  std::u16string title;
  for (const std::u16string& part :
       {fourPictures ? std::u16string() : trimmed(camera), trimmed(server)}) {
    if (part.empty()) continue;
    title += part;
    title += kDash;
  }
  return title + u"ZENTA";
}

}  // namespace zenta::viewer
