// The envelope's symmetric part: the file key and what is derived from it (HKDF-SHA256), the header's
// HMAC-SHA256, and the chunks' AES-256-GCM with their nonces. All of it is libcrypto's.
#pragma once

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Qarvex::Envelope {

inline constexpr std::size_t FileKeyBytes = 32;
inline constexpr std::size_t SaltBytes = 32;
inline constexpr std::size_t MacBytes = 32;

// Key material, wiped when it goes.
template <std::size_t N>
struct SecretBytes {
  unsigned char Data[N] = {};
  SecretBytes() = default;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { OPENSSL_cleanse(Data, N); }
};

// The two keys derived from the file key and the salt: HKDF-SHA256 with the info strings
// "qarvex-envelope/1 header" and "qarvex-envelope/1 payload" (the same in both format versions).
struct DerivedKeys {
  SecretBytes<32> Header, Payload;
  DerivedKeys(const unsigned char* fileKey, const unsigned char* salt);
};

// HMAC-SHA256 of the header's text under the header key. Constant time in the key.
void HeaderMac(const unsigned char* headerKey, const std::string& text, unsigned char* mac);

// One AES-256-GCM context for the whole stream, re-keyed with each chunk's nonce: chunk `index` (from
// 0) has 11 bytes of its number, most significant first, then 1 for the last chunk and 0 for every
// other.
class ChunkCipher {
 public:
  ChunkCipher(const unsigned char* key, bool encrypt);
  // Encrypts size bytes of in to out and appends the 16-byte tag.
  void Seal(std::uint64_t index, bool last, const unsigned char* in, std::size_t size, unsigned char* out);
  // Decrypts a chunk (cipher text then tag) into out; false when it does not authenticate.
  bool Open(std::uint64_t index, bool last, const unsigned char* in, std::size_t size, unsigned char* out);

 private:
  struct CtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
  };
  void Start(std::uint64_t index, bool last);
  std::unique_ptr<EVP_CIPHER_CTX, CtxFree> FCtx;
  bool FEncrypt;
};

// Lower-case hex, and its reverse (false unless exactly 2*size hex digits).
std::string Hex(const unsigned char* data, std::size_t size);
bool FromHex(const std::string& text, unsigned char* out, std::size_t size);

// size random bytes from libcrypto's generator.
void RandomBytes(unsigned char* out, std::size_t size);

}  // namespace Qarvex::Envelope
