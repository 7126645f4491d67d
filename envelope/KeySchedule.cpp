#include "envelope/KeySchedule.h"

#include <openssl/core_names.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <cstring>

#include "envelope/Envelope.h"

namespace Qarvex::Envelope {

namespace {

constexpr std::size_t NonceBytes = 12;

struct KdfFree {
  void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
};
struct KdfCtxFree {
  void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
};

// HKDF-SHA256(file key, salt, info) -> 32 bytes.
void DeriveKey(const unsigned char* fileKey, const unsigned char* salt, const char* info, unsigned char* out) {
  std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
  std::unique_ptr<EVP_KDF_CTX, KdfCtxFree> ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  if (!ctx) throw EnvelopeError("HKDF is not available");
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(fileKey), FileKeyBytes),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<unsigned char*>(salt), SaltBytes),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info), std::strlen(info)),
      OSSL_PARAM_construct_end()};
  if (EVP_KDF_derive(ctx.get(), out, 32, params) != 1) throw EnvelopeError("key derivation failed");
}

void ChunkNonce(std::uint64_t index, bool last, unsigned char* nonce) {
  std::memset(nonce, 0, NonceBytes);
  for (int i = 0; i < 8; ++i) nonce[10 - i] = static_cast<unsigned char>(index >> (8 * i));
  nonce[11] = last ? 1 : 0;
}

}  // namespace

DerivedKeys::DerivedKeys(const unsigned char* fileKey, const unsigned char* salt) {
  DeriveKey(fileKey, salt, "qarvex-envelope/1 header", Header.Data);
  DeriveKey(fileKey, salt, "qarvex-envelope/1 payload", Payload.Data);
}

void HeaderMac(const unsigned char* headerKey, const std::string& text, unsigned char* mac) {
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), headerKey, 32, reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac,
            &length) ||
      length != MacBytes)
    throw EnvelopeError("HMAC-SHA256 is not available");
}

ChunkCipher::ChunkCipher(const unsigned char* key, bool encrypt) : FCtx(EVP_CIPHER_CTX_new()), FEncrypt(encrypt) {
  if (!FCtx || EVP_CipherInit_ex(FCtx.get(), EVP_aes_256_gcm(), nullptr, key, nullptr, encrypt ? 1 : 0) != 1)
    throw EnvelopeError("AES-256-GCM is not available");
}

void ChunkCipher::Seal(std::uint64_t index, bool last, const unsigned char* in, std::size_t size, unsigned char* out) {
  Start(index, last);
  int length = 0, final = 0;
  if (EVP_EncryptUpdate(FCtx.get(), out, &length, in, int(size)) != 1 ||
      EVP_EncryptFinal_ex(FCtx.get(), out + length, &final) != 1 ||
      EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_GET_TAG, int(TagBytes), out + size) != 1)
    throw EnvelopeError("encryption failed");
}

bool ChunkCipher::Open(std::uint64_t index, bool last, const unsigned char* in, std::size_t size, unsigned char* out) {
  if (size < TagBytes) return false;
  const std::size_t textBytes = size - TagBytes;
  Start(index, last);
  int length = 0, final = 0;
  if (EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_SET_TAG, int(TagBytes), const_cast<unsigned char*>(in + textBytes)) != 1 ||
      EVP_DecryptUpdate(FCtx.get(), out, &length, in, int(textBytes)) != 1)
    return false;
  return EVP_DecryptFinal_ex(FCtx.get(), out + length, &final) == 1;
}

void ChunkCipher::Start(std::uint64_t index, bool last) {
  unsigned char nonce[NonceBytes];
  ChunkNonce(index, last, nonce);
  if (EVP_CipherInit_ex(FCtx.get(), nullptr, nullptr, nullptr, nonce, FEncrypt ? 1 : 0) != 1)
    throw EnvelopeError("cannot start a chunk");
}

std::string Hex(const unsigned char* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

bool FromHex(const std::string& text, unsigned char* out, std::size_t size) {
  if (text.size() != 2 * size) return false;
  auto value = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < size; ++i) {
    const int high = value(text[2 * i]), low = value(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

void RandomBytes(unsigned char* out, std::size_t size) {
  if (RAND_bytes(out, int(size)) != 1) throw EnvelopeError("no random bytes available");
}

}  // namespace Qarvex::Envelope
