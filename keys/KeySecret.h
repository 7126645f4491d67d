// Key material in the library's own buffers is overwritten before the memory is given back.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <string>

namespace Qarvex::Keys {

// Overwrites a buffer in a way the compiler cannot drop.
inline void Wipe(void* data, std::size_t size) { OPENSSL_cleanse(data, size); }

inline void Wipe(std::string& text) {
  Wipe(text.data(), text.size());
  text.clear();
}

// A string that holds key material (a key file, a PEM text, a passphrase) and is wiped when it goes.
class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::string text) : FText(std::move(text)) {}
  ~SecretText() { Wipe(FText); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  std::string& Text() { return FText; }
  const std::string& Text() const { return FText; }

 private:
  std::string FText;
};

}  // namespace Qarvex::Keys
