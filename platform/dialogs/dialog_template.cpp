#include "platform/dialogs/dialog_template.h"
#include "platform/dialogs/dialogs_api.h"

#include <cstring>

namespace zenta::platform {

namespace {

// Reads a template within a bounded length; every read is checked.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  template <typename T>
  T read() {
    T v{};
    if (at_ + sizeof v > size_) {
      ok_ = false;
      return v;
    }
    std::memcpy(&v, data_ + at_, sizeof v);
    at_ += sizeof v;
    return v;
  }
  // A string, or an ordinal (0xFFFF then a word), or nothing (0x0000).
  std::u16string nameOrOrdinal(WORD& ordinal) {
    ordinal = 0;
    const WORD first = read<WORD>();
    if (first == 0xFFFF) {
      ordinal = read<WORD>();
      return {};
    }
    std::u16string out;
    for (WORD c = first; ok_ && c != 0; c = read<WORD>())
      out.push_back(char16_t(c));
    return out;
  }
  std::u16string text() {
    std::u16string out;
    for (WORD c = read<WORD>(); ok_ && c != 0; c = read<WORD>())
      out.push_back(char16_t(c));
    return out;
  }
  void alignToDword() { at_ = (at_ + 3) & ~size_t(3); }
  void skip(size_t bytes) {
    if (at_ + bytes > size_) ok_ = false;
    at_ += bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

bool parseDialogTemplate(const uint8_t* data, size_t size, ParsedTemplate& out) {
  if (data == nullptr) return false;
  TemplateReader r(data, size);
  out.style = r.read<DWORD>();
  out.exStyle = r.read<DWORD>();
  const WORD count = r.read<WORD>();
  out.x = r.read<short>();
  out.y = r.read<short>();
  out.cx = r.read<short>();
  out.cy = r.read<short>();
  WORD ordinal = 0;
  r.nameOrOrdinal(ordinal);  // menu: none on the device's dialogs
  r.nameOrOrdinal(ordinal);  // class: the dialog class
  out.title = r.text();
  if (out.style & DS_SETFONT) {
    out.pointSize = r.read<WORD>();
    out.fontName = r.text();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.alignToDword();
    ItemTemplate item;
    item.style = r.read<DWORD>();
    item.exStyle = r.read<DWORD>();
    item.x = r.read<short>();
    item.y = r.read<short>();
    item.cx = r.read<short>();
    item.cy = r.read<short>();
    item.id = r.read<WORD>();
    item.className = r.nameOrOrdinal(ordinal);
    if (ordinal != 0) {
      switch (ordinal) {
        case 0x0080:
          item.className = u"BUTTON";
          break;
        case 0x0081:
          item.className = u"EDIT";
          break;
        case 0x0082:
          item.className = u"STATIC";
          break;
        case 0x0085:
          item.className = u"COMBOBOX";
          break;
        default:
          item.className = u"STATIC";
          break;
      }
    }
    item.text = r.nameOrOrdinal(ordinal);
    r.skip(r.read<WORD>());  // creation data
    out.items.push_back(item);
  }
  return r.ok();
}

}  // namespace zenta::platform
