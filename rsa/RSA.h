// The component unit RSA: the TRSA component, its enumerations, exceptions and key store types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bignum/Digit.h"
#include "host/core/Classes.h"
#include "host/core/SysUtils.h"
#include "host/core/System.h"

namespace Rsa {

// Digits in every key store number, whatever the key size.
inline constexpr unsigned BigNumDigits = 132;

// A fixed-size non-negative integer of 132 digits, least significant first. It passes wherever a digit
// array is expected and copies whole.
struct BigNum {
  Digit Digits[BigNumDigits];

  operator Digit*() { return Digits; }  // NOLINT: used as a digit array
  operator const Digit*() const { return Digits; }  // NOLINT
};
static_assert(sizeof(BigNum) == 4 * BigNumDigits, "BigNum is exactly 132 digits");

// Key size: 512, 1024, 2048, 3072 or 4096 bits, a precision of 16, 32, 64, 96 or 128 digits. Stored
// form files and peers know the values by identifier and ordinal, so new sizes only ever go at the end.
enum TKeyBits : std::uint8_t { kb0512, kb1024, kb2048, kb3072, kb4096 };

// One key size: its TKeyBits value, identifier, bits and precision in 32-bit digits (K = 4 * Precision
// bytes). KeySizes lists every size in TKeyBits order; whatever maps sizes to numbers reads it.
struct TKeySize {
  TKeyBits KeyBits;
  const char* Name;
  int Bits;
  int Precision;
};
inline constexpr TKeySize KeySizes[] = {{kb0512, "kb0512", 512, 16},
                                        {kb1024, "kb1024", 1024, 32},
                                        {kb2048, "kb2048", 2048, 64},
                                        {kb3072, "kb3072", 3072, 96},
                                        {kb4096, "kb4096", 4096, 128}};
// Session-key length: 8, 16, 24 or 32 bytes.
enum TSymKeyLength : std::uint8_t { sk64, sk128, sk192, sk256 };
// A session key; EncryptKey reads and DecryptKey writes its leading GetSymKeyBytes() bytes.
using TSymKey = unsigned char[32];

// A needed key or signature is not loaded.
class ENoKeyLoaded : public Sysutils::Exception {
 public:
  using Exception::Exception;
};

// A key text of the wrong shape or length, or a key size that was never set.
class EInvalidKey : public Sysutils::Exception {
 public:
  using Exception::Exception;
};

// Values derived from a loaded key and reused by every operation until the key changes (internal).
struct TKeyCache;
class TRSA;
// The standard schemes' access to the key store (internal, rsa/SchemeKey.h).
class TSchemeKey;

// String encryption in pieces, for strings too large to hold at once: the same cipher text as
// EncryptString of the whole string, handed out as it is made. Each run of three finished blocks (3K
// bytes, a whole number of radix-64 groups) is encoded and appended to Text at once; Finish pads the
// last block and appends the rest, after which the encryptor starts on a new string. The component's
// key and key size must not change while a string is under way. Memory stays a few blocks.
class TStringEncryptor {
 public:
  // Needs the public key, checked (and a failure reported) as EncryptString does.
  explicit TStringEncryptor(TRSA& Rsa);
  // Wipes the plain bytes still buffered.
  ~TStringEncryptor();
  TStringEncryptor(const TStringEncryptor&) = delete;
  TStringEncryptor& operator=(const TStringEncryptor&) = delete;

  // Takes the next Size plain bytes and appends the cipher text they complete.
  void Update(const void* Data, std::size_t Size, std::string& Text);
  // Pads what is left, encrypts it and appends the end of the cipher text.
  void Finish(std::string& Text);
  // Plain bytes taken since the string began.
  std::uint64_t PlainBytes() const { return FPlainBytes; }

 private:
  void EncryptBlock(const unsigned char* Block);
  void Flush(std::string& Text);

  TRSA& FRsa;
  int FKeyBytes;
  std::uint64_t FPlainBytes = 0;
  std::vector<unsigned char> FBlock;  // an unfinished block of plain bytes; room for two at the end
  std::size_t FBlockFill = 0;
  std::vector<unsigned char> FRaw;  // up to three encrypted blocks not encoded yet
  std::size_t FRawBlocks = 0;
};

// Decryption in pieces of a cipher text from EncryptString or TStringEncryptor: the same plain bytes
// and the same refusals as DecryptString of the whole text. The text may be cut anywhere. Plain bytes
// are appended as blocks are decrypted, except for the last ones, which may still turn out to be pad:
// the pad count at the very end decides, so up to 255 bytes (65535 from 3072 bits, where the count
// has two bytes) are held back until Finish. A character outside the alphabet is refused as soon as
// its radix-64 group is complete, at the latest by Finish ("String not valid"), before any block of
// that piece is decrypted; a text that is not a whole, non-zero number of blocks by Finish ("String
// has incorrect length", status "String not valid"). After a failure, and after Finish, the
// decryptor starts on a new text. Everything it holds back is wiped.
class TStringDecryptor {
 public:
  // Needs the private key, checked (and a failure reported) as DecryptString does.
  explicit TStringDecryptor(TRSA& Rsa);
  ~TStringDecryptor();
  TStringDecryptor(const TStringDecryptor&) = delete;
  TStringDecryptor& operator=(const TStringDecryptor&) = delete;

