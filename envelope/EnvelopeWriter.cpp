// Sealing: the header with one wrapped file key per recipient, then the chunks as the data arrive.
#include <algorithm>
#include <cstring>
#include <optional>

#include "envelope/ArmorSink.h"
#include "envelope/Base64.h"
#include "envelope/Envelope.h"
#include "envelope/HeaderText.h"
#include "envelope/KeySchedule.h"
#include "envelope/KeyWrap.h"

namespace Qarvex::Envelope {

namespace {

int KeyBitsOf(Rsa::TRSA& rsa) { return 32 * rsa.GetPrecision(); }

// The recipient's fingerprint; EnvelopeError when it holds no public key or one too small for OAEP.
std::string CheckedRecipient(Rsa::TRSA& rsa, std::size_t index) {
  std::string fingerprint;
  try {
    fingerprint = Fingerprint(rsa);
  } catch (const Rsa::ENoKeyLoaded&) {
    throw EnvelopeError("recipient " + std::to_string(index + 1) + " holds no public key to seal for");
  }
  if (KeyBitsOf(rsa) < MinOaepKeyBits)
    throw EnvelopeError("the " + std::to_string(KeyBitsOf(rsa)) + "-bit key " + fingerprint +
                        " is too small to seal for: OAEP with SHA-256 needs a key of " +
                        std::to_string(MinOaepKeyBits) + " bits or more");
  return fingerprint;
}

}  // namespace

struct EnvelopeWriter::State {
  Writer Out;
  std::optional<ArmorSink> Armor;
  std::optional<ChunkCipher> Cipher;
  std::vector<unsigned char> Current = std::vector<unsigned char>(ChunkBytes);
  std::vector<unsigned char> Sealed = std::vector<unsigned char>(ChunkBytes + TagBytes);
  std::size_t Have = 0;
  std::uint64_t Index = 0, Written = 0;
  bool Finished = false;

  void Emit(const void* data, std::size_t size) {
    if (Armor)
      Armor->Write(data, size);
    else
      Out(data, size);
  }
  void SealChunk(bool last) {
    Cipher->Seal(Index++, last, Current.data(), Have, Sealed.data());
    Emit(Sealed.data(), Have + TagBytes);
    Have = 0;
  }
  ~State() { OPENSSL_cleanse(Current.data(), Current.size()); }
};

EnvelopeWriter::EnvelopeWriter(const std::vector<Rsa::TRSA*>& recipients, Writer out, const SealOptions& options)
    : F(std::make_unique<State>()) {
  if (recipients.empty()) throw EnvelopeError("an envelope needs at least one recipient");
  if (recipients.size() > MaxRecipients)
    throw EnvelopeError("an envelope is sealed for at most " + std::to_string(MaxRecipients) + " recipients, not " +
                        std::to_string(recipients.size()));
  HeaderFields fields;
  fields.KeyBits = KeyBitsOf(*recipients.front());
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    const std::string fingerprint = CheckedRecipient(*recipients[i], i);
    for (const RecipientPair& earlier : fields.Pairs)
      if (earlier.Recipient == fingerprint) throw EnvelopeError("the key " + fingerprint + " is given twice");
    fields.Pairs.push_back({fingerprint, ""});
    fields.KeyBits = std::min(fields.KeyBits, KeyBitsOf(*recipients[i]));
  }

  SecretBytes<FileKeyBytes> fileKey;
  RandomBytes(fileKey.Data, FileKeyBytes);
  RandomBytes(fields.Salt, SaltBytes);
  for (std::size_t i = 0; i < recipients.size(); ++i)
    fields.Pairs[i].WrappedKey = Base64::Encode(WrapOaep(*recipients[i], fileKey.Data));
  const DerivedKeys keys(fileKey.Data, fields.Salt);
  HeaderMac(keys.Header.Data, HeaderBody(fields), fields.Mac);
  F->Cipher.emplace(keys.Payload.Data, true);

  F->Out = std::move(out);
  if (options.Armor) F->Armor.emplace(F->Out);
  const std::string header = HeaderText(fields);
  F->Emit(header.data(), header.size());
}

EnvelopeWriter::~EnvelopeWriter() = default;

void EnvelopeWriter::Write(const void* data, std::size_t size) {
  if (F->Finished) throw EnvelopeError("the envelope is already finished");
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    // A full chunk is sealed only once more data follow: otherwise it may be the last one.
    if (F->Have == ChunkBytes) F->SealChunk(false);
    const std::size_t take = std::min(size, ChunkBytes - F->Have);
    std::memcpy(F->Current.data() + F->Have, bytes, take);
    F->Have += take;
    F->Written += take;
    bytes += take;
    size -= take;
  }
}

void EnvelopeWriter::Finish() {
  if (F->Finished) return;
  F->SealChunk(true);
  if (F->Armor) F->Armor->Finish();
  F->Finished = true;
}

std::uint64_t EnvelopeWriter::BytesWritten() const { return F->Written; }

void Seal(const std::vector<Rsa::TRSA*>& recipients, const Reader& in, const Writer& out, const ProgressFn& progress,
          const SealOptions& options) {
  EnvelopeWriter writer(recipients, out, options);
  std::vector<unsigned char> buffer(ChunkBytes);
  for (;;) {
    const std::size_t got = in(buffer.data(), buffer.size());
    if (got == 0) break;
    writer.Write(buffer.data(), got);
    if (progress) progress(writer.BytesWritten());
  }
  OPENSSL_cleanse(buffer.data(), buffer.size());
  writer.Finish();
}

void Seal(Rsa::TRSA& recipient, const Reader& in, const Writer& out, const ProgressFn& progress) {
  Seal(std::vector<Rsa::TRSA*>{&recipient}, in, out, progress);
}

}  // namespace Qarvex::Envelope
