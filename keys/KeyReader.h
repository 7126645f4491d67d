// Reading a key in any format users hold, found from the content: the component's form file and key
// text; PEM and DER PKCS#1, PKCS#8, SubjectPublicKeyInfo, encrypted PKCS#8 and the traditional
// encrypted PEM; OpenSSH's public line, the RFC 4716 public key block and the OPENSSH PRIVATE KEY file
// (plain or encrypted); a JWK or a JWK Set holding one key. Every key is checked before it is returned
// (see CheckKey in KeyFile.h), so a key that is read can be used.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "keys/KeyFile.h"

namespace Qarvex::Keys {

// Asked for the passphrase of the encrypted key named `path`: fills `passphrase`, which the library
// wipes after use, or throws to refuse.
using PassphraseSource = std::function<void(const std::string& path, std::string& passphrase)>;

struct ReadOptions {
  // Without one, an encrypted key is refused as such.
  PassphraseSource Passphrase;
};

// Reads the key in `content` (path names it in messages). KeyError says what is wrong, naming the
// format that was recognised; an encrypted key with a wrong passphrase gives "wrong passphrase for
// PATH, or the key is damaged".
std::unique_ptr<KeyHolder> ReadKeyText(const std::string& content, const std::string& path,
                                       const ReadOptions& options = {});
// Reads the key file at path (standard input when empty or "-"; at most 1 MiB).
std::unique_ptr<KeyHolder> ReadKeyFile(const std::string& path, const ReadOptions& options = {});

}  // namespace Qarvex::Keys
