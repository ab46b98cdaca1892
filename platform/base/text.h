// Text helpers of the device layer: the case folding by which the device
// compares names (classes, registry keys, list entries), and the
// conversions between its 16-bit text and the host's 8-bit text.
#pragma once

#include <string>
#include <string_view>

namespace zenta::platform {

// The text a pointer points at, or an empty text for none.
inline std::u16string textOrEmpty(const char16_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(text);
}

// A to Z folded to a to z; every other character as it is.
std::u16string foldCase(std::u16string_view text);
bool equalFolded(std::u16string_view a, std::u16string_view b);

// Each 16-bit character as UTF-8 (one to three bytes).
std::string toUtf8(std::u16string_view text);
// The characters of a UTF-8 text below U+10000, each as one 16-bit
// character; longer ones are left out.
std::u16string fromUtf8(std::string_view text);
// ASCII characters as they are, every other one as '?'.
std::string toAscii(std::u16string_view text);

}  // namespace zenta::platform
