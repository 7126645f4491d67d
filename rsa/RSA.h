// The component unit RSA: the TRSA component, its enumerations, exceptions and key store types.
#pragma once

#include <cstdint>

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

class TRSA : public Classes::TComponent {
 public:
  explicit TRSA(Classes::TComponent* AOwner);

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
  int GetPrecision() const { return FPrecision; }
  // Session-key length in bytes for SymKeyLength: 8, 16, 24 or 32.
  int GetSymKeyBytes() const;
  System::AnsiString GetVersion() const;
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
};

}  // namespace Rsa
