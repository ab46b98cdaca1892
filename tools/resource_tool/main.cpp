// Build-time tool that turns the editable sources of the viewer's
// resources into the device's binary formats:
//   bmp24 IN.png OUT.bmp        24-bit bitmap, no colour table (the skins)
//   bmp4 IN.png OUT.bmp         16 colours of the device's standard palette
//   bmp8grey IN.png OUT.bmp     256 greys
//   ico OUT.ico IN.png...       an icon with one 32-bit image per input
//   menubar IN.txt OUT.bin      a menu-bar resource from its text form
//   dialog IN.txt OUT.bin       a dialog template from its text form
#include <png.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // top-down rows
  const uint8_t* pixel(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

bool readPng(const std::string& path, Image& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    std::cerr << path << ": " << png.message << "\n";
    return false;
  }
  png.format = PNG_FORMAT_RGBA;
  image.width = int(png.width);
  image.height = int(png.height);
  image.rgba.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) {
    std::cerr << path << ": " << png.message << "\n";
    return false;
  }
  return true;
}

class Bytes {
 public:
  void u8(uint8_t v) { data.push_back(v); }
  void u16(uint16_t v) {
    u8(uint8_t(v));
    u8(uint8_t(v >> 8));
  }
  void u32(uint32_t v) {
    u16(uint16_t(v));
    u16(uint16_t(v >> 16));
  }
  void text(const std::u16string& s) {
    for (const char16_t c : s)
      u16(c);
    u16(0);
  }
  void align4() {
    while (data.size() % 4 != 0)
      u8(0);
  }
  std::vector<uint8_t> data;
};

bool writeFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  return bool(out);
}

// Colours over black, as the device shows them.
std::array<int, 3> opaque(const uint8_t* p) {
  return {p[0] * p[3] / 255, p[1] * p[3] / 255, p[2] * p[3] / 255};
}

void infoHeader(Bytes& b, int width, int height, int bits, uint32_t imageSize, uint32_t colours) {
  b.u32(40);
  b.u32(uint32_t(width));
  b.u32(uint32_t(height));
  b.u16(1);
  b.u16(uint16_t(bits));
  b.u32(0);  // BI_RGB
  b.u32(imageSize);
  b.u32(3780);
  b.u32(3780);
  b.u32(colours);
  b.u32(0);
}

// A bottom-up bitmap file of `bits` per pixel; `index` gives a pixel's
// palette entry for palettised formats.
template <typename Index>
std::vector<uint8_t> bitmapFile(const Image& image, int bits,
                                const std::vector<std::array<int, 3>>& palette, Index index) {
  const size_t stride = (size_t(image.width) * bits + 31) / 32 * 4;
  const auto imageSize = uint32_t(stride * image.height);
  const auto offset = uint32_t(54 + palette.size() * 4);
  Bytes b;
  b.u8('B');
  b.u8('M');
  b.u32(offset + imageSize);
  b.u32(0);
  b.u32(offset);
  infoHeader(b, image.width, image.height, bits, imageSize, uint32_t(palette.size()));
  for (const auto& c : palette) {
    b.u8(uint8_t(c[2]));
    b.u8(uint8_t(c[1]));
    b.u8(uint8_t(c[0]));
    b.u8(0);
  }
  for (int y = image.height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < image.width; ++x) {
      const auto c = opaque(image.pixel(x, y));
      if (bits == 24) {
        row[size_t(x) * 3] = uint8_t(c[2]);
        row[size_t(x) * 3 + 1] = uint8_t(c[1]);
        row[size_t(x) * 3 + 2] = uint8_t(c[0]);
      } else if (bits == 8) {
        row[size_t(x)] = uint8_t(index(c));
      } else {
        row[size_t(x) / 2] |= uint8_t(index(c) << (x % 2 == 0 ? 4 : 0));
      }
    }
    b.data.insert(b.data.end(), row.begin(), row.end());
  }
  return b.data;
}

const std::vector<std::array<int, 3>> kStandard16 = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

int nearest16(const std::array<int, 3>& c) {
  int best = 0, bestDistance = 1 << 30;
  for (size_t i = 0; i < kStandard16.size(); ++i) {
    int d = 0;
    for (int k = 0; k < 3; ++k)
      d += (c[k] - kStandard16[i][k]) * (c[k] - kStandard16[i][k]);
    if (d < bestDistance) {
      bestDistance = d;
      best = int(i);
    }
  }
  return best;
}

std::vector<uint8_t> iconFile(const std::vector<Image>& images) {
  Bytes head, body;
  head.u16(0);
  head.u16(1);
  head.u16(uint16_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (const Image& image : images) {
    Bytes dib;
    const size_t maskStride = (size_t(image.width) + 31) / 32 * 4;
    infoHeader(dib, image.width, image.height * 2, 32, 0, 0);
    for (int y = image.height - 1; y >= 0; --y) {
      for (int x = 0; x < image.width; ++x) {
        const uint8_t* p = image.pixel(x, y);
        dib.u8(p[2]);
        dib.u8(p[1]);
        dib.u8(p[0]);
        dib.u8(p[3]);
      }
    }
    for (int y = image.height - 1; y >= 0; --y) {
      std::vector<uint8_t> row(maskStride, 0);
      for (int x = 0; x < image.width; ++x) {
        if (image.pixel(x, y)[3] < 128) row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
      }
      dib.data.insert(dib.data.end(), row.begin(), row.end());
    }
    head.u8(uint8_t(image.width));
    head.u8(uint8_t(image.height));
    head.u8(0);
    head.u8(0);
    head.u16(1);
    head.u16(32);
    head.u32(uint32_t(dib.data.size()));
    head.u32(offset);
    offset += uint32_t(dib.data.size());
    body.data.insert(body.data.end(), dib.data.begin(), dib.data.end());
  }
  head.data.insert(head.data.end(), body.data.begin(), body.data.end());
  return head.data;
}

// Text forms: one record a line, "#" starts a comment, numbers in C
// notation, texts in double quotes.
std::vector<std::vector<std::string>> records(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> out;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    for (size_t i = 0; i < line.size();) {
      if (line[i] == ' ' || line[i] == '\t') {
        ++i;
      } else if (line[i] == '#') {
        break;
      } else if (line[i] == '"') {
        const size_t end = line.find('"', i + 1);
        fields.push_back(line.substr(i, end - i + 1));
        i = end == std::string::npos ? line.size() : end + 1;
      } else {
        const size_t end = line.find_first_of(" \t", i);
        fields.push_back(line.substr(i, end - i));
        i = end == std::string::npos ? line.size() : end;
      }
    }
    if (!fields.empty()) out.push_back(fields);
  }
  return out;
}

