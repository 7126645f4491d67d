// String encryption in pieces. The encryptor gathers plain bytes into blocks of K-1 bytes, encrypts each
// block as it fills and encodes every three K-byte results together: 3K bytes are a whole number of
// radix-64 groups, so the text of a run of three blocks never depends on what follows it. The
// decryptor decodes whole radix-64 groups, decrypts whole K-byte blocks and holds back the last plain
// bytes, which the pad count at the end may still remove.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "bignum/ConstantTime.h"
#include "bignum/Declassify.h"
#include "rsa/ByteImage.h"
#include "rsa/RSA.h"
#include "rsa/StringPadding.h"
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

// Blocks encoded together: 3K bytes give 4K characters without a partial group.
constexpr std::size_t BlocksPerRun = 3;
// Decrypted bytes gathered beyond what must be held back before they are handed out together.
constexpr std::size_t ReleaseSlack = 16 * 1024;

void Wipe(std::vector<unsigned char>& bytes) { BNWipe(bytes.data(), 0, bytes.size()); }

}  // namespace

// ---- Encryption ----

TStringEncryptor::TStringEncryptor(TRSA& Rsa)
    : FRsa(Rsa), FKeyBytes((Rsa.RequireBlockKey(TRSA::TKeyUse::Public), 4 * Rsa.GetPrecision())) {
  FBlock.resize(2 * std::size_t(FKeyBytes - 1));
  FRaw.resize(BlocksPerRun * std::size_t(FKeyBytes));
}

TStringEncryptor::~TStringEncryptor() { Wipe(FBlock); }

void TStringEncryptor::EncryptBlock(const unsigned char* Block) {
  const int K = FKeyBytes;
  BigNum m, c;
  BNAssignZero(m, BigNumDigits);
  BNAssignZero(c, BigNumDigits);
  BytesToImage(m, Block, K - 1);
  FRsa.PublicBlock(c, m);
  ImageToBytes(c, FRaw.data() + FRawBlocks * std::size_t(K), K);
  ++FRawBlocks;
  BNWipe(&m, 0, sizeof m);
}

void TStringEncryptor::Flush(std::string& Text) {
  if (FRawBlocks == 0) return;
  const System::AnsiString raw(reinterpret_cast<const char*>(FRaw.data()), int(FRawBlocks * std::size_t(FKeyBytes)));
  Text += Radix64Encode(raw).str();
  FRawBlocks = 0;
}

void TStringEncryptor::Update(const void* Data, std::size_t Size, std::string& Text) {
  if (Size > UINT64_MAX - FPlainBytes) FRsa.Fail<Sysutils::ERangeError>("String too long to encrypt");
  FPlainBytes += Size;
  const std::size_t B = std::size_t(FKeyBytes - 1);
  const auto* in = static_cast<const unsigned char*>(Data);
  while (Size > 0) {
    const std::size_t take = std::min(Size, B - FBlockFill);
    std::memcpy(FBlock.data() + FBlockFill, in, take);
    FBlockFill += take;
    in += take;
    Size -= take;
    if (FBlockFill < B) break;
    EncryptBlock(FBlock.data());
    FBlockFill = 0;
    if (FRawBlocks == BlocksPerRun) Flush(Text);
  }
}

void TStringEncryptor::Finish(std::string& Text) {
  // The pad depends only on how many bytes the last block holds, since whole blocks before it do not
  // change the length modulo K-1. It may spill into one more block (the two-byte count).
  const int K = FKeyBytes;
  const std::size_t B = std::size_t(K - 1);
  const int p = PadLength(FBlockFill, K);
  WritePad(FBlock.data() + FBlockFill, p, K);
  const std::size_t blocks = (FBlockFill + std::size_t(p)) / B;
  for (std::size_t j = 0; j < blocks; ++j) {
    EncryptBlock(FBlock.data() + j * B);
    if (FRawBlocks == BlocksPerRun) Flush(Text);
  }
  Flush(Text);
  Wipe(FBlock);
  FBlockFill = 0;
  FPlainBytes = 0;
}

// ---- Decryption ----

TStringDecryptor::TStringDecryptor(TRSA& Rsa)
    : FRsa(Rsa),
      FKeyBytes((Rsa.RequireBlockKey(TRSA::TKeyUse::Private), 4 * Rsa.GetPrecision())),
      FHold(PadCountBytes(FKeyBytes) == 1 ? 0xFF : 0xFFFF) {
  FBlock.resize(std::size_t(FKeyBytes));
  FTail.resize(FHold + ReleaseSlack + std::size_t(FKeyBytes));
}

TStringDecryptor::~TStringDecryptor() { Reset(); }

void TStringDecryptor::Reset() {
  Wipe(FBlock);
  BNWipe(FTail.data(), 0, FTailLength);
  FTailLength = 0;
  FBlockFill = 0;
  FCarryLength = 0;
  FRawBytes = 0;
}

System::AnsiString TStringDecryptor::DecodePiece(std::string_view Text) {
  try {
    return Radix64Decode(Text);
  } catch (const Sysutils::Exception&) {
    // The decoder's own message is replaced by the one this operation reports.
    Reset();
    FRsa.Fail<Sysutils::EConvertError>("String not valid");
  }
}

