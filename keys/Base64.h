// Base64 (RFC 4648) in its standard and URL-safe alphabets, strict: internal to the key library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Qarvex::Keys::Internal {

// The bytes of a standard base64 text (padding required where due; white space between characters
// is skipped when `skipSpace`), or nothing when the text is not base64.
std::optional<std::string> Base64Decode(std::string_view text, bool skipSpace);
// The bytes of a base64url text without padding (JWK), or nothing when it is not one.
std::optional<std::string> Base64UrlDecode(std::string_view text);

std::string Base64Encode(std::string_view bytes);
std::string Base64UrlEncode(std::string_view bytes);

}  // namespace Qarvex::Keys::Internal
