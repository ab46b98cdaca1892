// The picture header, the macroblock layer and the reconstruction of one
// macroblock into the current frame.
#include <algorithm>
#include <cstring>

#include "video/h263/context.h"
#include "video/h263/kernels.h"
#include "video/h263/tables.h"

namespace zenta::video {

namespace {

constexpr int kInter = 0, kInterQ = 1, kIntra = 3, kIntraQ = 4;

struct Size {
  int width, height;
};
constexpr Size kSourceFormats[8] = {{0, 0},     {128, 96},    {176, 144}, {352, 288},
                                    {704, 576}, {1408, 1152}, {0, 0},     {0, 0}};

int extendedHeader(H263Decoder& d, BitReader& r) {
  const uint32_t ufep = r.read(3);
  if (ufep > 1) return -1;
  uint32_t format = 0;
  if (ufep == 1) {
    format = r.read(3);
    if (format == 0 || format == 7) return -1;
    d.customClock = static_cast<int32_t>(r.read(1));
    d.unrestrictedMv = static_cast<int32_t>(r.read(1));
    if (d.unrestrictedMv != 0) return -1;
    // Arithmetic coding, advanced prediction, advanced intra coding,
    // deblocking, slice structure, reference picture selection, independent
    // segments, alternative inter VLC and modified quantisation change the
    // syntax or the reconstruction: pictures using them are not decoded.
    if (r.read(9) != 0) return -1;
    r.skip(4);  // fixed bits
  } else if (d.extendedFormat == 0) {
    return -1;  // no earlier extended header has given the options
  }
  const uint32_t type = r.read(3);
  if (type > 1) return -1;
  d.pictureType = static_cast<int32_t>(type + 1);
  // Reference picture resampling and reduced-resolution update: not decoded.
  if (r.read(2) != 0) return -1;
  d.rounding = static_cast<int32_t>(r.read(1));
  r.skip(3);                   // fixed bits
  if (r.readBit()) return -1;  // continuous presence multipoint
  if (ufep == 1) {
    int width = kSourceFormats[format].width;
    int height = kSourceFormats[format].height;
    if (format == 6) {
      const uint32_t aspect = r.read(4);
      width = static_cast<int>(r.read(9) + 1) * 4;
      r.skip(1);
      height = static_cast<int>(r.read(9)) * 4;
      if (aspect == 15) r.skip(16);  // extended pixel aspect ratio
    }
    if (width == 0 || height == 0) return -1;
    d.width = width;
    d.height = height;
    d.extendedFormat = 1;
    if (d.customClock != 0) r.skip(8);  // custom picture clock frequency code
  }
  if (d.customClock != 0) r.skip(2);  // extended temporal reference
  return 0;
}

int parsePictureFields(H263Decoder& d) {
  BitReader& r = d.bits;
  if (r.peek(22) != 0x20) return -1;
  r.skip(22);
  r.skip(8);  // temporal reference
  if (r.read(2) != 0b10) return -1;
  r.skip(3);  // split screen, document camera, freeze picture release
  const uint32_t format = r.read(3);
  if (format == 0) return -1;
  if (format >= 6) {
    if (extendedHeader(d, r) != 0) return -1;
  } else {
    d.width = kSourceFormats[format].width;
    d.height = kSourceFormats[format].height;
    d.pictureType = static_cast<int32_t>(r.read(1) + 1);
    d.unrestrictedMv = static_cast<int32_t>(r.read(1));
    // Unrestricted vectors, arithmetic coding, advanced prediction, PB-frames.
    if (d.unrestrictedMv != 0 || r.read(3) != 0) return -1;
    d.rounding = 0;
  }
  const auto quant = static_cast<int32_t>(r.read(5));
  if (quant == 0) return -1;
  d.qp = quant;
  if (format < 6 && r.readBit()) return -1;  // continuous presence multipoint
  while (r.readBit()) {
    r.skip(8);  // PSUPP
    if (r.exhausted()) return -1;
  }
  if (d.pictureType == 1) d.rounding = 0;
  return 0;
}

// What a picture header sets and the following pictures rely on.
struct HeaderFields {
  int32_t width, height, unrestrictedMv, qp, pictureType, rounding, customClock, extendedFormat;
};

HeaderFields headerFields(const H263Decoder& d) {
  return {d.width,       d.height,   d.unrestrictedMv, d.qp,
          d.pictureType, d.rounding, d.customClock,    d.extendedFormat};
}

}  // namespace

int parsePictureHeader(H263Decoder& d) {
  // A header is taken whole or not at all: one rejected half-way must not
  // leave its size or clock settings to the pictures after it.
  const HeaderFields before = headerFields(d);
  if (parsePictureFields(d) == 0 &&
      (d.maxPixels == 0 || int64_t(d.width) * int64_t(d.height) <= d.maxPixels))
    return 0;
  d.width = before.width;
  d.height = before.height;
  d.unrestrictedMv = before.unrestrictedMv;
  d.qp = before.qp;
  d.pictureType = before.pictureType;
  d.rounding = before.rounding;
  d.customClock = before.customClock;
  d.extendedFormat = before.extendedFormat;
  return -1;
}

namespace {

// One macroblock's reconstruction, through the kernel table.
struct Reconstructor {
  H263Decoder& d;
  const ReconKernels& k = reconKernels();