  // Takes the next piece of the text and appends the plain bytes that are certain. One call appends
  // at most the piece's length plus 17 KiB.
  void Update(std::string_view Text, std::string& Plain);
  // Ends the text: checks its length, removes the pad and appends the remaining plain bytes.
  void Finish(std::string& Plain);

 private:
  friend class TRSA;
  // Decrypts decoded bytes, whole blocks at a time.
  void Decrypt(const unsigned char* Bytes, std::size_t Size, std::string& Plain);
  void DecryptBlock(const unsigned char* Block, std::string& Plain);
  // Refuses a text of RawBytes decoded bytes that is not a whole, non-zero number of blocks.
  void CheckLength(std::uint64_t RawBytes);
  // Appends the held-back bytes that the longest possible pad cannot reach.
  void Release(std::string& Plain);
  // Cuts the pad and appends what is left.
  void End(std::string& Plain);
  // Wipes everything held and starts on a new text.
  void Reset();
  // The decoded bytes of radix-64 characters; any invalid one is reported as "String not valid".
  System::AnsiString DecodePiece(std::string_view Text);

  TRSA& FRsa;
  int FKeyBytes;
  std::uint64_t FRawBytes = 0;
  char FCarry[4] = {};  // characters of an unfinished radix-64 group
  std::size_t FCarryLength = 0;
  std::vector<unsigned char> FBlock;  // bytes of an unfinished cipher block
  std::size_t FBlockFill = 0;
  std::vector<unsigned char> FTail;  // decrypted bytes not released yet
  std::size_t FTailLength = 0;
  std::size_t FHold;  // bytes the pad count can reach back: 255 or 65535
};

// Finds the prime factors of n from the exponents e and d of a valid key, p > q with p*q = n. Returns
// false, with p and q zero, when n cannot be split with e and d (not a key of two primes, or e and d do
// not match). Runs in constant time where it touches d, p and q; only whether each of its probabilistic
// attempts succeeded decides a branch.
bool RecoverPrimeFactors(const BigNum& e, const BigNum& d, const BigNum& n, BigNum& p, BigNum& q);

class TRSA : public Classes::TComponent {
 public:
  explicit TRSA(Classes::TComponent* AOwner);
  // Wipes the key store's secrets (d, p, q and everything derived from them).
  ~TRSA() override;

  // ---- Published properties, in streaming order ----
  TKeyBits KeyBits() const { return FKeyBits; }
  void SetKeyBits(const TKeyBits Value);
  const System::AnsiString& PublicKey() const { return FPublicKey; }
  void PutPublicKey(const System::AnsiString Value);
  const System::AnsiString& PrivateKey() const { return FPrivateKey; }
  void PutPrivateKey(const System::AnsiString Value);
  const System::AnsiString& Signature() const { return FSignature; }
  void PutSignature(const System::AnsiString Value);
  const System::AnsiString& Status() const { return FStatus; }
  void SetStatus(const System::AnsiString& Value) { FStatus = Value; }  // fires nothing
  TSymKeyLength SymKeyLength() const { return FSymKeyLength; }
  void SetSymKeyLength(const TSymKeyLength Value) { FSymKeyLength = Value; }
  const Classes::TNotifyEvent& OnStatusUpdate() const { return FOnStatusUpdate; }
  void SetOnStatusUpdate(const Classes::TNotifyEvent& Value) { FOnStatusUpdate = Value; }

  // ---- Component frame ----
  // Key size in 32-bit digits: 0 until KeyBits is first assigned, then 16, 32, 64, 96 or 128.
  // The three queries are not const: the packages export them under exactly these names.
  int GetPrecision();
  // Session-key length in bytes for SymKeyLength: 8, 16, 24 or 32.
  int GetSymKeyBytes();
  System::AnsiString GetVersion();
  // Calls OnStatusUpdate with this component as sender, when a handler is assigned.
  void DoStatusUpdate();

  // ---- Radix-64 text ----
  System::AnsiString EncodeString(const System::AnsiString Bytes);
  System::AnsiString DecodeString(const System::AnsiString Text);