void TStringDecryptor::CheckLength(std::uint64_t RawBytes) {
  const auto K = std::uint64_t(FKeyBytes);
  if (RawBytes == 0 || RawBytes % K != 0) {
    Reset();
    FRsa.StatusUpdate("String not valid");
    throw Sysutils::EConvertError("String has incorrect length");
  }
}

void TStringDecryptor::Release(std::string& Plain) {
  if (FTailLength <= FHold) return;
  const std::size_t out = FTailLength - FHold;
  Plain.append(reinterpret_cast<const char*>(FTail.data()), out);
  std::memmove(FTail.data(), FTail.data() + out, FHold);
  BNWipe(FTail.data() + FHold, 0, out);
  FTailLength = FHold;
}

void TStringDecryptor::DecryptBlock(const unsigned char* Block, std::string& Plain) {
  const int K = FKeyBytes;
  BigNum c, m;
  BNAssignZero(c, BigNumDigits);
  BNAssignZero(m, BigNumDigits);
  BytesToImage(c, Block, K);
  FRsa.PrivateBlock(m, c);
  ImageToBytes(m, FTail.data() + FTailLength, K - 1);  // byte K-1 of the block is dropped
  FTailLength += std::size_t(K - 1);
  BNWipe(&m, 0, sizeof m);
  if (FTailLength > FHold + ReleaseSlack) Release(Plain);
}

void TStringDecryptor::Decrypt(const unsigned char* Bytes, std::size_t Size, std::string& Plain) {
  const std::size_t K = std::size_t(FKeyBytes);
  FRawBytes += Size;  // bytes that passed through memory: far from wrapping 64 bits
  // First complete a block begun by an earlier piece, then decrypt whole blocks where they stand.
  if (FBlockFill > 0) {
    const std::size_t take = std::min(Size, K - FBlockFill);
    std::memcpy(FBlock.data() + FBlockFill, Bytes, take);
    FBlockFill += take;
    Bytes += take;
    Size -= take;
    if (FBlockFill < K) return;
    DecryptBlock(FBlock.data(), Plain);
    FBlockFill = 0;
  }
  for (; Size >= K; Bytes += K, Size -= K) DecryptBlock(Bytes, Plain);
  std::memcpy(FBlock.data(), Bytes, Size);
  FBlockFill = Size;
}

void TStringDecryptor::Update(std::string_view Text, std::string& Plain) {
  // Whole groups only: characters of a group that this piece leaves unfinished wait for the next one.
  // Every character of the piece is decoded, and so checked, before any block of it is decrypted.
  System::AnsiString joined;
  if (FCarryLength > 0) {
    const std::size_t take = std::min(Text.size(), 4 - FCarryLength);
    std::memcpy(FCarry + FCarryLength, Text.data(), take);
    FCarryLength += take;
    Text.remove_prefix(take);
    if (FCarryLength < 4) return;
    joined = DecodePiece(std::string_view(FCarry, 4));
    FCarryLength = 0;
  }
  const std::size_t whole = Text.size() - Text.size() % 4;
  const System::AnsiString decoded = DecodePiece(Text.substr(0, whole));
  std::memcpy(FCarry, Text.data() + whole, Text.size() - whole);
  FCarryLength = Text.size() - whole;
  Decrypt(joined.bytes(), std::size_t(joined.Length()), Plain);
  Decrypt(decoded.bytes(), std::size_t(decoded.Length()), Plain);
}

void TStringDecryptor::Finish(std::string& Plain) {
  // An unfinished last group still counts: its characters are checked, and give 0 to 2 bytes.
  const System::AnsiString last = DecodePiece(std::string_view(FCarry, FCarryLength));
  FCarryLength = 0;
  CheckLength(FRawBytes + std::uint64_t(last.Length()));
  Decrypt(last.bytes(), std::size_t(last.Length()), Plain);
  End(Plain);
}

void TStringDecryptor::End(std::string& Plain) {
  // The pad count ends the text. It is not checked against the other pad bytes or against the block
  // size, so a wrong key yields wrong bytes rather than an error; a count beyond the length leaves
  // nothing. The count is secret like the rest of the plain text: the cut is worked out with masks
  // over every held byte, and only the resulting length, which the caller receives anyway, is
  // declassified. The held bytes are all the count can reach: either the whole text, or exactly FHold
  // bytes, the largest count, after bytes already released.
  const auto length = std::uint32_t(FTailLength);  // at most FHold + ReleaseSlack + K
  const auto p = std::uint32_t(ReadPadCount(FTail.data() + FTailLength, FKeyBytes));  // below 2^16
  const std::uint32_t fits = 0u - ((p - length) >> 31);  // all ones when p < length
  const std::uint32_t kept = ConstantTime::Select(fits, length - p, 0u);
  unsigned char* bytes = FTail.data();
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto inside = static_cast<unsigned char>(0u - ((i - kept) >> 31));  // all ones when i < kept
    bytes[i] &= inside;
  }
  Plain.append(reinterpret_cast<const char*>(bytes), ConstantTime::Declassify(kept));
  Reset();
}

}  // namespace Rsa
