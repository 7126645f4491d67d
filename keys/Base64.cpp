// Runs in time that depends on the text's length only: the character's value comes from arithmetic,
// not from a table indexed by it, since the texts hold private keys.
#include "keys/Base64.h"

#include "keys/KeySecret.h"

namespace Qarvex::Keys::Internal {

namespace {

// -1 when c is not in the alphabet; computed with masks so no branch or address depends on c.
int Value(unsigned char c, bool url) {
  const int x = c;
  auto in = [x](int lo, int hi) { return ((lo - 1 - x) & (x - hi - 1)) >> 8 & 1; };  // lo <= x <= hi
  int v = -1;
  v += in('A', 'Z') * (x - 'A' + 1);
  v += in('a', 'z') * (x - 'a' + 27);
  v += in('0', '9') * (x - '0' + 53);
  v += in(url ? '-' : '+', url ? '-' : '+') * 63;
  v += in(url ? '_' : '/', url ? '_' : '/') * 64;
  return v;
}

char Digit(unsigned v, bool url) {
  const int x = int(v);
  auto below = [x](int limit) { return ((x - limit) >> 8) & 1; };  // x < limit
  int c = 'A' + x;
  c += (1 - below(26)) * ('a' - 'A' - 26);
  c += (1 - below(52)) * ('0' - 'a' - 26);
  c += (1 - below(62)) * ((url ? '-' : '+') - '0' - 10);
  c += (1 - below(63)) * ((url ? '_' : '/') - (url ? '-' : '+') - 1);
  return static_cast<char>(c);
}

std::optional<std::string> Decode(std::string_view text, bool url, bool skipSpace) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (skipSpace && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) continue;
    clean += c;
  }
  std::size_t pad = 0;
  if (!url) {
    if (clean.size() % 4 != 0) {
      Wipe(clean);
      return std::nullopt;
    }
    while (pad < 2 && !clean.empty() && clean[clean.size() - 1 - pad] == '=') ++pad;
  } else if (clean.size() % 4 == 1) {
    Wipe(clean);
    return std::nullopt;
  }
  const std::size_t digits = clean.size() - pad;
  std::string out;
  out.reserve(digits * 3 / 4 + 3);
  unsigned acc = 0, bits = 0;
  int bad = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int v = Value(static_cast<unsigned char>(clean[i]), url);
    bad |= v >> 8;  // -1 has every bit set
    acc = (acc << 6) | unsigned(v & 63);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xff);
    }
  }
  // Bits left over must be zero, so every text has one decoding only.
  bad |= -int((acc & ((1u << bits) - 1)) != 0);
  acc = 0;
  Wipe(clean);
  if (bad) {
    Wipe(out);
    return std::nullopt;
  }
  return out;
}

std::string Encode(std::string_view bytes, bool url) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16 |
                       unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8 | static_cast<unsigned char>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += Digit((v >> s) & 63, url);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) v |= unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += Digit((v >> 18) & 63, url);
    out += Digit((v >> 12) & 63, url);
    if (rest == 2) out += Digit((v >> 6) & 63, url);
    if (!url) out.append(3 - rest, '=');
  }
  return out;
}

}  // namespace

std::optional<std::string> Base64Decode(std::string_view text, bool skipSpace) { return Decode(text, false, skipSpace); }
std::optional<std::string> Base64UrlDecode(std::string_view text) { return Decode(text, true, false); }
std::string Base64Encode(std::string_view bytes) { return Encode(bytes, false); }
std::string Base64UrlEncode(std::string_view bytes) { return Encode(bytes, true); }

}  // namespace Qarvex::Keys::Internal
