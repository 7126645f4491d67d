// Sealed envelopes: data of any size encrypted for the holder of an RSA private key.
//
// A fresh 256-bit file key is wrapped with the recipient's public key (TRSA::EncryptKey) and kept in a
// readable text header; HKDF-SHA256 with a random salt derives from it one key that authenticates the
// header (HMAC-SHA256) and one that encrypts the data with AES-256-GCM in chunks of 64 KiB. Each chunk's
// nonce holds its number and a flag for the last chunk, so reordered, dropped, truncated or altered
// chunks are all detected. Sealing and opening stream: memory stays a few chunks whatever the size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "rsa/RSA.h"

namespace Qarvex::Envelope {

// The first line of every envelope, and the format's parameters.
inline constexpr const char* FormatName = "qarvex-envelope";
inline constexpr int FormatVersion = 1;
inline constexpr std::size_t ChunkBytes = 64 * 1024;
inline constexpr std::size_t TagBytes = 16;

// An envelope that is damaged, truncated, of another format, or sealed for another key.
class EnvelopeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where data come from: fills up to size bytes, returns how many (0 only at the end).
using Reader = std::function<std::size_t(void* data, std::size_t size)>;
// Where data go.
using Writer = std::function<void(const void* data, std::size_t size)>;
// Called after each chunk with the plaintext bytes done so far.
using ProgressFn = std::function<void(std::uint64_t bytesDone)>;

// "SHA256:" and the unpadded base64 of the SHA-256 of the public key's DER SubjectPublicKeyInfo.
std::string Fingerprint(const Rsa::BigNum& e, const Rsa::BigNum& n);
// The DER SubjectPublicKeyInfo of an RSA public key (e, n).
std::string PublicKeyInfoDer(const Rsa::BigNum& e, const Rsa::BigNum& n);

// Seals everything `in` gives for the public key loaded in `recipient` (its KeyBits set).
void Seal(Rsa::TRSA& recipient, const Reader& in, const Writer& out, const ProgressFn& progress = {});

// The header fields of an envelope, as read before anything is decrypted.
struct Header {
  int KeyBits = 0;
  std::string Recipient;  // fingerprint
};

// Opens an envelope with the private key loaded in `key` (and its public key, for the fingerprint).
// Only authenticated data reach `out`, chunk by chunk; a damaged, truncated or foreign envelope raises
// EnvelopeError, possibly after earlier chunks were written (a caller writing a file discards it then).
// `onHeader` sees the header before any unwrapping, e.g. to say which key the envelope wants.
void Open(Rsa::TRSA& key, const Reader& in, const Writer& out, const ProgressFn& progress = {},
          const std::function<void(const Header&)>& onHeader = {});

}  // namespace Qarvex::Envelope
