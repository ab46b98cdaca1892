#include "video/cpu.h"

#include <atomic>
#include <cstdlib>

namespace zenta::video {

namespace {

unsigned detected() {
  unsigned flags = 0;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) flags |= kCpuSse2;
  if (__builtin_cpu_supports("ssse3")) flags |= kCpuSsse3;
  if (__builtin_cpu_supports("avx2")) flags |= kCpuAvx2;
  // The check also asks the system whether it saves the 512-bit registers.
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
    flags |= kCpuAvx512;
#endif
  return flags;
}

unsigned fromEnvironment() {
  const char* level = std::getenv("ZENTA_CPU");
  if (level == nullptr) return ~0u;
  const std::string_view name(level);
  if (name == "portable") return 0;
  for (const CpuLevel& l : kCpuLevels) {
    if (name == l.name) return cpuFlagsUpTo(l.flag);
  }
  return ~0u;
}

std::atomic<unsigned> mask{~0u};

}  // namespace

unsigned cpuFlagsUpTo(CpuFlag flag) {
  return (unsigned(flag) << 1) - 1;
}

unsigned cpuFlags() {
  static const unsigned cpu = detected() & fromEnvironment();
  return cpu & mask.load(std::memory_order_relaxed);
}

void setCpuFlagsMask(unsigned newMask) {
  mask.store(newMask, std::memory_order_relaxed);
}

}  // namespace zenta::video
