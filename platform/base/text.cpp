#include "platform/base/text.h"

namespace zenta::platform {

namespace {
char16_t foldOne(char16_t c) {
  return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}
}  // namespace

std::u16string foldCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out)
    c = foldOne(c);
  return out;
}

// Character by character, as names are compared many times a call and a
// folded copy of each would be an allocation apiece.
bool equalFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldOne(a[i]) != foldOne(b[i])) return false;
  }
  return true;
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c < 0x80) {
      out.push_back(char(c));
      continue;
    }
    if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
    } else {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    }
    out.push_back(char(0x80 | (c & 0x3F)));
  }
  return out;
}

std::u16string fromUtf8(std::string_view text) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    char32_t c = *p;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    c &= extra == 3 ? 0x07 : extra == 2 ? 0x0F : extra == 1 ? 0x1F : 0x7F;
    ++p;
    for (; extra > 0 && p < end && (*p & 0xC0) == 0x80; --extra, ++p)
      c = (c << 6) | (*p & 0x3F);
    if (c < 0x10000) out.push_back(char16_t(c));
  }
  return out;
}

std::string toAscii(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text)
    out.push_back(c < 0x80 ? char(c) : '?');
  return out;
}

}  // namespace zenta::platform