  struct Place {
    uint8_t* dst;
    const uint8_t* ref;
    int x, y;  // block position in its plane
    int stride, planeWidth, planeHeight;
  };

  Place place(int block, const PlanarFrame& cur, const PlanarFrame& ref) const {
    const int s = cur.stride;
    const int mx = d.mbColumn, my = d.mbRow;
    if (block < 4) {
      const int x = 16 * mx + 8 * (block & 1), y = 16 * my + 8 * (block >> 1);
      const ptrdiff_t offset = ptrdiff_t(y) * s + x;
      return {cur.y + offset, ref.y + offset, x, y, s, d.paddedWidth, d.paddedHeight};
    }
    const int x = 8 * mx, y = 8 * my, cs = s / 2;
    const ptrdiff_t offset = ptrdiff_t(y) * cs + x;
    uint8_t* dst = block == 4 ? cur.cb : cur.cr;
    const uint8_t* src = block == 4 ? ref.cb : ref.cr;
    return {dst + offset, src + offset, x, y, cs, d.paddedWidth / 2, d.paddedHeight / 2};
  }

  // Prediction of an 8x8 block from the reference at (x + dx, y + dy) with
  // half-sample flags; samples outside the plane are read clamped to it.
  void predict(const Place& p, int dx, int dy, int flags) const {
    const int sx = p.x + dx, sy = p.y + dy;
    const int needW = 8 + (flags & 1), needH = 8 + (flags >> 1);
    const uint8_t* src;
    ptrdiff_t srcStride;
    uint8_t edge[9 * 16];
    if (sx >= 0 && sy >= 0 && sx + needW <= p.planeWidth && sy + needH <= p.planeHeight) {
      src = p.ref - (ptrdiff_t(p.y) * p.stride + p.x) + ptrdiff_t(sy) * p.stride + sx;
      srcStride = p.stride;
    } else {
      const uint8_t* plane = p.ref - (ptrdiff_t(p.y) * p.stride + p.x);
      for (int y = 0; y < needH; ++y) {
        const int cy = std::clamp(sy + y, 0, p.planeHeight - 1);
        for (int x = 0; x < needW; ++x) {
          const int cx = std::clamp(sx + x, 0, p.planeWidth - 1);
          edge[16 * y + x] = plane[ptrdiff_t(cy) * p.stride + cx];
        }
      }
      src = edge;
      srcStride = 16;
    }
    switch (flags) {
      case 0:
        k.copyBlock(p.dst, src, p.stride, srcStride);
        break;
      case 1:
        k.interpolateH(p.dst, src, p.stride, srcStride, d.rounding);
        break;
      case 2:
        k.interpolateV(p.dst, src, p.stride, srcStride, d.rounding);
        break;
      default:
        k.interpolateHV(p.dst, src, p.stride, srcStride, d.rounding);
        break;
    }
  }

