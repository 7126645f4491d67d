// Opening: the header (bytes or armour), this key's pair, the file key, then the chunks one by one,
// each given out only once it authenticated.
#include <algorithm>
#include <cstring>
#include <optional>

#include "envelope/Base64.h"
#include "envelope/Envelope.h"
#include "envelope/HeaderText.h"
#include "envelope/KeySchedule.h"
#include "envelope/KeyWrap.h"
#include "envelope/Source.h"

namespace Qarvex::Envelope {

namespace {

constexpr std::size_t SealedBytes = ChunkBytes + TagBytes;
constexpr std::size_t FirstLineLimit = 64;

int KeyBitsOf(Rsa::TRSA& rsa) { return 32 * rsa.GetPrecision(); }

// "the key A" or "the keys A, B and C".
std::string KeyList(const std::vector<RecipientPair>& pairs) {
  std::string text = pairs.size() == 1 ? "the key " : "the keys ";
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) text += i + 1 == pairs.size() ? " and " : ", ";
    text += pairs[i].Recipient;
  }
  return text;
}

// The fingerprint of the key's public part, or empty when the key file holds the private key alone.
std::string OwnFingerprint(Rsa::TRSA& key) {
  try {
    return Fingerprint(key);
  } catch (const Rsa::ENoKeyLoaded&) {
    return "";
  }
}

// True when the header authenticates under the file key; the derived keys are left in `keys`.
bool Authenticates(const HeaderFields& fields, const unsigned char* fileKey, std::optional<DerivedKeys>& keys) {
  keys.emplace(fileKey, fields.Salt);
  unsigned char expected[MacBytes];
  HeaderMac(keys->Header.Data, HeaderBody(fields), expected);
  return CRYPTO_memcmp(fields.Mac, expected, MacBytes) == 0;
}

// Version 2's wrapped keys, decoded; each must be the cipher text of a key size the envelope can have,
// and key-bits the smallest of them.
std::vector<std::string> DecodedWrappedKeys(const HeaderFields& fields) {
  std::vector<std::string> keys;
  std::size_t smallest = 0;
  for (const RecipientPair& pair : fields.Pairs) {
    std::optional<std::string> bytes = Base64::Decode(pair.WrappedKey);
    if (!bytes || bytes->size() * 8 < std::size_t(MinOaepKeyBits) || bytes->size() * 8 > 4096 || bytes->size() % 4 != 0)
      throw EnvelopeError("the envelope's header is damaged: the wrapped key for " + pair.Recipient + " is not valid");
    smallest = smallest == 0 ? bytes->size() : std::min(smallest, bytes->size());
    keys.push_back(std::move(*bytes));
  }
  if (fields.KeyBits != int(8 * smallest))
    throw EnvelopeError("the envelope's header is damaged: key-bits " + std::to_string(fields.KeyBits) +
                        " does not match its wrapped keys");
  return keys;
}

}  // namespace

struct EnvelopeReader::State {
  explicit State(Reader in) : Raw(std::move(in)) {}
  BufferedSource Raw;
  std::optional<ArmorSource> Armor;
  Source* In = nullptr;
  Header Info;
  std::optional<ChunkCipher> Cipher;
  std::vector<unsigned char> Current = std::vector<unsigned char>(SealedBytes);
  std::vector<unsigned char> Next = std::vector<unsigned char>(SealedBytes);
  std::vector<unsigned char> Plain = std::vector<unsigned char>(ChunkBytes);
  std::size_t Have = 0, PlainAt = 0, PlainEnd = 0;
  std::uint64_t Index = 0;
  bool Started = false, Done = false;

  ~State() { OPENSSL_cleanse(Plain.data(), Plain.size()); }

  void OpenHeader(Rsa::TRSA& key);
  void NextChunk();
};

