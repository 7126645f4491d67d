// The numbers of an RSA key as a format holds them, between a format's reader and the key's checks.
// Internal to the key library.
#pragma once

#include <memory>
#include <string>

#include "keys/KeyFile.h"
#include "keys/KeySecret.h"

namespace Qarvex::Keys::Internal {

// Big-endian magnitudes (leading zero bytes allowed); a member is absent when `Has...` is false. Each
// reader refuses negative numbers before they get here. Wiped when it goes.
struct KeyParts {
  std::string Format;  // how the key was recognised, for messages: "a PEM PKCS#8 key", "an OpenSSH key"
  std::string N, E, D, P, Q, Dp, Dq, Qi;
  bool HasN = false, HasE = false, HasD = false;
  bool HasFactors = false;  // P and Q
  bool HasCrt = false;      // Dp, Dq and Qi
  bool HasQi = false;       // Qi alone

  KeyParts() = default;
  KeyParts(const KeyParts&) = delete;
  KeyParts& operator=(const KeyParts&) = delete;
  ~KeyParts() {
    for (std::string* s : {&N, &E, &D, &P, &Q, &Dp, &Dq, &Qi}) Wipe(*s);
  }
};

// Checks the key (see CheckedKey in KeyCheck.cpp) and loads it into a fresh component at the key size
// its modulus fits. KeyError names `path` and the format.
std::unique_ptr<KeyHolder> LoadCheckedKey(KeyParts& parts, const std::string& path);

// Checks a component loaded from a form file or a key text the same way.
void CheckLoadedKey(KeyHolder& holder, const std::string& path);

}  // namespace Qarvex::Keys::Internal