  // ---- Key store as numbers ----
  void GetPublicKey(BigNum& e, BigNum& n);
  void GetPrivateKey(BigNum& n, BigNum& d);
  void SetPublicKey(const BigNum& e, const BigNum& n);
  void SetPrivateKey(const BigNum& n, const BigNum& d);

  // ---- Session-key wrapping ----
  System::AnsiString EncryptKey(const unsigned char* Key);
  void DecryptKey(const System::AnsiString S, unsigned char* Key);

  // ---- Signatures: Data has DataHigh + 1 elements; Len leading bytes are signed or compared ----
  void Sign(const unsigned char* Data, const int DataHigh, const int Len);
  bool Verify(const unsigned char* Data, const int DataHigh, const int Len);

  // ---- String encryption ----
  void EncryptString(const System::AnsiString Plain, System::AnsiString& Cipher);
  void DecryptString(const System::AnsiString Cipher, System::AnsiString& Plain);

  // ---- Key pair generation ----
  void MakeKeyPair(const BigNum& Seed1, const BigNum& Seed2);
  void RSAMakeKeyPair(const BigNum& Seed1, const BigNum& Seed2, BigNum& e, BigNum& n, BigNum& d);

  // ---- Wiping ----
  // Clears e, n and d and the three key and signature texts, and unloads all three.
  void Burn();
  // Overwrites the string's characters with zero bytes, then empties it.
  void BurnString(System::AnsiString& S);

  // Class name "TRSA", virtual constructor and published properties.
  static const Classes::TClassInfo& StaticClassInfo();

 private:
  friend class TStringEncryptor;
  friend class TStringDecryptor;
  friend class TSchemeKey;
  // Stores a status text and fires OnStatusUpdate.
  void StatusUpdate(const System::AnsiString& Text);
  // Reports a failure: the status first, then the exception carrying the same message.
  template <class E>
  [[noreturn]] void Fail(const System::AnsiString& Message) {
    StatusUpdate(Message);
    throw E(Message);
  }
  // Refuses an operation while KeyBits was never assigned (its block sizes would be meaningless).
  void RequirePrecision();
  // The key an RSA operation works with.
  enum class TKeyUse : std::uint8_t { Public, Private, PublicWithSignature };
  // The checks every RSA operation makes before it looks at its input, in this order: the key (and for
  // Verify the signature) loaded, KeyBits assigned, a modulus of exactly K bytes, and for the public
  // key an exponent that is odd, at least 3 and below the modulus. Each failure is reported like every
  // other (status first).
  void RequireKey(TKeyUse use);
  // RequireKey for the component's own block schemes (wrapping, signatures, string encryption), which
  // also refuse a public exponent below 50001 whenever the public key is loaded, so for the private
  // operations too: those schemes check only part of each recovered block, which a small exponent
  // lets anyone forge or read from the public key alone.
  void RequireBlockKey(TKeyUse use);
  // out := in^e mod n and out := in^d mod n with the loaded key, through the per-key contexts; the
  // private one by the Chinese remainder theorem when the factors are known, its result checked with e.
  // Same values as BNModExp with the key store's slots; constant time in d, p, q and in (private).
  void PublicBlock(BigNum& out, const BigNum& in);
  void PrivateBlock(BigNum& out, const BigNum& in);
  // RSAMakeKeyPair, also handing out the primes p > q into primes[0], primes[1] when primes is not null.
  void GenerateKeyPair(const BigNum& Seed1, const BigNum& Seed2, BigNum& e, BigNum& n, BigNum& d, BigNum* primes);
  // Forgets the factors and everything derived from the key; every change of the key store calls it.
  void KeyChanged();
  TKeyCache& Cache();

  TKeyBits FKeyBits = kb0512;
  TSymKeyLength FSymKeyLength = sk64;
  std::int32_t FPrecision = 0;
  System::AnsiString FPublicKey;
  System::AnsiString FPrivateKey;
  System::AnsiString FStatus;
  System::AnsiString FSignature;
  Classes::TNotifyEvent FOnStatusUpdate;
  BigNum FPubExp{};
  BigNum FModulus{};
  BigNum FPrivExp{};
  BigNum FSigValue{};
  bool FPublicLoaded = false;
  bool FPrivateLoaded = false;
  bool FSignatureLoaded = false;
  // The prime factors of n, p > q, when known (kept from key generation or recovered from e, d and n);
  // never written to a text, a form file or an export.
  BigNum FPrime1{};
  BigNum FPrime2{};
  bool FPrimesKnown = false;
  std::unique_ptr<TKeyCache> FCache;
};

}  // namespace Rsa
