// The SSH wire encoding (RFC 4251): uint32, string and mpint, read from and written to bytes.
// Internal to the key library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Qarvex::Keys::Internal {

// Reads fields in order; any field that runs past the end, or a negative mpint, throws KeyError
// with `what` (the format) and the field's name.
class SshReader {
 public:
  SshReader(std::string_view data, std::string what) : FData(data), FWhat(std::move(what)) {}
  std::uint32_t Uint32(const char* field);
  std::string_view String(const char* field);
  // A non-negative mpint's magnitude, big-endian.
  std::string Mpint(const char* field);
  std::string_view Bytes(std::size_t count, const char* field);
  std::size_t Left() const { return FData.size() - FAt; }
  std::string_view Rest() const { return FData.substr(FAt); }

 private:
  [[noreturn]] void Damaged(const char* field) const;
  std::string_view FData;
  std::size_t FAt = 0;
  std::string FWhat;
};

void PutUint32(std::string& out, std::uint32_t value);
void PutString(std::string& out, std::string_view value);
// magnitude: big-endian without sign; a zero byte goes first when its top bit is set.
void PutMpint(std::string& out, std::string_view magnitude);

}  // namespace Qarvex::Keys::Internal
