#include "host/core/System.h"

namespace System {

int AnsiString::Pos(const AnsiString& sub) const {
  if (sub.FData.empty()) return 0;
  const std::size_t at = FData.find(sub.FData);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

AnsiString AnsiString::SubString(int start, int count) const {
  if (count <= 0) return AnsiString();
  if (start < 1) {
    count += start - 1;  // characters before position 1 do not exist
    start = 1;
  }
  const std::size_t from = std::size_t(start - 1);
  if (count <= 0 || from >= FData.size()) return AnsiString();
  return AnsiString(FData.substr(from, std::size_t(count)));
}

}  // namespace System
