#include "keys/KeyFile.h"

#include <iterator>

#include "keys/KeyError.h"
#include "keys/KeyInput.h"
#include "keys/KeyReader.h"
#include "keys/KeySecret.h"
#include "keys/KeyTexts.h"

namespace Qarvex::Keys {

namespace {

// The text without trailing white space and line breaks.
std::string TrimTrailing(std::string text) {
  const auto end = text.find_last_not_of(" \t\r\n\v\f");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

// A form file starts with the keyword of its root object.
bool LooksLikeForm(const std::string& text) {
  const auto start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return false;
  for (const char* keyword : {"object ", "inherited ", "inline "})
    if (text.compare(start, std::char_traits<char>::length(keyword), keyword) == 0) return true;
  return false;
}

std::unique_ptr<KeyHolder> LoadBareKeyText(const std::string& text, const std::string& path) {
  const auto colon = text.find(':');
  auto holder = std::make_unique<KeyHolder>();
  Rsa::TRSA& rsa = holder->Rsa();
  System::AnsiString first = text.substr(0, colon);
  System::AnsiString second = text.substr(colon + 1);
  std::size_t secondBytes = 0, firstBytes = 0;
  try {
    System::AnsiString decoded = rsa.DecodeString(second);
    secondBytes = std::size_t(decoded.Length());
    rsa.BurnString(decoded);
    decoded = rsa.DecodeString(first);
    firstBytes = std::size_t(decoded.Length());
    rsa.BurnString(decoded);
  } catch (const Sysutils::EConvertError&) {
    rsa.BurnString(first);
    rsa.BurnString(second);
    throw KeyError(path + ": the key text is not valid (a key text is two radix-64 fields joined by ':')");
  }
  rsa.BurnString(first);
  rsa.BurnString(second);
  rsa.SetKeyBits(KeyBitsForBytes(secondBytes, path + ": the key text's second field"));
  if (firstBytes == secondBytes)
    rsa.PutPrivateKey(text);  // n:d, the modulus first
  else
    rsa.PutPublicKey(text);  // e:n, a short exponent first
  return holder;
}

}  // namespace

KeyHolder::KeyHolder() : FForm(std::make_unique<Classes::TForm>(nullptr)), FRsa(new Rsa::TRSA(FForm.get())) {
  FForm->SetName("KeyForm");
  FRsa->SetName("RSA1");
}

KeyHolder::KeyHolder(std::unique_ptr<Classes::TComponent> form, Rsa::TRSA* rsa) : FForm(std::move(form)), FRsa(rsa) {}

KeyHolder::~KeyHolder() {
  if (FRsa) FRsa->Burn();
}

// Every key size the tool knows comes from the component's one table, Rsa::KeySizes.

std::string KeySizeList(bool inBytes) {
  std::string list;
  const std::size_t count = std::size(Rsa::KeySizes);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " or " : ", ";
    list += std::to_string(inBytes ? 4 * Rsa::KeySizes[i].Precision : Rsa::KeySizes[i].Bits);
  }
  return list;
}

Rsa::TKeyBits KeyBitsForBytes(std::size_t bytes, const std::string& what) {
  for (const Rsa::TKeySize& size : Rsa::KeySizes)
    if (bytes == std::size_t(4 * size.Precision)) return size.KeyBits;
  throw KeyError(what + " has " + std::to_string(bytes) + " bytes; a key of " + KeySizeList() +
                " bits has " + KeySizeList(true));
}

std::optional<Rsa::TKeyBits> KeyBitsForModulus(unsigned bits) {
  for (const Rsa::TKeySize& size : Rsa::KeySizes)
    if (bits > unsigned(size.Bits) - 8 && bits <= unsigned(size.Bits)) return size.KeyBits;
  return std::nullopt;
}

int KeyBitsNumber(Rsa::TKeyBits bits) { return Rsa::KeySizes[bits].Bits; }

std::optional<Rsa::TKeyBits> KeyBitsForNumber(const std::string& text) {
  for (const Rsa::TKeySize& size : Rsa::KeySizes)
    if (text == std::to_string(size.Bits)) return size.KeyBits;
  return std::nullopt;
}

System::AnsiString KeyFieldText(Rsa::TRSA& rsa, const Rsa::BigNum& x, int digits) {
  int count = digits;
  if (count <= 0)
    for (int i = int(Rsa::BigNumDigits); i-- > 0;)
      if (x.Digits[i] != 0) {
        count = i + 1;
        break;
      }
  System::AnsiString bytes;
  std::string raw(std::size_t(4 * count), '\0');
  for (int i = 0; i < count; ++i)
    for (int b = 0; b < 4; ++b) raw[std::size_t(4 * i + b)] = static_cast<char>(x.Digits[i] >> (24 - 8 * b));
  bytes = raw;
  Wipe(raw);
  System::AnsiString text = rsa.EncodeString(bytes);
  rsa.BurnString(bytes);
  return text;
}

std::unique_ptr<KeyHolder> LoadKeyFile(const std::string& path) { return ReadKeyFile(path); }

std::unique_ptr<KeyHolder> LoadKeyText(const std::string& content, const std::string& path) {
  return ReadKeyText(content, path);
}

namespace Internal {

bool LooksLikeForm(const std::string& text) { return Qarvex::Keys::LooksLikeForm(text); }
std::string TrimTrailing(std::string text) { return Qarvex::Keys::TrimTrailing(std::move(text)); }
std::unique_ptr<KeyHolder> LoadBareKeyText(const std::string& text, const std::string& path) {
  return Qarvex::Keys::LoadBareKeyText(text, path);
}

}  // namespace Internal

}  // namespace Qarvex::Keys
