#include "envelope/Base64.h"

namespace Qarvex::Envelope::Base64 {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each character: its place in the alphabet, 64 for '=', -1 for anything else.
struct ValueTable {
  signed char Value[256];
  constexpr ValueTable() : Value() {
    for (int c = 0; c < 256; ++c) Value[c] = -1;
    for (int i = 0; i < 64; ++i) Value[static_cast<unsigned char>(Alphabet[i])] = static_cast<signed char>(i);
    Value[static_cast<unsigned char>('=')] = 64;
  }
};
constexpr ValueTable Values;

int ValueOf(char c) { return Values.Value[static_cast<unsigned char>(c)]; }

}  // namespace

void EncodeTo(const unsigned char* data, std::size_t size, std::string& text) {
  const std::size_t start = text.size();
  text.resize(start + (size + 2) / 3 * 4);
  char* to = text.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned v = unsigned(data[i]) << 16 | unsigned(data[i + 1]) << 8 | data[i + 2];
    *to++ = Alphabet[v >> 18];
    *to++ = Alphabet[(v >> 12) & 63];
    *to++ = Alphabet[(v >> 6) & 63];
    *to++ = Alphabet[v & 63];
  }
  if (i < size) {
    const bool two = size - i == 2;
    const unsigned v = unsigned(data[i]) << 16 | (two ? unsigned(data[i + 1]) << 8 : 0u);
    *to++ = Alphabet[v >> 18];
    *to++ = Alphabet[(v >> 12) & 63];
    *to++ = two ? Alphabet[(v >> 6) & 63] : '=';
    *to++ = '=';
  }
}

std::string Encode(std::string_view data) {
  std::string text;
  text.reserve((data.size() + 2) / 3 * 4);
  EncodeTo(reinterpret_cast<const unsigned char*>(data.data()), data.size(), text);
  return text;
}

bool StreamDecoder::Push(char c, std::string& out) {
  const int value = ValueOf(c);
  if (value < 0 || FPadded) return false;
  FGroup[FHave++] = static_cast<unsigned char>(value);
  if (FHave < 4) return true;
  FHave = 0;
  const unsigned char* g = FGroup;
  // '=' may stand only in the last two places, and a third-place '=' needs a fourth.
  if (g[0] == 64 || g[1] == 64 || (g[2] == 64 && g[3] != 64)) return false;
  const unsigned v = unsigned(g[0]) << 18 | unsigned(g[1]) << 12 | unsigned(g[2] & 63) << 6 | unsigned(g[3] & 63);
  out += static_cast<char>(v >> 16);
  if (g[2] == 64) {
    FPadded = true;
    return (v & 0xffff) == 0;  // the unused bits of a canonical encoding are zero
  }
  out += static_cast<char>((v >> 8) & 0xff);
  if (g[3] == 64) {
    FPadded = true;
    return (v & 0xff) == 0;
  }
  out += static_cast<char>(v & 0xff);
  return true;
}

bool StreamDecoder::Push(std::string_view text, std::string& out) {
  std::size_t i = 0;
  while (i < text.size() && FHave != 0)
    if (!Push(text[i++], out)) return false;
  // Whole groups without padding straight into the output; the rest, and any '=', one by one.
  const std::size_t start = out.size();
  out.resize(start + (text.size() - i) / 4 * 3);
  char* to = out.data() + start;
  for (; i + 4 <= text.size(); i += 4) {
    const int a = ValueOf(text[i]), b = ValueOf(text[i + 1]), c = ValueOf(text[i + 2]), d = ValueOf(text[i + 3]);
    if ((a | b | c | d) < 0 || a == 64 || b == 64 || c == 64 || d == 64) break;
    const unsigned v = unsigned(a) << 18 | unsigned(b) << 12 | unsigned(c) << 6 | unsigned(d);
    *to++ = static_cast<char>(v >> 16);
    *to++ = static_cast<char>((v >> 8) & 0xff);
    *to++ = static_cast<char>(v & 0xff);
  }
  out.resize(std::size_t(to - out.data()));
  if (FPadded && i < text.size()) return false;
  for (; i < text.size(); ++i)
    if (!Push(text[i], out)) return false;
  return true;
}

std::optional<std::string> Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  StreamDecoder decoder;
  if (!decoder.Push(text, out)) return std::nullopt;
  return out;
}

}  // namespace Qarvex::Envelope::Base64
