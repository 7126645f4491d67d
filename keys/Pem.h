// OpenSSL's key files (PEM) in and out, through libcrypto. The component never sees OpenSSL: keys cross
// as numbers.
#pragma once

#include <string>

#include "rsa/RSA.h"

namespace Qarvex::Keys {

// The numbers of an RSA key. d is zero for a public key.
struct RsaNumbers {
  Rsa::BigNum e{};
  Rsa::BigNum n{};
  Rsa::BigNum d{};
  bool HasPrivate = false;
};

// Reads an RSA key in PEM form: PKCS#1 ("RSA PRIVATE KEY", "RSA PUBLIC KEY"), PKCS#8 ("PRIVATE KEY")
// or SubjectPublicKeyInfo ("PUBLIC KEY"), or the same structures in DER (binary) form. Encrypted keys
// and keys of other types are refused.
RsaNumbers ReadKey(const std::string& data);

// The public key (e, n) as SubjectPublicKeyInfo PEM, checked by OpenSSL.
std::string PublicKeyPem(const Rsa::BigNum& e, const Rsa::BigNum& n);

// The private key as unencrypted PKCS#8 PEM. The primes p and q are recovered from n, e and d, the
// CRT values derived from them, and OpenSSL checks the whole key before it is returned.
std::string PrivateKeyPem(const Rsa::BigNum& e, const Rsa::BigNum& n, const Rsa::BigNum& d);

// Bits of a key store number.
unsigned BitLength(const Rsa::BigNum& x);

}  // namespace Qarvex::Keys
