// Sealed envelopes: data of any size encrypted for the holders of one or more RSA keys.
//
// A fresh 256-bit file key is wrapped for each recipient's public key with RSAES-OAEP (SHA-256,
// MGF1-SHA-256) and kept in a readable text header; HKDF-SHA256 with a random salt derives from it one
// key that authenticates the header (HMAC-SHA256) and one that encrypts the data with AES-256-GCM in
// chunks of 64 KiB. Each chunk's nonce holds its number and a flag for the last chunk, so reordered,
// dropped, truncated or altered chunks are all detected. Envelopes of format version 1 (the file key
// wrapped with the component's own EncryptKey, one recipient) are still read.
//
// Sealing and opening stream: memory stays a few chunks whatever the size. An envelope is written as
// bytes, or armoured as text (base64 between BEGIN and END lines); the reader tells the two forms by
// their first bytes.
//
// Nothing here branches on the file key or the plaintext; the RSA operations are the component's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rsa/RSA.h"

namespace Qarvex::Envelope {

// The first line of every envelope is FormatName "/" version; EnvelopeWriter writes FormatVersion,
// EnvelopeReader reads versions 1 and 2.
inline constexpr const char* FormatName = "qarvex-envelope";
inline constexpr int FormatVersion = 2;
inline constexpr std::size_t ChunkBytes = 64 * 1024;
inline constexpr std::size_t TagBytes = 16;
// The most recipients one envelope is sealed for.
inline constexpr std::size_t MaxRecipients = 64;
// The armoured form's first and last lines; between them the base64 of the envelope in lines of 64.
inline constexpr const char* ArmorBeginLine = "-----BEGIN QARVEX ENVELOPE-----";
inline constexpr const char* ArmorEndLine = "-----END QARVEX ENVELOPE-----";

// An envelope that is damaged, truncated, of another format, or sealed for other keys; also a
// recipient that cannot be sealed for.
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

// "SHA256:" and the unpadded base64 of the SHA-256 of the public key's DER SubjectPublicKeyInfo: the
// recipient id in an envelope's header, as `qrsa show fingerprint` prints it.
std::string Fingerprint(const Rsa::BigNum& e, const Rsa::BigNum& n);
// The same of the public key loaded in `key` (Rsa::ENoKeyLoaded without one).
std::string Fingerprint(Rsa::TRSA& key);
// The DER SubjectPublicKeyInfo of an RSA public key (e, n).
std::string PublicKeyInfoDer(const Rsa::BigNum& e, const Rsa::BigNum& n);

struct SealOptions {
  bool Armor = false;  // write the armoured text form instead of bytes
};

// Writes one envelope: the header at construction, then the data given to Write in chunks, and the
// last chunk (and the armour's end line) at Finish. An envelope that is not finished has no last chunk
// and never opens.
class EnvelopeWriter {
 public:
  // For the public keys loaded in `recipients` (KeyBits set), 1 to MaxRecipients of them, each key
  // once, in this order. A key without a public key, one too small for OAEP with SHA-256 (512 bits),
  // too many recipients or the same key twice raise EnvelopeError before anything is written.
  EnvelopeWriter(const std::vector<Rsa::TRSA*>& recipients, Writer out, const SealOptions& options = {});
  ~EnvelopeWriter();
  EnvelopeWriter(const EnvelopeWriter&) = delete;
  EnvelopeWriter& operator=(const EnvelopeWriter&) = delete;

  void Write(const void* data, std::size_t size);
  void Write(std::string_view data) { Write(data.data(), data.size()); }
  void Finish();
  // Plaintext bytes written so far.
  std::uint64_t BytesWritten() const;

 private:
  struct State;
  std::unique_ptr<State> F;
};

// An envelope's header as it reads before anything is decrypted.
struct Header {
  int Version = 0;
  bool Armored = false;
  int KeyBits = 0;                      // the smallest key size among the recipients
  std::vector<std::string> Recipients;  // fingerprints, in the header's order
};

// Reads one envelope. The constructor reads the header (bytes or armour, told by the first bytes),
// finds the pair made for `key` by its fingerprint, unwraps the file key with the private key and
// checks the header's authentication; then Read gives the data, each chunk only once it authenticated.
// A key file with the private key alone has no fingerprint: each pair of its size is tried.
class EnvelopeReader {
 public:
  // EnvelopeError when the input is no envelope, is damaged, or was sealed for other keys (the
  // message lists them).
  EnvelopeReader(Rsa::TRSA& key, Reader in);
  ~EnvelopeReader();
  EnvelopeReader(const EnvelopeReader&) = delete;
  EnvelopeReader& operator=(const EnvelopeReader&) = delete;

  const Header& GetHeader() const;
  // Up to size bytes of authenticated data; 0 once the whole envelope has authenticated. Raises
  // EnvelopeError at a damaged, reordered or missing chunk, possibly after earlier chunks were given
  // (a caller writing a file discards it then).
  std::size_t Read(void* data, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> F;
};

// Seals everything `in` gives for the recipients, into `out`.
void Seal(const std::vector<Rsa::TRSA*>& recipients, const Reader& in, const Writer& out,
          const ProgressFn& progress = {}, const SealOptions& options = {});
// Seals for one recipient.
void Seal(Rsa::TRSA& recipient, const Reader& in, const Writer& out, const ProgressFn& progress = {});
// Opens an envelope with the private key loaded in `key` (and its public key, for the fingerprint).
// Only authenticated data reach `out`, chunk by chunk.
void Open(Rsa::TRSA& key, const Reader& in, const Writer& out, const ProgressFn& progress = {});

}  // namespace Qarvex::Envelope
