// Sealing and opening envelopes: the text header, the key schedule and the chunked AES-256-GCM stream.
#include "envelope/Envelope.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>
#include <vector>

namespace Qarvex::Envelope {

namespace {

constexpr std::size_t KeyBytes = 32;
constexpr std::size_t SaltBytes = 32;
constexpr std::size_t MacBytes = 32;
constexpr std::size_t NonceBytes = 12;
constexpr std::size_t MaxHeaderBytes = 4096;

// Key material on the stack, wiped when it goes.
template <std::size_t N>
struct SecretBytes {
  unsigned char Data[N] = {};
  SecretBytes() = default;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { OPENSSL_cleanse(Data, N); }
};

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct KdfFree {
  void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
};
struct KdfCtxFree {
  void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
};

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

// HKDF-SHA256(file key, salt, info) -> 32 bytes.
void DeriveKey(const unsigned char* fileKey, const unsigned char* salt, const char* info, unsigned char* out) {
  std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
  std::unique_ptr<EVP_KDF_CTX, KdfCtxFree> ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  if (!ctx) throw EnvelopeError("HKDF is not available");
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(fileKey), KeyBytes),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<unsigned char*>(salt), SaltBytes),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info), std::strlen(info)),
      OSSL_PARAM_construct_end()};
  if (EVP_KDF_derive(ctx.get(), out, KeyBytes, params) != 1) throw EnvelopeError("key derivation failed");
}

void HeaderMac(const unsigned char* macKey, const std::string& text, unsigned char* out) {
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), macKey, int(KeyBytes), reinterpret_cast<const unsigned char*>(text.data()), text.size(),
            out, &length) ||
      length != MacBytes)
    throw EnvelopeError("HMAC-SHA256 is not available");
}

// The nonce of chunk `index`: 11 bytes of the chunk number, most significant first, then 1 for the
// last chunk and 0 for every other.
void ChunkNonce(std::uint64_t index, bool last, unsigned char* nonce) {
  std::memset(nonce, 0, NonceBytes);
  for (int i = 0; i < 8; ++i) nonce[10 - i] = static_cast<unsigned char>(index >> (8 * i));
  nonce[11] = last ? 1 : 0;
}

// One AES-256-GCM context for the whole stream, re-keyed with each chunk's nonce.
class ChunkCipher {
 public:
  ChunkCipher(const unsigned char* key, bool encrypt) : FCtx(EVP_CIPHER_CTX_new()), FEncrypt(encrypt) {
    if (!FCtx || EVP_CipherInit_ex(FCtx.get(), EVP_aes_256_gcm(), nullptr, key, nullptr, encrypt ? 1 : 0) != 1)
      throw EnvelopeError("AES-256-GCM is not available");
  }

  // Encrypts size bytes of in to out and appends the tag.
  void Seal(std::uint64_t index, bool last, const unsigned char* in, std::size_t size, unsigned char* out) {
    Start(index, last);
    int length = 0, final = 0;
    if (EVP_EncryptUpdate(FCtx.get(), out, &length, in, int(size)) != 1 ||
        EVP_EncryptFinal_ex(FCtx.get(), out + length, &final) != 1 ||
        EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_GET_TAG, int(TagBytes), out + size) != 1)
      throw EnvelopeError("encryption failed");
  }

  // Decrypts a chunk (cipher text then tag) into out; false when it does not authenticate.
  bool Open(std::uint64_t index, bool last, const unsigned char* in, std::size_t size, unsigned char* out) {
    if (size < TagBytes) return false;
    const std::size_t textBytes = size - TagBytes;
    Start(index, last);
    int length = 0, final = 0;
    if (EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_SET_TAG, int(TagBytes), const_cast<unsigned char*>(in + textBytes)) != 1 ||
        EVP_DecryptUpdate(FCtx.get(), out, &length, in, int(textBytes)) != 1)
      return false;
    return EVP_DecryptFinal_ex(FCtx.get(), out + length, &final) == 1;
  }

 private:
  void Start(std::uint64_t index, bool last) {
    unsigned char nonce[NonceBytes];
    ChunkNonce(index, last, nonce);
    if (EVP_CipherInit_ex(FCtx.get(), nullptr, nullptr, nullptr, nonce, FEncrypt ? 1 : 0) != 1)
      throw EnvelopeError("cannot start a chunk");
  }
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> FCtx;
  bool FEncrypt;
};

int KeyBitsOf(Rsa::TRSA& rsa) { return 32 * rsa.GetPrecision(); }

