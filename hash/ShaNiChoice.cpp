// Whether this process can use the SHA-instruction block functions: built for x86-64, and the processor
// reports the SHA extensions and SSSE3/SSE4.1 (the byte shuffles and blends around them). This file is
// compiled without the instructions' options, so it runs on any processor.
#include "hash/HashInternal.h"

#if QARVEX_HAVE_SHA_NI
#include <cpuid.h>
#endif

namespace Hash::Detail {

#if QARVEX_HAVE_SHA_NI
namespace {

bool ProcessorHasShaNi() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, eax, ebx, ecx, edx);
  const bool ssse3 = (ecx & (1u << 9)) != 0, sse41 = (ecx & (1u << 19)) != 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

}  // namespace
#endif

const TBlockFunctions* ShaNiBlockFunctions() {
#if QARVEX_HAVE_SHA_NI
  static const TBlockFunctions functions{"shani", Sha1BlocksNi, Sha256BlocksNi, Sha512BlocksPortable};
  static const bool available = ProcessorHasShaNi();
  return available ? &functions : nullptr;
#else
  return nullptr;
#endif
}

}  // namespace Hash::Detail
