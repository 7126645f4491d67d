#include "host/forms/FormSyntax.h"

namespace Classes::FormSyntax {

bool IsIdentifier(std::string_view text) {
  if (text.empty() || !IsIdentStart(text.front())) return false;
  for (char c : text)
    if (!IsIdentChar(c)) return false;
  return true;
}

std::string StringLiteral(std::string_view bytes) {
  std::string out;
  bool quoted = false;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsPlain(c) != quoted) {
      out += '\'';
      quoted = !quoted;
    }
    if (!quoted) {
      out += '#' + std::to_string(c);
    } else {
      out += ch;
      if (ch == '\'') out += '\'';
    }
  }
  if (quoted) out += '\'';
  return out;
}

}  // namespace Classes::FormSyntax