// Fills buffer from the reader until it is full or the data end; returns the count.
std::size_t ReadFull(const Reader& in, unsigned char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const std::size_t n = in(buffer + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// The header's text up to (not including) the "mac:" line, in the one order it is written.
std::string HeaderBody(int keyBits, const std::string& recipient, const std::string& wrapped,
                       const unsigned char* salt) {
  return std::string(FormatName) + "/" + std::to_string(FormatVersion) + "\n" + "key-bits: " + std::to_string(keyBits) +
         "\n" + "recipient: " + recipient + "\n" + "wrapped-key: " + wrapped + "\n" + "salt: " + Hex(salt, SaltBytes) +
         "\n" + "chunk-size: " + std::to_string(ChunkBytes) + "\n";
}

// Reads one header line (without its line break) from the reader, byte by byte: the header is small
// and nothing after it may be consumed.
std::string ReadLine(const Reader& in, std::size_t& budget) {
  std::string line;
  for (;;) {
    char c = 0;
    if (in(&c, 1) == 0) throw EnvelopeError("the envelope's header is truncated");
    if (c == '\n') return line;
    if (budget-- == 0) throw EnvelopeError("the input is not an envelope: its header is too long");
    line += c;
  }
}

std::string Field(const std::string& line, const char* name) {
  const std::string prefix = std::string(name) + ": ";
  if (line.compare(0, prefix.size(), prefix) != 0)
    throw EnvelopeError(std::string("the envelope's header is damaged: expected the field '") + name + "'");
  return line.substr(prefix.size());
}

}  // namespace

void Seal(Rsa::TRSA& recipient, const Reader& in, const Writer& out, const ProgressFn& progress) {
  Rsa::BigNum e{}, n{};
  recipient.GetPublicKey(e, n);
  const std::string fingerprint = Fingerprint(e, n);

  SecretBytes<32> fileKey;  // a TSymKey
  unsigned char salt[SaltBytes];
  if (RAND_bytes(fileKey.Data, KeyBytes) != 1 || RAND_bytes(salt, SaltBytes) != 1)
    throw EnvelopeError("no random bytes available");
  const Rsa::TSymKeyLength oldLength = recipient.SymKeyLength();
  recipient.SetSymKeyLength(Rsa::sk256);
  const std::string wrapped = recipient.EncryptKey(fileKey.Data).str();
  recipient.SetSymKeyLength(oldLength);

  SecretBytes<KeyBytes> payloadKey, headerKey;
  DeriveKey(fileKey.Data, salt, "qarvex-envelope/1 payload", payloadKey.Data);
  DeriveKey(fileKey.Data, salt, "qarvex-envelope/1 header", headerKey.Data);

  const std::string body = HeaderBody(KeyBitsOf(recipient), fingerprint, wrapped, salt);
  unsigned char mac[MacBytes];
  HeaderMac(headerKey.Data, body, mac);
  const std::string header = body + "mac: " + Hex(mac, MacBytes) + "\n\n";
  out(header.data(), header.size());

  // The chunk in hand is sealed only once it is known whether more data follow: a full chunk is the
  // last one when the next read finds nothing.
  ChunkCipher cipher(payloadKey.Data, true);
  std::vector<unsigned char> current(ChunkBytes), next(ChunkBytes), sealed(ChunkBytes + TagBytes);
  std::size_t have = ReadFull(in, current.data(), ChunkBytes);
  std::uint64_t done = 0;
  for (std::uint64_t index = 0;; ++index) {
    std::size_t following = have == ChunkBytes ? ReadFull(in, next.data(), ChunkBytes) : 0;
    const bool last = following == 0;
    cipher.Seal(index, last, current.data(), have, sealed.data());
    out(sealed.data(), have + TagBytes);
    done += have;
    if (progress) progress(done);
    if (last) break;
    current.swap(next);
    have = following;
  }
  OPENSSL_cleanse(current.data(), current.size());
  OPENSSL_cleanse(next.data(), next.size());
}

void Open(Rsa::TRSA& key, const Reader& in, const Writer& out, const ProgressFn& progress,
          const std::function<void(const Header&)>& onHeader) {
  std::size_t budget = MaxHeaderBytes;
  const std::string first = ReadLine(in, budget);
  const std::string expectedFirst = std::string(FormatName) + "/" + std::to_string(FormatVersion);
  if (first != expectedFirst) {
    if (first.compare(0, std::strlen(FormatName) + 1, std::string(FormatName) + "/") == 0)
      throw EnvelopeError("the envelope has format version " + first.substr(std::strlen(FormatName) + 1) +
                          "; this qrsa reads version " + std::to_string(FormatVersion));
    throw EnvelopeError("the input is not an envelope (it does not start with '" + expectedFirst + "')");
  }
  Header header;
  const std::string bitsText = Field(ReadLine(in, budget), "key-bits");
  header.Recipient = Field(ReadLine(in, budget), "recipient");
  const std::string wrapped = Field(ReadLine(in, budget), "wrapped-key");
  const std::string saltText = Field(ReadLine(in, budget), "salt");
  const std::string chunkText = Field(ReadLine(in, budget), "chunk-size");
  const std::string macText = Field(ReadLine(in, budget), "mac");
  if (!ReadLine(in, budget).empty()) throw EnvelopeError("the envelope's header is damaged: no blank line after it");
  try {
    header.KeyBits = std::stoi(bitsText);
  } catch (const std::exception&) {
    throw EnvelopeError("the envelope's header is damaged: key-bits is not a number");
  }
  if (onHeader) onHeader(header);

  // A key file with the private key alone has no fingerprint to compare; the header's authentication
  // then tells a foreign envelope.
  Rsa::BigNum e{}, n{};
  bool hasPublic = true;
  try {
    key.GetPublicKey(e, n);
  } catch (const Rsa::ENoKeyLoaded&) {
    hasPublic = false;
  }
  if (hasPublic) {
    const std::string own = Fingerprint(e, n);
    if (header.Recipient != own)
      throw EnvelopeError("the envelope was sealed for the key " + header.Recipient + ", not for this key (" + own + ")");
  }
  if (header.KeyBits != KeyBitsOf(key))
    throw EnvelopeError("the envelope's header is damaged: key-bits " + bitsText + " does not match the key");
  unsigned char salt[SaltBytes], mac[MacBytes], expected[MacBytes];
  if (!FromHex(saltText, salt, SaltBytes) || !FromHex(macText, mac, MacBytes) || chunkText != std::to_string(ChunkBytes))
    throw EnvelopeError("the envelope's header is damaged");

  SecretBytes<32> fileKey;
  const Rsa::TSymKeyLength oldLength = key.SymKeyLength();
  key.SetSymKeyLength(Rsa::sk256);
  try {
    key.DecryptKey(wrapped, fileKey.Data);
  } catch (const Sysutils::Exception&) {
    key.SetSymKeyLength(oldLength);
    throw EnvelopeError("the envelope's header is damaged: its wrapped key is not valid");
  }
  key.SetSymKeyLength(oldLength);
  SecretBytes<KeyBytes> payloadKey, headerKey;
  DeriveKey(fileKey.Data, salt, "qarvex-envelope/1 payload", payloadKey.Data);
  DeriveKey(fileKey.Data, salt, "qarvex-envelope/1 header", headerKey.Data);
  HeaderMac(headerKey.Data, HeaderBody(header.KeyBits, header.Recipient, wrapped, salt), expected);
  if (CRYPTO_memcmp(mac, expected, MacBytes) != 0)
    throw EnvelopeError("the envelope's header does not authenticate: it is damaged, or not for this key");

  // A chunk is the last one when the input ends right after it; the flag in its nonce makes a
  // truncation at a chunk boundary fail to authenticate.
  ChunkCipher cipher(payloadKey.Data, false);
  const std::size_t sealedBytes = ChunkBytes + TagBytes;
  std::vector<unsigned char> current(sealedBytes), next(sealedBytes), plain(ChunkBytes);
  std::size_t have = ReadFull(in, current.data(), sealedBytes);
  std::uint64_t done = 0;
  for (std::uint64_t index = 0;; ++index) {
    const std::size_t following = have == sealedBytes ? ReadFull(in, next.data(), sealedBytes) : 0;
    const bool last = following == 0;
    if (have < TagBytes)
      throw EnvelopeError(index == 0 ? "the envelope is truncated: it holds no data" : "the envelope is truncated");
    if (!cipher.Open(index, last, current.data(), have, plain.data())) {
      OPENSSL_cleanse(plain.data(), plain.size());
      throw EnvelopeError(last ? "the envelope is truncated or damaged: its end does not authenticate"
                               : "the envelope is damaged: chunk " + std::to_string(index) + " does not authenticate");
    }
    out(plain.data(), have - TagBytes);
    done += have - TagBytes;
    if (progress) progress(done);
    if (last) break;
    current.swap(next);
    have = following;
  }
  OPENSSL_cleanse(plain.data(), plain.size());
}

}  // namespace Qarvex::Envelope
