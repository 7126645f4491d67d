// Key material in the tool's own buffers is overwritten before the memory is given back.
#pragma once

#include <openssl/crypto.h>

#include <cstring>
#include <string>

namespace Qrsa {

// Overwrites a buffer in a way the compiler cannot drop.
inline void Wipe(void* data, std::size_t size) { OPENSSL_cleanse(data, size); }

inline void Wipe(std::string& text) {
  Wipe(text.data(), text.size());
  text.clear();
}

// A string that holds key material (a key file, a PEM text, a hex key) and is wiped when it goes.
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

// Secret bytes passing through (decrypted data, plain text on its way to encryption). Room for
// `capacity` bytes is reserved up front, so as long as they stay within it, appending never moves them
// and leaves no copy behind in freed memory; bytes are wiped as they leave.
class SecretBuffer {
 public:
  explicit SecretBuffer(std::size_t capacity) { FBytes.reserve(capacity); }
  ~SecretBuffer() { Wipe(FBytes); }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

  std::string& Bytes() { return FBytes; }
  // Removes the first `count` bytes; the room the others leave behind is wiped.
  void Consume(std::size_t count) {
    const std::size_t size = FBytes.size();
    std::memmove(FBytes.data(), FBytes.data() + count, size - count);
    Wipe(FBytes.data() + size - count, count);
    FBytes.resize(size - count);
  }
  void Clear() { Consume(FBytes.size()); }

 private:
  std::string FBytes;
};

}  // namespace Qrsa
