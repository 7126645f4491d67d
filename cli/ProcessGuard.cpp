#include "cli/ProcessGuard.h"

#include <malloc.h>
#include <openssl/crypto.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Qrsa {

namespace {

void* CryptoMalloc(std::size_t size, const char*, int) { return std::malloc(size); }

void CryptoFree(void* block, const char*, int) {
  if (block == nullptr) return;
  explicit_bzero(block, malloc_usable_size(block));
  std::free(block);
}

// Moving to a new block and wiping the old one: realloc would free the old block unwiped.
void* CryptoRealloc(void* block, std::size_t size, const char* file, int line) {
  if (block == nullptr) return CryptoMalloc(size, file, line);
  if (size == 0) {
    CryptoFree(block, file, line);
    return nullptr;
  }
  void* larger = std::malloc(size);
  if (larger == nullptr) return nullptr;
  std::memcpy(larger, block, std::min(size, malloc_usable_size(block)));
  CryptoFree(block, file, line);
  return larger;
}

#if defined(__x86_64__)
// The vector registers still hold the last bytes copied (memcpy moves key texts through them); the
// first call of a lazily bound library function after main (in the exit handlers) saves them all on
// the stack. Zeroed here, after the last secret was handled.
__attribute__((target("avx512f"))) void ClearAvx512Registers() {
  __asm__ __volatile__(
      "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
      "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
      "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
      "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
      "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
      "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
      "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
      "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31\n\t"
      "kxorw %%k1, %%k1, %%k1\n\t"
      :
      :
      : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26",
        "xmm27", "xmm28", "xmm29", "xmm30", "xmm31", "k1");
}

__attribute__((target("avx"))) void ClearAvxRegisters() {
  __asm__ __volatile__("vzeroall" : : : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                       "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}

void ClearSseRegisters() {
  __asm__ __volatile__(
      "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\tpxor %%xmm3, %%xmm3\n\t"
      "pxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\tpxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\t"
      "pxor %%xmm8, %%xmm8\n\tpxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
      "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\tpxor %%xmm15, %%xmm15\n\t"
      :
      :
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
        "xmm12", "xmm13", "xmm14", "xmm15");
}
#endif

void ClearVectorRegisters() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx512f")) ClearAvx512Registers();
  if (__builtin_cpu_supports("avx")) {
    ClearAvxRegisters();
  } else {
    ClearSseRegisters();
  }
#endif
}

}  // namespace

void GuardProcessMemory() {
  const struct rlimit none {0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void GuardLibcryptoMemory() {
  // Refused (0) once libcrypto has allocated; main calls this before anything else touches it.
  CRYPTO_set_mem_functions(CryptoMalloc, CryptoRealloc, CryptoFree);
  // 64 KiB holds a few 4096-bit keys' numbers; where it cannot be set up, the ordinary heap serves.
  CRYPTO_secure_malloc_init(1 << 16, 16);
}

__attribute__((noinline)) void WipeStackBelow() {
  // Deeper than any call of the tool goes (its deepest frames stay within a few tens of KiB).
  unsigned char area[256 * 1024];
  explicit_bzero(area, sizeof area);
  __asm__ __volatile__("" : : "r"(area) : "memory");
  ClearVectorRegisters();
}

}  // namespace Qrsa
