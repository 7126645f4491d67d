#include "envelope/HeaderText.h"

#include <cstring>

namespace Qarvex::Envelope {

namespace {

// A header of 64 pairs for 4096-bit keys takes about 49 KiB; a version 1 header well under 1 KiB.
constexpr std::size_t MaxHeaderBytes = 96 * 1024;

// One header line (without its line break), read byte by byte so that nothing after the header is
// consumed; `budget` counts the header's bytes.
std::string ReadLine(Source& in, std::size_t& budget) {
  std::string line;
  for (;;) {
    char c = 0;
    if (in.Read(&c, 1) == 0) throw EnvelopeError("the envelope's header is truncated");
    if (budget == 0) throw EnvelopeError("the input is not an envelope: its header is too long");
    --budget;
    if (c == '\n') return line;
    line += c;
  }
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

std::string Field(const std::string& line, const char* name) {
  const std::string prefix = std::string(name) + ": ";
  if (!StartsWith(line, prefix))
    throw EnvelopeError(std::string("the envelope's header is damaged: expected the field '") + name + "'");
  return line.substr(prefix.size());
}

// A decimal number of at most 5 digits, or -1.
int SmallNumber(const std::string& text) {
  if (text.empty() || text.size() > 5) return -1;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string HeaderBody(const HeaderFields& fields) {
  std::string text = std::string(FormatName) + "/" + std::to_string(fields.Version) + "\n";
  text += "key-bits: " + std::to_string(fields.KeyBits) + "\n";
  for (const RecipientPair& pair : fields.Pairs)
    text += "recipient: " + pair.Recipient + "\n" + "wrapped-key: " + pair.WrappedKey + "\n";
  text += "salt: " + Hex(fields.Salt, SaltBytes) + "\n";
  text += "chunk-size: " + std::to_string(ChunkBytes) + "\n";
  return text;
}

std::string HeaderText(const HeaderFields& fields) {
  return HeaderBody(fields) + "mac: " + Hex(fields.Mac, MacBytes) + "\n\n";
}

std::string ReadFirstLine(Source& in, std::size_t limit) {
  std::string line;
  for (;;) {
    char c = 0;
    if (in.Read(&c, 1) == 0) break;
    if (c == '\n') break;
    if (line.size() == limit) break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int VersionOf(const std::string& first) {
  const std::string prefix = std::string(FormatName) + "/";
  if (!StartsWith(first, prefix))
    throw EnvelopeError("the input is not an envelope (it does not start with '" + prefix + "' or '" + ArmorBeginLine +
                        "')");
  const std::string version = first.substr(prefix.size());
  if (version != "1" && version != "2")
    throw EnvelopeError("the envelope has format version " + version + "; versions 1 and 2 can be read");
  return version[0] - '0';
}

HeaderFields ReadHeaderFields(Source& in, int version) {
  std::size_t budget = MaxHeaderBytes;
  HeaderFields fields;
  fields.Version = version;
  const std::string bitsText = Field(ReadLine(in, budget), "key-bits");
  std::string line = ReadLine(in, budget);
  while (StartsWith(line, "recipient: ")) {
    if (fields.Pairs.size() == (version == 1 ? 1 : MaxRecipients))
      throw EnvelopeError(version == 1 ? "the envelope's header is damaged: a version 1 envelope has one recipient"
                                       : "the envelope's header is damaged: it names more than " +
                                             std::to_string(MaxRecipients) + " recipients");
    RecipientPair pair;
    pair.Recipient = Field(line, "recipient");
    pair.WrappedKey = Field(ReadLine(in, budget), "wrapped-key");
    fields.Pairs.push_back(std::move(pair));
    line = ReadLine(in, budget);
  }
  if (fields.Pairs.empty()) Field(line, "recipient");  // the message names the missing field
  const std::string saltText = Field(line, "salt");
  const std::string chunkText = Field(ReadLine(in, budget), "chunk-size");
  const std::string macText = Field(ReadLine(in, budget), "mac");
  if (!ReadLine(in, budget).empty()) throw EnvelopeError("the envelope's header is damaged: no blank line after it");
  fields.KeyBits = SmallNumber(bitsText);
  if (fields.KeyBits < 0) throw EnvelopeError("the envelope's header is damaged: key-bits is not a number");
  if (!FromHex(saltText, fields.Salt, SaltBytes) || !FromHex(macText, fields.Mac, MacBytes) ||
      chunkText != std::to_string(ChunkBytes))
    throw EnvelopeError("the envelope's header is damaged");
  return fields;
}

}  // namespace Qarvex::Envelope
