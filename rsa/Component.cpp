// The component frame: construction, key size, status reporting, the key store as numbers, wiping.
#include <iterator>
#include <string>

#include "rsa/RSA.h"

#include "bignum/BigNum.h"
#include "rsa/KeyCache.h"

namespace Rsa {

namespace {

// Each entry sits at its TKeyBits ordinal, spells a precision of Bits / 32 digits, and fits a BigNum
// with room for the double-width products of key generation.
constexpr bool KeySizesConsistent() {
  int ordinal = 0;
  for (const TKeySize& size : KeySizes)
    if (size.KeyBits != ordinal++ || size.Bits != 32 * size.Precision || size.Precision > int(BigNumDigits))
      return false;
  return true;
}
static_assert(KeySizesConsistent(), "KeySizes lists every TKeyBits value in order");

const char* const SymKeyLengthNames[] = {"sk64", "sk128", "sk192", "sk256"};

// Published properties in declaration order, the order in which they are streamed.
std::vector<Classes::TPropInfo> PublishedProperties() {
  using Classes::TComponent;
  using Classes::TPropInfo;
  using Classes::TPropKind;
  auto self = [](const TComponent& c) -> const TRSA& { return static_cast<const TRSA&>(c); };
  auto mut = [](TComponent& c) -> TRSA& { return static_cast<TRSA&>(c); };
  std::vector<TPropInfo> props;
  auto make = [](const char* name, TPropKind kind) {
    TPropInfo p;
    p.Name = name;
    p.Kind = kind;
    return p;
  };

  TPropInfo keyBits = make("KeyBits", TPropKind::Enumeration);
  for (const TKeySize& size : KeySizes) keyBits.EnumNames.push_back(size.Name);
  keyBits.AlwaysStored = true;
  keyBits.GetOrdinal = [self](const TComponent& c) { return int(self(c).KeyBits()); };
  keyBits.SetOrdinal = [mut](TComponent& c, int v) { mut(c).SetKeyBits(TKeyBits(v)); };
  props.push_back(keyBits);

  auto text = [&, make](const char* name, const System::AnsiString& (TRSA::*get)() const,
                  void (TRSA::*put)(const System::AnsiString), bool secret) {
    TPropInfo p = make(name, TPropKind::String);
    p.Secret = secret;
    p.GetString = [self, get](const TComponent& c) { return (self(c).*get)(); };
    p.SetString = [mut, put](TComponent& c, const System::AnsiString& v) { (mut(c).*put)(v); };
    props.push_back(p);
  };
  text("PublicKey", &TRSA::PublicKey, &TRSA::PutPublicKey, false);
  text("PrivateKey", &TRSA::PrivateKey, &TRSA::PutPrivateKey, true);
  text("Signature", &TRSA::Signature, &TRSA::PutSignature, false);

  TPropInfo status = make("Status", TPropKind::String);
  status.GetString = [self](const TComponent& c) { return self(c).Status(); };
  status.SetString = [mut](TComponent& c, const System::AnsiString& v) { mut(c).SetStatus(v); };
  props.push_back(status);

  TPropInfo symKey = make("SymKeyLength", TPropKind::Enumeration);
  symKey.EnumNames = {std::begin(SymKeyLengthNames), std::end(SymKeyLengthNames)};
  symKey.AlwaysStored = true;
  symKey.GetOrdinal = [self](const TComponent& c) { return int(self(c).SymKeyLength()); };
  symKey.SetOrdinal = [mut](TComponent& c, int v) { mut(c).SetSymKeyLength(TSymKeyLength(v)); };
  props.push_back(symKey);

  TPropInfo event = make("OnStatusUpdate", TPropKind::Event);
  event.GetEvent = [self](const TComponent& c) { return self(c).OnStatusUpdate(); };
  event.SetEvent = [mut](TComponent& c, const Classes::TNotifyEvent& v) { mut(c).SetOnStatusUpdate(v); };
  props.push_back(event);
  return props;
}

Classes::TComponent* CreateTRSA(Classes::TComponent* owner) { return new TRSA(owner); }

// Registered while the unit is loaded, so form files can create TRSA by name; withdrawn when the unit
// is unloaded (a package going away), so the registry never points into unloaded code.
struct TRSARegistration {
  TRSARegistration() { Classes::RegisterClass<TRSA>(); }
  ~TRSARegistration() { Classes::UnregisterClass(TRSA::StaticClassInfo(), typeid(TRSA)); }
};
const TRSARegistration Registered;

}  // namespace

const Classes::TClassInfo& TRSA::StaticClassInfo() {
  static const Classes::TClassInfo info{"TRSA", &CreateTRSA, PublishedProperties()};
  return info;
}

TRSA::TRSA(Classes::TComponent* AOwner) : Classes::TComponent(AOwner) {
  (void)Registered;
}

void TRSA::SetKeyBits(const TKeyBits Value) {
  // No shortcut for an unchanged value: assigning always sets the precision and reports it.
  if (Value >= std::size(KeySizes)) throw Sysutils::ERangeError("KeyBits value out of range");
  const TKeySize& size = KeySizes[Value];
  FPrecision = size.Precision;
  FStatus = "TRSA using " + std::to_string(size.Bits) + " bit key";
  FKeyBits = Value;
  KeyChanged();
  DoStatusUpdate();
}

int TRSA::GetPrecision() { return FPrecision; }

int TRSA::GetSymKeyBytes() {
  switch (FSymKeyLength) {
    case sk64: return 8;
    case sk128: return 16;
    case sk192: return 24;
    case sk256: return 32;
  }
  return 8;
}

System::AnsiString TRSA::GetVersion() { return "1.01"; }

void TRSA::DoStatusUpdate() {
  if (FOnStatusUpdate.Assigned()) FOnStatusUpdate(this);
}

void TRSA::StatusUpdate(const System::AnsiString& Text) {
  FStatus = Text;
  DoStatusUpdate();
}

void TRSA::RequirePrecision() {
  if (FPrecision == 0) Fail<EInvalidKey>("Key size not set: assign KeyBits first");
}

void TRSA::GetPublicKey(BigNum& e, BigNum& n) {
  if (!FPublicLoaded) {
    BNWipe(&e, 0, sizeof e);
    BNWipe(&n, 0, sizeof n);
    Fail<ENoKeyLoaded>("Public key not loaded");
  }
  e = FPubExp;
  n = FModulus;
}

void TRSA::GetPrivateKey(BigNum& n, BigNum& d) {
  if (!FPrivateLoaded) {
    BNWipe(&d, 0, sizeof d);
    BNWipe(&n, 0, sizeof n);
    Fail<ENoKeyLoaded>("Private key not loaded");
  }
  n = FModulus;
  d = FPrivExp;
}

void TRSA::SetPublicKey(const BigNum& e, const BigNum& n) {
  KeyChanged();
  FPubExp = e;
  FModulus = n;
  FPublicLoaded = true;
}

void TRSA::SetPrivateKey(const BigNum& n, const BigNum& d) {
  KeyChanged();
  FModulus = n;
  FPrivExp = d;
  FPrivateLoaded = true;
}

void TRSA::Burn() {
  KeyChanged();
  BNWipe(&FPubExp, 0, sizeof FPubExp);
  BNWipe(&FModulus, 0, sizeof FModulus);
  BNWipe(&FPrivExp, 0, sizeof FPrivExp);
  BurnString(FPublicKey);
  BurnString(FPrivateKey);
  BurnString(FSignature);
  FPublicLoaded = false;
  FPrivateLoaded = false;
  FSignatureLoaded = false;
}

void TRSA::BurnString(System::AnsiString& S) {
  if (S.Length() > 0) BNWipe(S.data(), 0, std::size_t(S.Length()));
  S = System::AnsiString();
}

}  // namespace Rsa