  // A macroblock taken over from the reference: its 16 x 16 luma and two
  // 8 x 8 chroma areas, copied row by row (fixed-size copies the compiler
  // turns into single moves).
  void notCoded() const {
    const Place luma = place(0, *d.currentFrame, *d.reference);
    for (int y = 0; y < 16; ++y)
      std::memcpy(luma.dst + y * luma.stride, luma.ref + y * luma.stride, 16);
    for (int b = 4; b < 6; ++b) {
      const Place p = place(b, *d.currentFrame, *d.reference);
      for (int y = 0; y < 8; ++y)
        std::memcpy(p.dst + y * p.stride, p.ref + y * p.stride, 8);
    }
  }

  // The inverse transform of a block whose only value is the dequantised
  // DC `dc`: every sample is the same, and the transform is not needed.
  void flatBlock(int dc) const {
    const auto row = static_cast<int16_t>(dc * 8);  // the row pass, in 16 bits
    std::fill_n(d.workBlock, 64, static_cast<int16_t>(std::clamp((row + 32) >> 6, -256, 255)));
  }

  // `hasAc`: bit 5 - b is set when block b has values beyond position 0.
  void intra(int hasAc) const {
    for (int b = 0; b < 6; ++b) {
      const Place p = place(b, *d.currentFrame, *d.reference);
      if ((hasAc >> (5 - b)) & 1) {
        k.dequantIntra(d.workBlock, d.blocks[b], d.qp);
        k.idct8x8(d.workBlock);
      } else {
        flatBlock(d.blocks[b][0] * 8);
      }
      k.storeClipped(p.dst, d.workBlock, p.stride);
    }
  }

