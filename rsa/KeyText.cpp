// Loading the key store from text: PublicKey (e:n), PrivateKey (n:d) and Signature.
#include <string_view>

#include "host/core/Random.h"
#include "rsa/ByteImage.h"
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

// Where a key text broke.
enum class KeyTextFault { None, NoColon, FirstUndecodable, FirstLength, SecondUndecodable, SecondLength };

template <class E>
void Raise(const char* message) {
  throw E(message);
}

// What a key setter reports for each fault: the exception class (through Raise) and its message.
struct TFaultReport {
  void (*Raise)(const char*);
  const char* Message;
};
using TFaultTable = TFaultReport[5];  // indexed by fault - 1

// The modulus is the first field of a private key, so faults in that field carry the public-key
// messages there too.
constexpr TFaultTable PublicKeyFaults = {
    {Raise<EInvalidKey>, "Public key not valid"},                    // NoColon
    {Raise<Sysutils::EConvertError>, "Public key not valid"},        // FirstUndecodable
    {Raise<EInvalidKey>, "Public key has incorrect length"},         // FirstLength
    {Raise<Sysutils::EConvertError>, "Public key not valid"},        // SecondUndecodable
    {Raise<EInvalidKey>, "Public key has incorrect length"},         // SecondLength
};
constexpr TFaultTable PrivateKeyFaults = {
    {Raise<EInvalidKey>, "Public key not valid"},
    {Raise<Sysutils::EConvertError>, "Public key not valid"},
    {Raise<EInvalidKey>, "Public key has incorrect length"},
    {Raise<Sysutils::EConvertError>, "Private key not valid"},
    {Raise<EInvalidKey>, "Private key has incorrect length"},
};

const TFaultReport& Report(const TFaultTable& table, KeyTextFault fault) { return table[int(fault) - 1]; }

// Reads "first:second" into two slots that are zero at entry. The first field may hold up to 4P bytes
// (empty reads as zero), the second exactly 4P. Everything after the first colon, further colons
// included, is the second field. The first field is read before the second is decoded, so a fault in
// the second field leaves the first field's number in its slot. The fields are decoded where they
// stand, and their decoded bytes wiped, so no copy of a private field is left behind.
KeyTextFault ReadKeyText(std::string_view text, int precision, BigNum& first, BigNum& second) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return KeyTextFault::NoColon;
  const std::size_t keyBytes = 4 * std::size_t(precision);

  System::AnsiString bytes;
  try {
    bytes = Radix64Decode(text.substr(0, colon));
  } catch (const Sysutils::EConvertError&) {
    return KeyTextFault::FirstUndecodable;
  }
  const bool firstFits = std::size_t(bytes.Length()) <= keyBytes;
  if (firstFits) ReadKeyField(first, bytes);
  BNWipe(bytes.data(), 0, std::size_t(bytes.Length()));
  if (!firstFits) return KeyTextFault::FirstLength;

  try {
    bytes = Radix64Decode(text.substr(colon + 1));
  } catch (const Sysutils::EConvertError&) {
    return KeyTextFault::SecondUndecodable;
  }
  const bool secondFits = std::size_t(bytes.Length()) == keyBytes;
  if (secondFits) ReadKeyField(second, bytes);
  BNWipe(bytes.data(), 0, std::size_t(bytes.Length()));
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
  BNWipe(&FPubExp, 0, sizeof FPubExp);
  BNWipe(&FModulus, 0, sizeof FModulus);
  FPublicLoaded = false;

  const KeyTextFault fault = ReadKeyText(Value, FPrecision, FPubExp, FModulus);
  if (fault != KeyTextFault::None) {
    if (fault == KeyTextFault::SecondUndecodable) BNWipe(&FPubExp, 0, sizeof FPubExp);
    if (keepModulus) FModulus = entryModulus;
    const TFaultReport& report = Report(PublicKeyFaults, fault);
    StatusUpdate(report.Message);
    report.Raise(report.Message);
  }
  FPublicLoaded = true;
  FPublicKey = Value;
  StatusUpdate("Public key loaded OK");
}

// As above, a loaded public key gets its modulus back when this load fails. The text arrives as a copy
// (the published signature takes it by value): that copy becomes the stored text on success and is
// wiped on every path, as is the text it replaces.
void TRSA::PutPrivateKey(System::AnsiString Value) {
  struct TBurnOnExit {
    TRSA& Owner;
    System::AnsiString& Text;
    ~TBurnOnExit() { Owner.BurnString(Text); }
  } burnValue{*this, Value};

  System::Randomize();
  KeyChanged();
  const bool keepModulus = FPublicLoaded;
  const BigNum entryModulus = FModulus;
  BNWipe(&FModulus, 0, sizeof FModulus);
  BNWipe(&FPrivExp, 0, sizeof FPrivExp);
  FPrivateLoaded = false;

  const KeyTextFault fault = ReadKeyText(Value, FPrecision, FModulus, FPrivExp);
  if (fault != KeyTextFault::None) {
    if (keepModulus) FModulus = entryModulus;
    const TFaultReport& report = Report(PrivateKeyFaults, fault);
    StatusUpdate(report.Message);
    report.Raise(report.Message);
  }
  FPrivateLoaded = true;
  BurnString(FPrivateKey);
  FPrivateKey = std::move(Value);
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
  BNWipe(&FSigValue, 0, sizeof FSigValue);
  BytesToImage(FSigValue, bytes.bytes(), bytes.Length());
  FSignature = Value;
  FSignatureLoaded = true;
}

}  // namespace Rsa
