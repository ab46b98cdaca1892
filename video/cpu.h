// The instruction-set levels this CPU offers, as one mask for the whole
// program: every kernel table is filled from it.
#pragma once

#include <array>
#include <string_view>

namespace zenta::video {

enum CpuFlag : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuSsse3 = 1u << 1,
  kCpuAvx2 = 1u << 2,
  // AVX-512 with the byte and word instructions (BW), their 128- and
  // 256-bit forms (VL) and the byte permutes (VBMI).
  kCpuAvx512 = 1u << 3,
};

// The levels from the lowest up, with their names.
struct CpuLevel {
  CpuFlag flag;
  std::string_view name;
};
inline constexpr std::array<CpuLevel, 4> kCpuLevels{
    {{kCpuSse2, "sse2"}, {kCpuSsse3, "ssse3"}, {kCpuAvx2, "avx2"}, {kCpuAvx512, "avx512"}}};

// The CPU's levels, less those taken away by setCpuFlagsMask or by the
// environment variable ZENTA_CPU ("portable", "sse2", "ssse3", "avx2",
// "avx512": that level and those below it).
unsigned cpuFlags();

// Keeps only the levels in `mask`. Kernel tables already filled keep their
// entries; call it before the first decode or conversion.
void setCpuFlagsMask(unsigned mask);

// All the levels up to and including `flag`, as a mask.
unsigned cpuFlagsUpTo(CpuFlag flag);

}  // namespace zenta::video
