// Lexical rules shared by the form-file writer and reader.
#pragma once

#include <string>
#include <string_view>

#include "host/core/System.h"

namespace Classes::FormSyntax {

inline bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
inline bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
// A letter or underscore, then letters, digits and underscores.
bool IsIdentifier(std::string_view text);
// Printable ASCII goes inside single quotes (a quote doubled); every other byte becomes #nn.
inline bool IsPlain(unsigned char c) { return c >= 0x20 && c < 0x7f; }
// Appends the literal of a non-empty byte string: quoted runs of printable characters and #nn codes.
// The value may be a private key text, so the literal goes straight into a wiped string.
void AppendStringLiteral(System::TWipedString& out, std::string_view bytes);

}  // namespace Classes::FormSyntax
