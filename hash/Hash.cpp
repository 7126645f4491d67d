// The digest objects: buffering of partial blocks, the message length, the padding (FIPS 180-4, 5.1)
// and the output. The block functions do the compression. Every routine runs in time that depends only
// on the lengths it is given.
#include "hash/Hash.h"

#include <cstring>
#include <stdexcept>

#include "hash/HashInternal.h"

namespace Hash {

namespace {

using namespace Detail;

constexpr std::uint64_t Sha1Initial[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
constexpr std::uint64_t Sha256Initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr std::uint64_t Sha384Initial[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                            0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                            0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
constexpr std::uint64_t Sha512Initial[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                            0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                            0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

[[noreturn]] void UnknownKind() { throw std::invalid_argument("unknown hash kind"); }

bool Is64Bit(THashKind Kind) { return Kind == THashKind::Sha384 || Kind == THashKind::Sha512; }

// Words of chaining state: SHA-1 has five 32-bit words, SHA-256 eight; SHA-384/512 eight 64-bit ones.
std::size_t StateWords(THashKind Kind) { return Kind == THashKind::Sha1 ? 5 : 8; }

// Takes Blocks whole blocks into State. The 32-bit kinds keep their words in the low halves of State's
// 64-bit slots; they are copied out and back around the block function.
void Compress(THashKind Kind, std::uint64_t* State, const unsigned char* Data, std::size_t Blocks) {
  const TBlockFunctions& functions = SelectedBlockFunctions();
  if (Is64Bit(Kind)) {
    functions.Sha512(State, Data, Blocks);
    return;
  }
  std::uint32_t words[8];
  const std::size_t count = StateWords(Kind);
  for (std::size_t i = 0; i < count; ++i) words[i] = static_cast<std::uint32_t>(State[i]);
  (Kind == THashKind::Sha1 ? functions.Sha1 : functions.Sha256)(words, Data, Blocks);
  for (std::size_t i = 0; i < count; ++i) State[i] = words[i];
  Wipe(words, sizeof words);
}

}  // namespace

std::size_t DigestSize(THashKind Kind) {
  switch (Kind) {
    case THashKind::Sha1: return 20;
    case THashKind::Sha256: return 32;
    case THashKind::Sha384: return 48;
    case THashKind::Sha512: return 64;
  }
  UnknownKind();
}

std::size_t BlockSize(THashKind Kind) {
  switch (Kind) {
    case THashKind::Sha1:
    case THashKind::Sha256: return 64;
    case THashKind::Sha384:
    case THashKind::Sha512: return 128;
  }
  UnknownKind();
}

const char* HashName(THashKind Kind) {
  switch (Kind) {
    case THashKind::Sha1: return "sha1";
    case THashKind::Sha256: return "sha256";
    case THashKind::Sha384: return "sha384";
    case THashKind::Sha512: return "sha512";
  }
  UnknownKind();
}

THash::THash(THashKind Kind) : FKind(Kind) {
  (void)BlockSize(Kind);  // refuses a value outside the enumeration
  Reset();
}

THash::~THash() {
  Wipe(FState, sizeof FState);
  Wipe(FBuffer, sizeof FBuffer);
}

void THash::Reset() {
  const std::uint64_t* initial = Sha512Initial;
  switch (FKind) {
    case THashKind::Sha1: initial = Sha1Initial; break;
    case THashKind::Sha256: initial = Sha256Initial; break;
    case THashKind::Sha384: initial = Sha384Initial; break;
    case THashKind::Sha512: initial = Sha512Initial; break;
  }
  std::memset(FState, 0, sizeof FState);
  std::memcpy(FState, initial, StateWords(FKind) * sizeof(std::uint64_t));
  std::memset(FBuffer, 0, sizeof FBuffer);
  FBuffered = 0;
  FLengthLow = 0;
  FLengthHigh = 0;
}

void THash::Update(const void* Data, std::size_t Size) {
  if (Size == 0) return;
  if (Data == nullptr) throw std::invalid_argument("THash::Update: no data for a non-zero length");
  const unsigned char* in = static_cast<const unsigned char*>(Data);
  FLengthLow += Size;
  if (FLengthLow < Size) ++FLengthHigh;
  const std::size_t block = BlockSize(FKind);
  if (FBuffered > 0) {
    const std::size_t take = Size < block - FBuffered ? Size : block - FBuffered;
    std::memcpy(FBuffer + FBuffered, in, take);
    FBuffered += take;
    in += take;
    Size -= take;
    if (FBuffered < block) return;
    Compress(FKind, FState, FBuffer, 1);
    FBuffered = 0;
  }
  const std::size_t whole = Size / block;
  if (whole > 0) {
    Compress(FKind, FState, in, whole);
    in += whole * block;
    Size -= whole * block;
  }
  if (Size > 0) {
    std::memcpy(FBuffer, in, Size);
    FBuffered = Size;
  }
}

void THash::Final(unsigned char* Out) {
  if (Out == nullptr) throw std::invalid_argument("THash::Final: no place for the digest");
  const std::size_t block = BlockSize(FKind);
  // The message length in bits, big-endian in the last 8 bytes (SHA-1/256) or 16 (SHA-384/512).
  const std::size_t lengthField = Is64Bit(FKind) ? 16 : 8;
  const std::uint64_t bitsLow = FLengthLow << 3;
  const std::uint64_t bitsHigh = (FLengthHigh << 3) | (FLengthLow >> 61);
  FBuffer[FBuffered++] = 0x80;
  if (FBuffered > block - lengthField) {
    std::memset(FBuffer + FBuffered, 0, block - FBuffered);
    Compress(FKind, FState, FBuffer, 1);
    FBuffered = 0;
  }
  std::memset(FBuffer + FBuffered, 0, block - FBuffered);
  if (lengthField == 16) StoreBe64(FBuffer + block - 16, bitsHigh);
  StoreBe64(FBuffer + block - 8, bitsLow);
  Compress(FKind, FState, FBuffer, 1);

  const std::size_t size = Hash::DigestSize(FKind);
  if (Is64Bit(FKind)) {
    for (std::size_t i = 0; i < size / 8; ++i) StoreBe64(Out + 8 * i, FState[i]);
  } else {
    for (std::size_t i = 0; i < size / 4; ++i) StoreBe32(Out + 4 * i, static_cast<std::uint32_t>(FState[i]));
  }
  Wipe(FState, sizeof FState);
  Wipe(FBuffer, sizeof FBuffer);
  Reset();
}

void Digest(THashKind Kind, const void* Data, std::size_t Size, unsigned char* Out) {
  THash hash(Kind);
  hash.Update(Data, Size);
  hash.Final(Out);
}

}  // namespace Hash