void EnvelopeReader::State::OpenHeader(Rsa::TRSA& key) {
  std::string first = ReadFirstLine(Raw, FirstLineLimit);
  In = &Raw;
  if (first == ArmorBeginLine) {
    Armor.emplace(Raw);
    In = &*Armor;
    Info.Armored = true;
    first = ReadFirstLine(*In, FirstLineLimit);
  }
  const HeaderFields fields = ReadHeaderFields(*In, VersionOf(first));
  Info.Version = fields.Version;
  Info.KeyBits = fields.KeyBits;
  for (const RecipientPair& pair : fields.Pairs) Info.Recipients.push_back(pair.Recipient);

  // Which pairs this key may open: the one with its fingerprint; without a public key, every pair of
  // its size, each tried until one authenticates.
  const std::string own = OwnFingerprint(key);
  const std::vector<std::string> wrapped = fields.Version == 2 ? DecodedWrappedKeys(fields) : std::vector<std::string>{};
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < fields.Pairs.size(); ++i) {
    if (!own.empty() ? fields.Pairs[i].Recipient == own
                     : fields.Version == 1 || wrapped[i].size() * 8 == std::size_t(KeyBitsOf(key)))
      candidates.push_back(i);
  }
  if (!own.empty() && candidates.empty())
    throw EnvelopeError("the envelope was sealed for " + KeyList(fields.Pairs) + ", not for this key (" + own + ")");
  if (fields.Version == 1 && fields.KeyBits != KeyBitsOf(key))
    throw EnvelopeError("the envelope's header is damaged: key-bits " + std::to_string(fields.KeyBits) +
                        " does not match the key");

  SecretBytes<FileKeyBytes> fileKey;
  std::optional<DerivedKeys> keys;
  for (const std::size_t i : candidates) {
    const bool unwrapped = fields.Version == 1 ? UnwrapComponent(key, fields.Pairs[i].WrappedKey, fileKey.Data)
                                               : UnwrapOaep(key, wrapped[i], fileKey.Data);
    if (!unwrapped) {
      if (!own.empty()) throw EnvelopeError("the envelope's header is damaged: its wrapped key is not valid");
      continue;
    }
    if (Authenticates(fields, fileKey.Data, keys)) {
      Cipher.emplace(keys->Payload.Data, false);
      return;
    }
    if (!own.empty() || fields.Version == 1)
      throw EnvelopeError("the envelope's header does not authenticate: it is damaged, or not for this key");
  }
  throw EnvelopeError("the envelope does not open with this key, which holds no public key to find its pair by: it "
                      "was sealed for " + KeyList(fields.Pairs) + ", or it is damaged");
}

// A chunk is the last one when the input ends right after it; the flag in its nonce makes a
// truncation at a chunk boundary fail to authenticate.
void EnvelopeReader::State::NextChunk() {
  if (!Started) {
    Have = In->ReadFull(Current.data(), SealedBytes);
    Started = true;
  }
  const std::size_t following = Have == SealedBytes ? In->ReadFull(Next.data(), SealedBytes) : 0;
  const bool last = following == 0;
  if (Have < TagBytes)
    throw EnvelopeError(Index == 0 ? "the envelope is truncated: it holds no data" : "the envelope is truncated");
  if (!Cipher->Open(Index, last, Current.data(), Have, Plain.data())) {
    OPENSSL_cleanse(Plain.data(), Plain.size());
    throw EnvelopeError(last ? "the envelope is truncated or damaged: its end does not authenticate"
                             : "the envelope is damaged: chunk " + std::to_string(Index) + " does not authenticate");
  }
  PlainAt = 0;
  PlainEnd = Have - TagBytes;
  ++Index;
  if (last) {
    Done = true;
  } else {
    Current.swap(Next);
    Have = following;
  }
}

EnvelopeReader::EnvelopeReader(Rsa::TRSA& key, Reader in) : F(std::make_unique<State>(std::move(in))) {
  F->OpenHeader(key);
}

EnvelopeReader::~EnvelopeReader() = default;

const Header& EnvelopeReader::GetHeader() const { return F->Info; }

std::size_t EnvelopeReader::Read(void* data, std::size_t size) {
  while (F->PlainAt == F->PlainEnd) {
    if (F->Done) return 0;
    F->NextChunk();
  }
  const std::size_t n = std::min(size, F->PlainEnd - F->PlainAt);
  std::memcpy(data, F->Plain.data() + F->PlainAt, n);
  F->PlainAt += n;
  return n;
}

void Open(Rsa::TRSA& key, const Reader& in, const Writer& out, const ProgressFn& progress) {
  EnvelopeReader reader(key, in);
  std::vector<unsigned char> buffer(ChunkBytes);
  std::uint64_t done = 0;
  try {
    for (;;) {
      const std::size_t got = reader.Read(buffer.data(), buffer.size());
      if (got == 0) break;
      out(buffer.data(), got);
      done += got;
      if (progress) progress(done);
    }
  } catch (...) {
    OPENSSL_cleanse(buffer.data(), buffer.size());
    throw;
  }
  OPENSSL_cleanse(buffer.data(), buffer.size());
}

}  // namespace Qarvex::Envelope
