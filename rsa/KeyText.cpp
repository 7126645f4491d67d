// Loading the key store from text: PublicKey (e:n), PrivateKey (n:d) and Signature.
#include "host/core/Random.h"
#include "rsa/ByteImage.h"
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

void Zero(BigNum& x) { BNWipe(x.Digits, 0, sizeof x.Digits); }

void Wipe(System::AnsiString& bytes) {
  if (bytes.Length() > 0) BNWipe(bytes.data(), 0, std::size_t(bytes.Length()));
}

// Where a key text broke; each key maps these to its own exception class and message.
enum class KeyTextFault { None, NoColon, FirstUndecodable, FirstLength, SecondUndecodable, SecondLength };

// Reads "first:second" into two slots that are zero at entry. The first field may hold up to 4P bytes
// (empty reads as zero), the second exactly 4P. Everything after the first colon, further colons
// included, is the second field. The first field is read before the second is decoded, so a fault in
// the second field leaves the first field's number in its slot.
KeyTextFault ReadKeyText(const System::AnsiString& text, int precision, BigNum& first, BigNum& second) {
  const int colon = text.Pos(":");
  if (colon == 0) return KeyTextFault::NoColon;
  const int keyBytes = 4 * precision;

  System::AnsiString bytes;
  try {
    bytes = Radix64Decode(text.SubString(1, colon - 1));
  } catch (const Sysutils::EConvertError&) {
    return KeyTextFault::FirstUndecodable;
  }
  const bool firstFits = bytes.Length() <= keyBytes;
  if (firstFits) ReadKeyField(first, bytes);
  Wipe(bytes);
  if (!firstFits) return KeyTextFault::FirstLength;

  try {
    bytes = Radix64Decode(text.SubString(colon + 1, text.Length() - colon));
  } catch (const Sysutils::EConvertError&) {
    return KeyTextFault::SecondUndecodable;
  }
  const bool secondFits = bytes.Length() == keyBytes;
  if (secondFits) ReadKeyField(second, bytes);
  Wipe(bytes);
  return secondFits ? KeyTextFault::None : KeyTextFault::SecondLength;
}

}  // namespace

// A failed load leaves the public key unloaded. The modulus is shared with the private key: when that
// key is loaded, its modulus is put back before the failure is reported, so it never decrypts with a
// cleared or foreign modulus.
void TRSA::PutPublicKey(const System::AnsiString Value) {
  System::Randomize();
  KeyChanged();
  const bool keepModulus = FPrivateLoaded;
  const BigNum entryModulus = FModulus;
  Zero(FPubExp);
  Zero(FModulus);
  FPublicLoaded = false;

  const KeyTextFault fault = ReadKeyText(Value, FPrecision, FPubExp, FModulus);
  if (fault != KeyTextFault::None) {
    if (fault == KeyTextFault::SecondUndecodable) Zero(FPubExp);
    if (keepModulus) FModulus = entryModulus;
    switch (fault) {
      case KeyTextFault::NoColon: Fail<EInvalidKey>("Public key not valid");
      case KeyTextFault::FirstUndecodable:
      case KeyTextFault::SecondUndecodable: Fail<Sysutils::EConvertError>("Public key not valid");
      default: Fail<EInvalidKey>("Public key has incorrect length");
    }
  }
  FPublicLoaded = true;
  FPublicKey = Value;
  StatusUpdate("Public key loaded OK");
}

// The modulus comes first here, so faults in the first field carry the public-key messages. As above,
// a loaded public key gets its modulus back when this load fails.
void TRSA::PutPrivateKey(const System::AnsiString Value) {
  System::Randomize();
  KeyChanged();
  const bool keepModulus = FPublicLoaded;
  const BigNum entryModulus = FModulus;
  Zero(FModulus);
  Zero(FPrivExp);
  FPrivateLoaded = false;

  const KeyTextFault fault = ReadKeyText(Value, FPrecision, FModulus, FPrivExp);
  if (fault != KeyTextFault::None) {
    if (keepModulus) FModulus = entryModulus;
    switch (fault) {
      case KeyTextFault::NoColon: Fail<EInvalidKey>("Public key not valid");
      case KeyTextFault::FirstUndecodable: Fail<Sysutils::EConvertError>("Public key not valid");
      case KeyTextFault::FirstLength: Fail<EInvalidKey>("Public key has incorrect length");
      case KeyTextFault::SecondUndecodable: Fail<Sysutils::EConvertError>("Private key not valid");
      default: Fail<EInvalidKey>("Private key has incorrect length");
    }
  }
  FPrivateLoaded = true;
  FPrivateKey = Value;
  StatusUpdate("Private key loaded OK");
}

// Exactly 4P bytes, the little-endian image of the value. A failure changes nothing but the status;
// success reports nothing.
void TRSA::PutSignature(const System::AnsiString Value) {
  System::Randomize();
  System::AnsiString bytes;
  try {
    bytes = Radix64Decode(Value);
  } catch (const Sysutils::EConvertError&) {
    Fail<Sysutils::EConvertError>("Signature not valid");
  }
  if (bytes.Length() != 4 * FPrecision) Fail<Sysutils::EConvertError>("Signature has incorrect length");
  Zero(FSigValue);
  BytesToImage(FSigValue, bytes.bytes(), bytes.Length());
  FSignature = Value;
  FSignatureLoaded = true;
}

}  // namespace Rsa
