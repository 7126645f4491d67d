#include "host/forms/FormSyntax.h"

namespace Classes::FormSyntax {

bool IsIdentifier(std::string_view text) {
  if (text.empty() || !IsIdentStart(text.front())) return false;
  for (char c : text)
    if (!IsIdentChar(c)) return false;
  return true;
}

void AppendStringLiteral(System::TWipedString& out, std::string_view bytes) {
  bool quoted = false;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsPlain(c) != quoted) {
      out += '\'';
      quoted = !quoted;
    }
    if (!quoted) {
      out += '#';
      out += std::to_string(c);
    } else {
      out += ch;
      if (ch == '\'') out += '\'';
    }
  }
  if (quoted) out += '\'';
}

}  // namespace Classes::FormSyntax