long number(const std::string& text) {
  return std::stol(text, nullptr, 0);
}

std::u16string quoted(const std::string& text) {
  std::u16string out;
  for (size_t i = 1; i + 1 < text.size(); ++i)
    out.push_back(char16_t(static_cast<unsigned char>(text[i])));
  return out;
}

// menu ID, then: button IMAGE COMMAND
std::vector<uint8_t> menuBar(const std::string& path) {
  const auto lines = records(path);
  Bytes b;
  uint16_t menu = 0;
  std::vector<std::pair<long, long>> buttons;
  for (const auto& f : lines) {
    if (f[0] == "menu" && f.size() == 2) menu = uint16_t(number(f[1]));
    if (f[0] == "button" && f.size() == 3) buttons.emplace_back(number(f[1]), number(f[2]));
  }
  b.u16(menu);
  b.u16(uint16_t(buttons.size()));
  for (const auto& [image, command] : buttons) {
    for (const long word : {image, command, 4L, 0L, 0L, 0L, 2L})
      b.u16(uint16_t(word));
  }
  return b.data;
}

// dialog STYLE EXSTYLE X Y CX CY "TITLE" POINTS "FONT"
// item CLASS ID STYLE X Y CX CY "TEXT"     (CLASS: BUTTON EDIT STATIC COMBOBOX)
std::vector<uint8_t> dialogTemplate(const std::string& path) {
  const auto lines = records(path);
  Bytes b, items;
  int count = 0;
  for (const auto& f : lines) {
    if (f[0] != "item" || f.size() != 9) continue;
    const uint16_t atom = f[1] == "BUTTON"     ? 0x80
                          : f[1] == "EDIT"     ? 0x81
                          : f[1] == "COMBOBOX" ? 0x85
                                               : 0x82;
    items.align4();
    items.u32(uint32_t(number(f[3])));
    items.u32(0);
    for (int k = 4; k < 8; ++k)
      items.u16(uint16_t(number(f[size_t(k)])));
    items.u16(uint16_t(number(f[2])));
    items.u16(0xFFFF);
    items.u16(atom);
    items.text(quoted(f[8]));
    items.u16(0);  // no creation data
    ++count;
  }
  for (const auto& f : lines) {
    if (f[0] != "dialog" || f.size() != 10) continue;
    b.u32(uint32_t(number(f[1])));
    b.u32(uint32_t(number(f[2])));
    b.u16(uint16_t(count));
    for (int k = 3; k < 7; ++k)
      b.u16(uint16_t(number(f[size_t(k)])));
    b.u16(0);  // no menu
    b.u16(0);  // the dialog class
    b.text(quoted(f[7]));
    b.u16(uint16_t(number(f[8])));
    b.text(quoted(f[9]));
  }
  // Items start on a 32-bit boundary of the whole template.
  b.align4();
  b.data.insert(b.data.end(), items.data.begin(), items.data.end());
  return b.data;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 3) {
    std::cerr << "usage: resource-tool bmp24|bmp4|bmp8grey IN.png OUT.bmp | ico OUT.ico IN.png... "
                 "| menubar|dialog IN.txt OUT.bin\n";
    return 2;
  }
  const std::string& kind = args[0];
  std::vector<uint8_t> out;
  std::string target = args[2];
  if (kind == "bmp24" || kind == "bmp4" || kind == "bmp8grey") {
    Image image;
    if (!readPng(args[1], image)) return 1;
    if (kind == "bmp24") {
      out = bitmapFile(image, 24, {}, [](const std::array<int, 3>&) { return 0; });
    } else if (kind == "bmp4") {
      out = bitmapFile(image, 4, kStandard16, nearest16);
    } else {
      std::vector<std::array<int, 3>> greys;
      for (int i = 0; i < 256; ++i)
        greys.push_back({i, i, i});
      out = bitmapFile(image, 8, greys, [](const std::array<int, 3>& c) {
        return (c[0] * 77 + c[1] * 150 + c[2] * 29 + 128) >> 8;
      });
    }
  } else if (kind == "ico") {
    target = args[1];
    std::vector<Image> images(args.size() - 2);
    for (size_t i = 2; i < args.size(); ++i) {
      if (!readPng(args[i], images[i - 2])) return 1;
    }
    out = iconFile(images);
  } else if (kind == "menubar") {
    out = menuBar(args[1]);
  } else if (kind == "dialog") {
    out = dialogTemplate(args[1]);
  } else {
    std::cerr << "resource-tool: unknown kind " << kind << "\n";
    return 2;
  }
  if (!writeFile(target, out)) {
    std::cerr << "resource-tool: cannot write " << target << "\n";
    return 1;
  }
  return 0;
}
