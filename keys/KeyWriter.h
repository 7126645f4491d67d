// Writing a key in a named format: PEM or DER (PKCS#8 private key, SubjectPublicKeyInfo public key),
// PKCS#1 PEM, OpenSSH (the ssh-rsa line, or the OPENSSH PRIVATE KEY file), a JWK with its RFC 7638
// thumbprint as "kid", the component's key text, or a key file. Private keys in PEM, DER and OpenSSH
// form may be encrypted.
#pragma once

#include <optional>
#include <string>

#include "keys/KeyFile.h"

namespace Qarvex::Keys {

enum class KeyFormat { Pem, Der, Pkcs1, OpenSsh, Jwk, Text, Form };

// "pem", "der", "pkcs1", "openssh", "jwk", "text" or "form".
std::optional<KeyFormat> ParseKeyFormat(const std::string& name);
// Whether the format can be written encrypted (pem, der, openssh).
bool CanEncrypt(KeyFormat format);

struct WriteOptions {
  bool PublicOnly = false;
  // Encrypt with this passphrase (not empty): PBES2 with PBKDF2-HMAC-SHA256 (600,000 iterations,
  // random salt) and AES-256-CBC for pem and der; bcrypt_pbkdf (16 rounds, random salt) and
  // aes256-ctr for openssh.
  const std::string* Passphrase = nullptr;
  std::string Comment;  // the OpenSSH comment
  // Rounds of the OpenSSH bcrypt KDF and PBKDF2 iterations, for tests that cannot wait; 0: the above.
  unsigned OpenSshRounds = 0;
};

// The key in the format: the private key unless PublicOnly (the public key then). KeyError when the
// key lacks what the format needs (a private key needs its public exponent too). The result holds
// key material when it holds a private key: the caller wipes it.
std::string WriteKey(KeyHolder& holder, KeyFormat format, const WriteOptions& options);

// The RFC 7638 thumbprint of the public key: base64url SHA-256 of {"e":...,"kty":"RSA","n":...}.
std::string JwkThumbprint(KeyHolder& holder);
// "SHA256:" and the unpadded base64 SHA-256 of the SSH public key blob, as ssh-keygen -l prints it.
std::string SshFingerprint(KeyHolder& holder);

}  // namespace Qarvex::Keys
