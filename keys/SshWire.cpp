#include "keys/SshWire.h"

#include "keys/KeyError.h"

namespace Qarvex::Keys::Internal {

void SshReader::Damaged(const char* field) const {
  throw KeyError(FWhat + " is damaged or truncated (at its " + field + ")");
}

std::uint32_t SshReader::Uint32(const char* field) {
  if (Left() < 4) Damaged(field);
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(FData[FAt++]);
  return v;
}

std::string_view SshReader::Bytes(std::size_t count, const char* field) {
  if (Left() < count) Damaged(field);
  const std::string_view bytes = FData.substr(FAt, count);
  FAt += count;
  return bytes;
}

std::string_view SshReader::String(const char* field) { return Bytes(Uint32(field), field); }

std::string SshReader::Mpint(const char* field) {
  const std::string_view bytes = String(field);
  if (!bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 0x80))
    throw KeyError(FWhat + ": its " + field + " is negative");
  return std::string(bytes);
}

void PutUint32(std::string& out, std::uint32_t value) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((value >> s) & 0xff);
}

void PutString(std::string& out, std::string_view value) {
  PutUint32(out, std::uint32_t(value.size()));
  out.append(value);
}

void PutMpint(std::string& out, std::string_view magnitude) {
  std::size_t start = 0;
  while (start < magnitude.size() && magnitude[start] == 0) ++start;
  const std::string_view digits = magnitude.substr(start);
  const bool pad = !digits.empty() && (static_cast<unsigned char>(digits[0]) & 0x80);
  PutUint32(out, std::uint32_t(digits.size() + (pad ? 1 : 0)));
  if (pad) out += '\0';
  out.append(digits);
}

}  // namespace Qarvex::Keys::Internal
