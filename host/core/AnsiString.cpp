#include <cstdint>
#include <string>

#include "host/core/SysUtils.h"
#include "host/core/System.h"

namespace System {

void AnsiString::TooLong(std::uint64_t length) {
  throw Sysutils::ERangeError("String of " + std::to_string(length) + " characters is longer than an AnsiString holds (" +
                              std::to_string(MaxLength) + ")");
}

int AnsiString::Pos(const AnsiString& sub) const {
  if (sub.FData.empty()) return 0;
  const std::size_t at = FData.find(sub.FData);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

// Worked in 64 bits: start + count may lie far outside the int range at either end.
AnsiString AnsiString::SubString(int start, int count) const {
  if (count <= 0) return AnsiString();
  std::int64_t first = start, end = std::int64_t(start) + count;  // 1-based, end exclusive
  if (first < 1) first = 1;
  const std::int64_t size = std::int64_t(FData.size());
  if (end > size + 1) end = size + 1;
  if (first >= end) return AnsiString();
  return AnsiString(FData.substr(std::size_t(first - 1), std::size_t(end - first)));
}

}  // namespace System
