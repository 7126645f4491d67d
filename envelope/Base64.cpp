#include "envelope/Base64.h"

namespace Qarvex::Envelope::Base64 {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a character of the alphabet, 64 for '=', -1 for anything else.
int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 64;
  return -1;
}

}  // namespace

void EncodeTo(const unsigned char* data, std::size_t size, std::string& text) {
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned v = unsigned(data[i]) << 16 | unsigned(data[i + 1]) << 8 | data[i + 2];
    text += Alphabet[v >> 18];
    text += Alphabet[(v >> 12) & 63];
    text += Alphabet[(v >> 6) & 63];
    text += Alphabet[v & 63];
  }
  if (i < size) {
    const bool two = size - i == 2;
    const unsigned v = unsigned(data[i]) << 16 | (two ? unsigned(data[i + 1]) << 8 : 0u);
    text += Alphabet[v >> 18];
    text += Alphabet[(v >> 12) & 63];
    text += two ? Alphabet[(v >> 6) & 63] : '=';
    text += '=';
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

std::optional<std::string> Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  StreamDecoder decoder;
  for (const char c : text)
    if (!decoder.Push(c, out)) return std::nullopt;
  return out;
}

}  // namespace Qarvex::Envelope::Base64
