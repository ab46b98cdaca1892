#include "platform/resources/resources.h"

#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "platform/gdi/gdi_api.h"
#include "platform/resources/resources_api.h"

namespace zenta::platform {

namespace {

struct Resource {
  const uint8_t* data;
  size_t size;
};

struct Key {
  uint16_t type;
  uint16_t id;
  std::u16string name;
  bool operator<(const Key& o) const {
    return std::tie(type, id, name) < std::tie(o.type, o.id, o.name);
  }
};

std::mutex& lock() {
  static std::mutex m;
  return m;
}

std::map<Key, Resource>& table() {
  static std::map<Key, Resource> t;
  return t;
}

std::u16string upper(std::u16string text) {
  for (auto& c : text) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  }
  return text;
}

Key keyOf(LPCWSTR type, LPCWSTR name) {
  Key key{IS_INTRESOURCE(type) ? uint16_t(reinterpret_cast<uintptr_t>(type)) : uint16_t(0), 0, {}};
  if (IS_INTRESOURCE(name)) {
    key.id = uint16_t(reinterpret_cast<uintptr_t>(name));
  } else if (name != nullptr) {
    key.name = upper(name);
  }
  return key;
}

template <typename T>
T read(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A bitmap in DIB layout (info header, colour table, rows) as a 24-bit DIB
// section. Nothing outside `size` bytes is read.
HBITMAP dibToBitmap(const uint8_t* dib, size_t size) {
  if (size < 40) return nullptr;
  const uint32_t headerSize = read<uint32_t>(dib);
  const int32_t width = read<int32_t>(dib + 4), rawHeight = read<int32_t>(dib + 8);
  const uint16_t bits = read<uint16_t>(dib + 14);
  const uint32_t compression = read<uint32_t>(dib + 16);
  uint32_t colours = read<uint32_t>(dib + 32);
  if (headerSize < 40 || headerSize > size || width <= 0 || width > 4096 || rawHeight == 0 ||
      rawHeight > 4096 || rawHeight < -4096 ||
      (compression != BI_RGB && compression != BI_BITFIELDS)) {
    return nullptr;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  const bool topDown = rawHeight < 0;
  const int height = topDown ? -rawHeight : rawHeight;
  if (bits <= 8 && colours == 0) colours = 1u << bits;
  if (bits > 8) colours = compression == BI_BITFIELDS ? 3 : 0;
  const size_t table = headerSize + size_t(colours) * 4;
  const size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
  if (table > size || stride * size_t(height) > size - table) return nullptr;
  const uint8_t* palette = dib + headerSize;
  const uint8_t* pixels = dib + table;

  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{40, width, height, 1, 24, BI_RGB, 0, 3780, 3780, 0, 0};
  void* out = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &out, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  const size_t outStride = ((size_t(width) * 24 + 31) / 32) * 4;
  for (int y = 0; y < height; ++y) {
    // Both bottom-up in memory unless the resource is top-down.
    const uint8_t* row = pixels + stride * size_t(topDown ? height - 1 - y : y);
    uint8_t* dst = static_cast<uint8_t*>(out) + outStride * size_t(y);
    for (int x = 0; x < width; ++x, dst += 3) {
      uint8_t b = 0, g = 0, r = 0;
      if (bits <= 8) {
        const int perByte = 8 / bits;
        const unsigned index =
            (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
        if (index < colours) {
          b = palette[4 * index];
          g = palette[4 * index + 1];
          r = palette[4 * index + 2];
        }
      } else if (bits == 16) {
        const uint16_t v = read<uint16_t>(row + 2 * x);
        if (compression == BI_BITFIELDS) {  // 5-6-5
          r = uint8_t(((v >> 11) & 31) << 3);
          g = uint8_t(((v >> 5) & 63) << 2);
          b = uint8_t((v & 31) << 3);
        } else {  // 5-5-5
          r = uint8_t(((v >> 10) & 31) << 3);
          g = uint8_t(((v >> 5) & 31) << 3);
          b = uint8_t((v & 31) << 3);
        }
      } else {
        const int step = bits / 8;
        b = row[step * x];
        g = row[step * x + 1];
        r = row[step * x + 2];
      }
      dst[0] = b;
      dst[1] = g;
      dst[2] = r;
    }
  }
  return bitmap;
}

struct IconObject {
  HBITMAP bitmap;
};

std::mutex iconLock;
std::map<uintptr_t, IconObject>& icons() {
  static std::map<uintptr_t, IconObject> m;
  return m;
}

}  // namespace

void registerResource(uint16_t type, uint16_t id, const std::u16string& name, const uint8_t* data,
                      size_t size) {
  std::lock_guard guard(lock());
  table()[Key{type, name.empty() ? id : uint16_t(0), upper(name)}] = Resource{data, size};
}

std::optional<size_t> resourceBytesFrom(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  std::lock_guard guard(lock());
  for (const auto& [key, resource] : table()) {
    if (p >= resource.data && p < resource.data + resource.size)
      return size_t(resource.data + resource.size - p);
  }
  return std::nullopt;
}

}  // namespace zenta::platform

using namespace zenta::platform;

HRSRC FindResourceW(HMODULE, LPCWSTR name, LPCWSTR type) {
  if (name == nullptr || type == nullptr || !IS_INTRESOURCE(type)) return nullptr;
  std::lock_guard guard(lock());
  const auto it = table().find(keyOf(type, name));
  return it == table().end() ? nullptr
                             : reinterpret_cast<HRSRC>(const_cast<Resource*>(&it->second));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  return reinterpret_cast<HGLOBAL>(resource);
}

LPVOID LockResource(HGLOBAL data) {
  return data == nullptr ? nullptr : const_cast<uint8_t*>(reinterpret_cast<Resource*>(data)->data);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource == nullptr ? 0 : DWORD(reinterpret_cast<Resource*>(resource)->size);
}

HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
  const HRSRC found = FindResourceW(instance, name, RT_BITMAP);
  if (found == nullptr) return nullptr;
  const auto* r = reinterpret_cast<Resource*>(found);
  return dibToBitmap(r->data, r->size);
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height, UINT) {
  if (type == IMAGE_BITMAP) return LoadBitmapW(instance, name);
  if (type != IMAGE_ICON) return nullptr;
  const HRSRC found = FindResourceW(instance, name, RT_ICON);
  if (found == nullptr) return nullptr;
  const auto* r = reinterpret_cast<Resource*>(found);
  // An .ico file: a directory of images, each a DIB of twice its height
  // (colour rows, then the mask).
  if (r->size < 6 || read<uint16_t>(r->data + 2) != 1) return nullptr;
  const uint16_t count = read<uint16_t>(r->data + 4);
  if (r->size < 6 + size_t(count) * 16) return nullptr;
  int best = -1;
  for (int i = 0; i < count; ++i) {
    const uint8_t* entry = r->data + 6 + 16 * i;
    const int w = entry[0] == 0 ? 256 : entry[0], h = entry[1] == 0 ? 256 : entry[1];
    if (best < 0 || (w == width && h == height)) best = i;
    if (w == width && h == height) break;
  }
  if (best < 0) return nullptr;
  const uint8_t* entry = r->data + 6 + 16 * best;
  const uint32_t bytes = read<uint32_t>(entry + 8), offset = read<uint32_t>(entry + 12);
  if (offset > r->size || bytes > r->size - offset || bytes < 40) return nullptr;
  std::vector<uint8_t> dib(r->data + offset, r->data + offset + bytes);
  const int32_t doubled = read<int32_t>(dib.data() + 8);
  const int32_t half = doubled / 2;
  std::memcpy(dib.data() + 8, &half, 4);  // the colour rows only
  const HBITMAP bitmap = dibToBitmap(dib.data(), dib.size());
  if (bitmap == nullptr) return nullptr;
  std::lock_guard guard(iconLock);
  static uintptr_t next = 0x600000;
  next += 4;
  icons()[next] = IconObject{bitmap};
  return reinterpret_cast<HICON>(next);
}

BOOL DestroyIcon(HICON icon) {
  std::lock_guard guard(iconLock);
  const auto it = icons().find(reinterpret_cast<uintptr_t>(icon));
  if (it == icons().end()) return FALSE;
  DeleteObject(it->second.bitmap);
  icons().erase(it);
  return TRUE;
}
