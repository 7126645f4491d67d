// Message digests of our own: SHA-1, SHA-256, SHA-384 and SHA-512, streaming. Standard library only;
// the block functions use the processor's SHA instructions where it has them (chosen at run time) and
// portable code elsewhere. SHA-1 is here for OAEP and MGF1 interoperability only, never for new
// signatures. Every routine runs in time that depends only on the lengths it is given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Hash {

enum class THashKind : std::uint8_t { Sha1, Sha256, Sha384, Sha512 };

// The largest digest and block of any kind (SHA-512's).
inline constexpr std::size_t MaxDigestSize = 64;
inline constexpr std::size_t MaxBlockSize = 128;

// Digest length in bytes: 20, 32, 48 or 64.
std::size_t DigestSize(THashKind Kind);
// Input block length in bytes: 64 or 128.
std::size_t BlockSize(THashKind Kind);
// Lower-case name as the tool spells it: "sha1", "sha256", "sha384", "sha512".
const char* HashName(THashKind Kind);

// One digest computation. Update any number of times, then Final; after Final the object starts over
// on a new message. The state is wiped on destruction and by Final.
class THash {
 public:
  explicit THash(THashKind Kind);
  ~THash();
  THash(const THash&) = default;
  THash& operator=(const THash&) = default;

  THashKind Kind() const { return FKind; }
  std::size_t DigestSize() const { return Hash::DigestSize(FKind); }
  void Update(const void* Data, std::size_t Size);
  // Writes DigestSize() bytes to Out and starts over.
  void Final(unsigned char* Out);
  // Starts over on a new message.
  void Reset();

 private:
  THashKind FKind;
  std::uint64_t FState[8];
  unsigned char FBuffer[MaxBlockSize];
  std::size_t FBuffered;
  std::uint64_t FLengthLow;  // bytes taken, low and high 64 bits (SHA-384/512 count 128 bits)
  std::uint64_t FLengthHigh;
};

// The digest of one whole message, DigestSize(Kind) bytes written to Out.
void Digest(THashKind Kind, const void* Data, std::size_t Size, unsigned char* Out);

}  // namespace Hash
