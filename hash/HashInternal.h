// What the digest objects share with the block functions: the byte-order helpers, the wipe, and the
// block functions of each implementation with the choice between them. Internal to hash/.
#pragma once

#include <cstddef>
#include <cstdint>

// The SHA-instruction block functions exist on x86-64 builds by GCC or Clang (hash/CMakeLists.txt leaves
// their files out elsewhere).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QARVEX_HAVE_SHA_NI 1
#else
#define QARVEX_HAVE_SHA_NI 0
#endif

namespace Hash::Detail {

// Big-endian loads and stores built from single bytes, so they are right whatever the processor's own
// byte order and whatever the alignment (compilers turn them into one load and a byte swap).
inline std::uint32_t LoadBe32(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}
inline std::uint64_t LoadBe64(const unsigned char* p) {
  return (std::uint64_t(LoadBe32(p)) << 32) | LoadBe32(p + 4);
}
inline void StoreBe32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
inline void StoreBe64(unsigned char* p, std::uint64_t v) {
  StoreBe32(p, static_cast<std::uint32_t>(v >> 32));
  StoreBe32(p + 4, static_cast<std::uint32_t>(v));
}

inline std::uint32_t Rotr32(std::uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }
inline std::uint32_t Rotl32(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }
inline std::uint64_t Rotr64(std::uint64_t x, unsigned n) { return (x >> n) | (x << (64 - n)); }

// Overwrites Size bytes at Area with zeros in a way the optimiser cannot drop, even when the area is
// about to die. Runs in time that depends only on Size.
void Wipe(void* Area, std::size_t Size);

// Block functions: take Blocks whole input blocks (64 bytes for SHA-1/256, 128 for SHA-512) into the
// chaining state. Data need not be aligned. Each runs in time that depends only on Blocks.
using TBlocks32 = void (*)(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks);
using TBlocks64 = void (*)(std::uint64_t* State, const unsigned char* Data, std::size_t Blocks);

void Sha1BlocksPortable(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks);    // State[5]
void Sha256BlocksPortable(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks);  // State[8]
void Sha512BlocksPortable(std::uint64_t* State, const unsigned char* Data, std::size_t Blocks);  // State[8]

#if QARVEX_HAVE_SHA_NI
// On the x86 SHA extensions (with SSSE3 and SSE4.1); SHA-512 has no such instructions.
void Sha1BlocksNi(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks);    // State[5]
void Sha256BlocksNi(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks);  // State[8]
#endif

// One implementation's block functions.
struct TBlockFunctions {
  const char* Name;  // "portable" or "shani"
  TBlocks32 Sha1;
  TBlocks32 Sha256;
  TBlocks64 Sha512;
};

// The portable functions, available everywhere.
const TBlockFunctions& PortableBlockFunctions();
// The functions that use the processor's SHA instructions, or nullptr where the build or the processor
// lacks them.
const TBlockFunctions* ShaNiBlockFunctions();
// The functions this process uses: the best the processor offers, unless the environment variable
// QARVEX_HASH=portable forces the portable code. Chosen once.
const TBlockFunctions& SelectedBlockFunctions();

}  // namespace Hash::Detail
