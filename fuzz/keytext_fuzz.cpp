// Key and signature texts at every key size. The first input byte chooses the key size, the setter and
// which keys and signature are loaded beforehand; the rest is the text assigned. Each outcome is judged
// against an independent reading of the text: the exception class and message, the status and event,
// the numbers loaded, and on a failure the exact state left behind (a loaded other key keeps its
// modulus; the loading key's text keeps its previous value; a signature failure changes nothing).
#include <cstdint>
#include <optional>
#include <string>
#include <typeinfo>

#include "fuzz/FuzzCheck.h"
#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/KeyStoreProbe.h"

namespace {

using Rsa::BigNum;
using Rsa::BigNumDigits;

Fuzz::CountingRandom gRandom;

enum class Setter { Public, Private, Signature };
enum class Outcome { Loaded, InvalidKey, ConvertError };

struct Expected {
  Outcome Kind = Outcome::Loaded;
  std::string Message;
  bool FirstRead = false;  // the first field's number reached its slot before the failure
  BigNum First{};
  BigNum Second{};
};

// Key field reading: each byte shifted into the current digit, four bytes a digit, from digit 0 up.
BigNum ReadField(const std::string& bytes) {
  BigNum x{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    x.Digits[i / 4] = (x.Digits[i / 4] << 8) | static_cast<unsigned char>(bytes[i]);
  return x;
}

// Signature reading: byte j is bits 8(j mod 4) .. of digit j div 4.
BigNum ReadImage(const std::string& bytes) {
  BigNum x{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    x.Digits[i / 4] |= Rsa::Digit(static_cast<unsigned char>(bytes[i])) << (8 * (i % 4));
  return x;
}

bool Same(const BigNum& a, const BigNum& b) { return Rsa::BNCmp(a, b, BigNumDigits) == 0; }
bool IsZero(const BigNum& a) { return Rsa::BNIsZero(a, BigNumDigits) != 0; }

Expected Judge(Setter setter, const std::string& text, int precision) {
  Expected x;
  const std::size_t keyBytes = 4 * std::size_t(precision);
  auto fail = [&x](Outcome kind, const char* message) {
    x.Kind = kind;
    x.Message = message;
    return x;
  };
  if (setter == Setter::Signature) {
    const auto bytes = Fuzz::ReferenceDecode(text);
    if (!bytes) return fail(Outcome::ConvertError, "Signature not valid");
    if (bytes->size() != keyBytes) return fail(Outcome::ConvertError, "Signature has incorrect length");
    x.First = ReadImage(*bytes);
    return x;
  }
  const bool pub = setter == Setter::Public;
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return fail(Outcome::InvalidKey, "Public key not valid");
  const auto first = Fuzz::ReferenceDecode(text.substr(0, colon));
  if (!first) return fail(Outcome::ConvertError, "Public key not valid");
  if (first->size() > keyBytes) return fail(Outcome::InvalidKey, "Public key has incorrect length");
  x.First = ReadField(*first);
  x.FirstRead = true;
  const auto second = Fuzz::ReferenceDecode(text.substr(colon + 1));
  if (!second) {
    x.FirstRead = false;  // the public key's first slot is cleared again; the private key's stays
    if (!pub) x.FirstRead = true;
    return fail(Outcome::ConvertError, pub ? "Public key not valid" : "Private key not valid");
  }
  if (second->size() != keyBytes)
    return fail(Outcome::InvalidKey, pub ? "Public key has incorrect length" : "Private key has incorrect length");
  x.Second = ReadField(*second);
  return x;
}

// Made-up numbers of the full key size for the state before the call (no arithmetic is done on them).
BigNum Filler(int precision, std::uint32_t salt) {
  BigNum x{};
  for (int i = 0; i < precision; ++i) x.Digits[i] = 0x9E3779B9u * std::uint32_t(i + 1) ^ salt;
  x.Digits[precision - 1] |= 0x80000000u;
  return x;
}

struct Snapshot {
  BigNum PubExp, Modulus, PrivExp, SigValue;
  bool PublicLoaded, PrivateLoaded, SignatureLoaded;
  std::string PublicKey, PrivateKey, Signature;

  explicit Snapshot(const Rsa::TRSA& rsa)
      : PubExp(Testing::PubExpOf(rsa)), Modulus(Testing::ModulusOf(rsa)), PrivExp(Testing::PrivExpOf(rsa)),
        SigValue(Testing::SigValueOf(rsa)), PublicLoaded(Testing::PublicLoaded(rsa)),
        PrivateLoaded(Testing::PrivateLoaded(rsa)), SignatureLoaded(Testing::SignatureLoaded(rsa)),
        PublicKey(rsa.PublicKey().str()), PrivateKey(rsa.PrivateKey().str()), Signature(rsa.Signature().str()) {}
};

void CheckSignatureUntouched(const Rsa::TRSA& rsa, const Snapshot& before) {
  FUZZ_CHECK(Same(Testing::SigValueOf(rsa), before.SigValue));
  FUZZ_CHECK(Testing::SignatureLoaded(rsa) == before.SignatureLoaded);
  FUZZ_CHECK(rsa.Signature().str() == before.Signature);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  static const Rsa::TKeyBits sizes[] = {Rsa::kb0512, Rsa::kb1024, Rsa::kb2048, Rsa::kb4096};
  const Rsa::TKeyBits keyBits = sizes[mode & 3];
  const Setter setter = (mode >> 2 & 3) == 1 ? Setter::Private : (mode >> 2 & 3) == 2 ? Setter::Signature
                                                                                       : Setter::Public;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(keyBits);
  const int precision = rsa.GetPrecision();

  // The state before the call, loaded through the texts so that every text has a previous value.
  const BigNum e = Filler(precision, 0x11), n = Filler(precision, 0x22), d = Filler(precision, 0x33);
  if (mode & 0x10) rsa.PutPublicKey(Rsa::KeyFieldText(e) + ":" + Rsa::KeyFieldText(n, precision));
  if (mode & 0x20) rsa.PutPrivateKey(Rsa::KeyFieldText(n) + ":" + Rsa::KeyFieldText(d, precision));
  if (mode & 0x40) rsa.PutSignature(Rsa::SignatureText(Filler(precision, 0x44), precision));

  int events = 0;
  std::string statusAtEvent;
  rsa.SetOnStatusUpdate([&](System::TObject* sender) {
    FUZZ_CHECK(sender == &rsa);
    ++events;
    statusAtEvent = rsa.Status().str();
  });
  rsa.SetStatus("before");
  const Snapshot before(rsa);
  const Expected expected = Judge(setter, text, precision);

  Outcome got = Outcome::Loaded;
  std::string message;
  try {
    switch (setter) {
      case Setter::Public: rsa.PutPublicKey(text); break;
      case Setter::Private: rsa.PutPrivateKey(text); break;
      case Setter::Signature: rsa.PutSignature(text); break;
    }
  } catch (const Rsa::EInvalidKey& ex) {
    got = Outcome::InvalidKey;
    message = ex.Message().str();
  } catch (const Sysutils::EConvertError& ex) {
    FUZZ_CHECK(typeid(ex) == typeid(Sysutils::EConvertError));
    got = Outcome::ConvertError;
    message = ex.Message().str();
  }
  FUZZ_CHECK(got == expected.Kind);
  FUZZ_CHECK(message == expected.Message);

  if (got != Outcome::Loaded) {
    // Every failure is reported once through the status, with the exception's own message.
    FUZZ_CHECK(rsa.Status().str() == expected.Message);
    FUZZ_CHECK(events == 1 && statusAtEvent == expected.Message);
  }

  switch (setter) {
    case Setter::Signature:
      FUZZ_CHECK(Same(Testing::PubExpOf(rsa), before.PubExp));
      FUZZ_CHECK(Same(Testing::ModulusOf(rsa), before.Modulus));
      FUZZ_CHECK(Same(Testing::PrivExpOf(rsa), before.PrivExp));
      FUZZ_CHECK(Testing::PublicLoaded(rsa) == before.PublicLoaded);
      FUZZ_CHECK(Testing::PrivateLoaded(rsa) == before.PrivateLoaded);
      if (got != Outcome::Loaded) {
        CheckSignatureUntouched(rsa, before);
      } else {
        // Loaded exactly: nothing above the key size, and the text written back is the canonical one.
        FUZZ_CHECK(Same(Testing::SigValueOf(rsa), expected.First));
        FUZZ_CHECK(Testing::SignatureLoaded(rsa));
        FUZZ_CHECK(rsa.Signature().str() == text);
        FUZZ_CHECK(rsa.Status().str() == "before" && events == 0);
        const std::string rewritten = Rsa::SignatureText(Testing::SigValueOf(rsa), precision).str();
        FUZZ_CHECK(Fuzz::ReferenceDecode(rewritten) == Fuzz::ReferenceDecode(text));
      }
      break;

    case Setter::Public:
    case Setter::Private: {
      const bool pub = setter == Setter::Public;
      const BigNum& ownExp = pub ? Testing::PubExpOf(rsa) : Testing::PrivExpOf(rsa);
      const BigNum& otherExp = pub ? Testing::PrivExpOf(rsa) : Testing::PubExpOf(rsa);
      const bool ownLoaded = pub ? Testing::PublicLoaded(rsa) : Testing::PrivateLoaded(rsa);
      const bool otherLoaded = pub ? Testing::PrivateLoaded(rsa) : Testing::PublicLoaded(rsa);
      const bool otherLoadedBefore = pub ? before.PrivateLoaded : before.PublicLoaded;
      const std::string ownText = (pub ? rsa.PublicKey() : rsa.PrivateKey()).str();
      const std::string ownTextBefore = pub ? before.PublicKey : before.PrivateKey;
      CheckSignatureUntouched(rsa, before);
      FUZZ_CHECK(Same(otherExp, pub ? before.PrivExp : before.PubExp));
      FUZZ_CHECK(otherLoaded == otherLoadedBefore);
      if (got == Outcome::Loaded) {
        const BigNum& exponent = pub ? expected.First : expected.Second;
        const BigNum& modulus = pub ? expected.Second : expected.First;
        FUZZ_CHECK(ownLoaded);
        FUZZ_CHECK(Same(ownExp, exponent));
        FUZZ_CHECK(Same(Testing::ModulusOf(rsa), modulus));
        FUZZ_CHECK(ownText == text);
        FUZZ_CHECK(rsa.Status().str() == (pub ? "Public key loaded OK" : "Private key loaded OK"));
        FUZZ_CHECK(events == 1);
        // The second field is written back over exactly P digits: the same bytes that were read.
        const std::size_t colon = text.find(':');
        const std::string rewritten = Rsa::KeyFieldText(expected.Second, precision).str();
        FUZZ_CHECK(Fuzz::ReferenceDecode(rewritten) == Fuzz::ReferenceDecode(text.substr(colon + 1)));
        // A first field of whole digits with a non-zero top digit is written back the same way.
        const auto firstBytes = Fuzz::ReferenceDecode(text.substr(0, colon));
        if (firstBytes->size() % 4 == 0 &&
            (firstBytes->empty() || firstBytes->substr(firstBytes->size() - 4) != std::string(4, '\0')))
          FUZZ_CHECK(Fuzz::ReferenceDecode(Rsa::KeyFieldText(expected.First).str()) == firstBytes);
      } else {
        FUZZ_CHECK(!ownLoaded);
        FUZZ_CHECK(ownText == ownTextBefore);
        if (pub) {
          // The exponent holds the first field's number only after a wrong second-field length.
          const bool keepsFirst = expected.FirstRead && expected.Kind == Outcome::InvalidKey;
          FUZZ_CHECK(keepsFirst ? Same(ownExp, expected.First) : IsZero(ownExp));
        } else {
          FUZZ_CHECK(IsZero(ownExp));
        }
        // The shared modulus: as it was when the other key is loaded, else as the failure left it.
        if (otherLoadedBefore) {
          FUZZ_CHECK(Same(Testing::ModulusOf(rsa), before.Modulus));
        } else if (!pub && expected.FirstRead) {
          FUZZ_CHECK(Same(Testing::ModulusOf(rsa), expected.First));
        } else {
          FUZZ_CHECK(IsZero(Testing::ModulusOf(rsa)));
        }
      }
      break;
    }
  }
  return 0;
}