  void inter(MotionVector v, int cbp, int hasAc) const {
    for (int b = 0; b < 6; ++b) {
      const Place p = place(b, *d.currentFrame, *d.reference);
      if (b < 4) {
        predict(p, v.x >> 1, v.y >> 1, (v.x & 1) | ((v.y & 1) << 1));
      } else {
        predict(p, v.x >> 2, v.y >> 2, ((v.x & 3) != 0 ? 1 : 0) | ((v.y & 3) != 0 ? 2 : 0));
      }
      if ((cbp >> (5 - b)) & 1) {
        if ((hasAc >> (5 - b)) & 1) {
          k.dequantInter(d.workBlock, d.blocks[b], d.qp);
          k.idct8x8(d.workBlock);
        } else {
          flatBlock(dequantLevel(d.blocks[b][0], d.qp));
        }
        k.addClipped(p.dst, d.workBlock, p.stride);
      }
    }
  }
};

int median(int a, int b, int c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Reads the macroblock layer of one picture. Returns false at a code that
// has no meaning, which ends the picture.
class MacroblockReader {
 public:
  explicit MacroblockReader(H263Decoder& decoder) : d(decoder), r(decoder.bits), recon{decoder} {}

  void run() {
    const int rowsPerGob = d.height <= 400 ? 1 : d.height <= 800 ? 2 : 4;
    d.gobTopRow = 0;
    for (d.mbRow = 0; d.mbRow < d.mbRows; ++d.mbRow) {
      if (d.mbRow > 0 && d.mbRow % rowsPerGob == 0 && readGobHeader()) d.gobTopRow = d.mbRow;
      for (d.mbColumn = 0; d.mbColumn < d.mbColumns; ++d.mbColumn) {
        d.mvCursor = d.motionVectors + d.mbRow * d.mbColumns + d.mbColumn;
        const bool ok = d.pictureType == 1 ? intraMacroblock() : predictedMacroblock();
        if (!ok || r.exhausted()) {
          concealRest();
          return;
        }
      }
    }
  }

 private:
  // A GOB header: optional stuffing to the byte boundary, then GBSC (16
  // zeros and a one), GN, GFID and GQUANT, which becomes the quantiser.
  bool readGobHeader() {
    int stuffing = 0;
    if (r.peek(17) != 1) {
      stuffing = r.bitsToByteBoundary();
      if (stuffing == 0 || r.peek(stuffing + 17) != 1) return false;
    }
    r.skip(stuffing + 17);
    r.skip(5 + 2);  // GN, GFID
    const auto quant = static_cast<int32_t>(r.read(5));
    if (quant != 0) d.qp = quant;
    return true;
  }

  bool readMcbpc(const std::array<VlcEntry, 1 << kMcbpcBits>& table, int& value) {
    const VlcEntry& e = table[r.peek(kMcbpcBits)];
    if (e.length == 0) return false;
    r.skip(e.length);
    value = e.value;
    return true;
  }

  bool readCbpy(int& cbpy) {
    const VlcEntry& e = t.cbpy[r.peek(kCbpyBits)];
    if (e.length == 0) return false;
    r.skip(e.length);
    cbpy = e.value;
    return true;
  }

  void dquant() {
    static constexpr int kChange[4] = {-1, -2, 1, 2};
    d.qp = std::clamp(d.qp + kChange[r.read(2)], 1, 31);
  }

  // Reads one block's events; `ac` becomes true when a value lands beyond
  // position 0.
  // Reads a block's coefficients from position `scan` on. The reader is
  // worked on in a local copy, so that its state stays in registers through
  // the loop, and written back at the end.
  bool coefficients(int16_t* block, int scan, bool& ac) {
    BitReader bits = r;
    const bool ok = coefficientLoop(bits, block, scan, ac);
    r = bits;
    return ok;
  }

  bool coefficientLoop(BitReader& bits, int16_t* block, int scan, bool& ac) const {
    for (;;) {
      int last, run, level;
      if (bits.peek(7) == 0b0000011) {
        bits.skip(7);
        last = static_cast<int>(bits.read(1));
        run = static_cast<int>(bits.read(6));
        level = static_cast<int8_t>(bits.read(8));
      } else {
        const CoefficientEntry& e = t.tcoef[bits.peek(kTcoefBits)];
        if (e.level == 0) return false;
        // The code and its sign bit, taken in one step.
        const bool negative = (bits.peek(e.length + 1) & 1) != 0;
        bits.skip(e.length + 1);
        level = negative ? -e.level : e.level;
        last = e.last;
        run = e.run;
      }
      scan += run;
      if (scan > 63) return false;
      block[t.zigzag[scan]] = static_cast<int16_t>(level);
      ac |= scan != 0;
      ++scan;
      if (last) return true;
    }
  }

  bool intraData(int type, int cbp) {
    if (type == kIntraQ) dquant();
    recon.k.clearBlocks(d.blocks[0], 768);
    int hasAc = 0;
    for (int b = 0; b < 6; ++b) {
      const uint32_t dc = r.read(8);
      d.blocks[b][0] = static_cast<int16_t>(dc == 255 ? 128 : dc);
      bool ac = false;
      if (((cbp >> (5 - b)) & 1) && !coefficients(d.blocks[b], 1, ac)) return false;
      hasAc |= int(ac) << (5 - b);
    }
    recon.intra(hasAc);
    return true;
  }

  bool intraMacroblock() {
    int value = kMcbpcStuffing;
    while (value == kMcbpcStuffing) {
      if (!readMcbpc(t.mcbpcIntra, value) || r.exhausted()) return false;
    }
    int cbpy = 0;
    if (!readCbpy(cbpy)) return false;
    d.mbType = value & 7;
    d.mbIntra = 1;
    return intraData(d.mbType, cbpy * 4 + (value >> 4));
  }

  bool readMvd(int& difference) {
    const VlcEntry& e = t.mvd[r.peek(kMvdBits)];
    if (e.length == 0) return false;
    r.skip(e.length);
    difference = e.value != 0 && r.readBit() ? -e.value : e.value;
    return true;
  }

  MotionVector prediction() const {
    const int col = d.mbColumn;
    const MotionVector* here = d.mvCursor;
    const MotionVector zero{};
    const MotionVector left = col > 0 ? here[-1] : zero;
    if (d.mbRow == d.gobTopRow) return left;
    const MotionVector above = here[-d.mbColumns];
    const MotionVector aboveRight = col + 1 < d.mbColumns ? here[-d.mbColumns + 1] : zero;
    return {static_cast<int16_t>(median(left.x, above.x, aboveRight.x)),
            static_cast<int16_t>(median(left.y, above.y, aboveRight.y))};
  }

  // A vector component wrapped into [-32, 31] half samples, as the
  // differences are coded modulo 64.
  static int16_t wrap(int value) { return static_cast<int16_t>(((value + 32) & 63) - 32); }

  bool predictedMacroblock() {
    int value = kMcbpcStuffing;
    while (value == kMcbpcStuffing) {
      if (r.readBit()) {  // COD: not coded
        d.mbIntra = 0;
        *d.mvCursor = {};
        recon.notCoded();
        return true;
      }
      if (!readMcbpc(t.mcbpcInter, value) || r.exhausted()) return false;
    }
    const int type = value & 7;
    if (type != kInter && type != kInterQ && type != kIntra && type != kIntraQ) return false;
    int cbpy = 0;
    if (!readCbpy(cbpy)) return false;
    d.mbType = type;
    d.mbIntra = type >= kIntra;
    if (d.mbIntra) {
      *d.mvCursor = {};
      return intraData(type, cbpy * 4 + (value >> 4));
    }
    const int cbp = (15 - cbpy) * 4 + (value >> 4);
    if (type == kInterQ) dquant();
    const MotionVector predicted = prediction();
    int dx = 0, dy = 0;
    if (!readMvd(dx) || !readMvd(dy)) return false;
    const MotionVector v{wrap(predicted.x + dx), wrap(predicted.y + dy)};
    *d.mvCursor = v;
    recon.k.clearBlocks(d.blocks[0], 768);
    int hasAc = 0;
    for (int b = 0; b < 6; ++b) {
      bool ac = false;
      if (((cbp >> (5 - b)) & 1) && !coefficients(d.blocks[b], 0, ac)) return false;
      hasAc |= int(ac) << (5 - b);
    }
    recon.inter(v, cbp, hasAc);
    return true;
  }

  // The macroblocks after a broken one are taken over from the reference:
  // the rest of the broken row block by block, the rows below it as whole
  // plane areas, as a picture cut short often leaves most of it to copy.
  void concealRest() {
    const int from = d.mbRow * d.mbColumns + d.mbColumn;
    std::fill(d.motionVectors + from, d.motionVectors + d.mbRows * d.mbColumns, MotionVector{});
    for (; d.mbColumn < d.mbColumns; ++d.mbColumn)
      recon.notCoded();
    d.mbColumn = d.mbColumns - 1;
    const int firstRow = d.mbRow + 1;
    if (firstRow >= d.mbRows) return;
    const PlanarFrame& cur = *d.currentFrame;
    const PlanarFrame& ref = *d.reference;
    const auto copyRows = [](uint8_t* dst, const uint8_t* src, ptrdiff_t stride, int first,
                             int end) {
      std::memcpy(dst + first * stride, src + first * stride, size_t(end - first) * size_t(stride));
    };
    copyRows(cur.y, ref.y, cur.stride, 16 * firstRow, d.paddedHeight);
    copyRows(cur.cb, ref.cb, cur.stride / 2, 8 * firstRow, d.paddedHeight / 2);
    copyRows(cur.cr, ref.cr, cur.stride / 2, 8 * firstRow, d.paddedHeight / 2);
    d.mbRow = d.mbRows - 1;
  }

  H263Decoder& d;
  BitReader& r;
  Reconstructor recon;
  const H263Tables& t = h263Tables();
};

}  // namespace

void decodeMacroblocks(H263Decoder& decoder) {
  MacroblockReader(decoder).run();
}

}  // namespace zenta::video
