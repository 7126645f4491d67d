// Key files: a form file holding one TRSA, or a file holding one bare key text ("first:second").
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/core/Classes.h"
#include "rsa/RSA.h"

namespace Qarvex::Keys {

// A form that owns one TRSA component, as a key file holds it.
class KeyHolder {
 public:
  // A form "KeyForm" owning a fresh component "RSA1".
  KeyHolder();
  // Takes over a form read from a key file and the component found in it.
  KeyHolder(std::unique_ptr<Classes::TComponent> form, Rsa::TRSA* rsa);
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  ~KeyHolder();

  Rsa::TRSA& Rsa() { return *FRsa; }
  Classes::TComponent& Form() { return *FForm; }

  bool HasPublicKey() const { return !FRsa->PublicKey().IsEmpty(); }
  bool HasPrivateKey() const { return !FRsa->PrivateKey().IsEmpty(); }

 private:
  std::unique_ptr<Classes::TComponent> FForm;
  Rsa::TRSA* FRsa;  // owned by FForm
};

// The known key sizes as "512, 1024, ... or 4096" in bits, or in bytes ("64, 128, ... or 512").
std::string KeySizeList(bool inBytes = false);
// The key size whose key text fields have this many bytes (K = 64, 128, 256, 384 or 512). Anything else
// is refused with a message naming `what`.
Rsa::TKeyBits KeyBitsForBytes(std::size_t bytes, const std::string& what);
// The key size whose blocks a modulus of this many bits can serve: one that fills the top byte of the
// size (505-512, ..., 4089-4096 bits), since the component's blocks stay below n only then.
std::optional<Rsa::TKeyBits> KeyBitsForModulus(unsigned bits);
// The size in bits: 512 to 4096.
int KeyBitsNumber(Rsa::TKeyBits bits);
// The key size of a number of bits written in decimal ("512" ... "4096"), if it is one.
std::optional<Rsa::TKeyBits> KeyBitsForNumber(const std::string& text);

// A key text field of x: its 32-bit digits least significant first, each digit's bytes most
// significant first, radix-64 encoded by the component; `digits` 0 writes the significant digits only,
// otherwise exactly that many.
System::AnsiString KeyFieldText(Rsa::TRSA& rsa, const Rsa::BigNum& x, int digits);

// Loads a key file (standard input when path is empty or "-"; at most 1 MiB). A bare key text is loaded as a private key when its first field is as long as its
// second (n:d), otherwise as a public key (e:n); KeyBits follows from the second field's length. The
// file's content is wiped from memory once read.
std::unique_ptr<KeyHolder> LoadKeyFile(const std::string& path);
// Loads a key file's content (path names it in messages).
std::unique_ptr<KeyHolder> LoadKeyText(const std::string& content, const std::string& path);

// The form file text of the holder's form and component.
std::string KeyFileText(KeyHolder& holder);
// Reads a form file's text and finds the one TRSA it holds (path names it in messages).
std::unique_ptr<KeyHolder> ReadKeyForm(const std::string& text, const std::string& path);

}  // namespace Qarvex::Keys
