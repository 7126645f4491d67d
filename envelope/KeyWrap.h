// The file key wrapped for one recipient: with RSAES-OAEP in version 2, with the component's own
// EncryptKey in version 1 (read only).
#pragma once

#include <string>
#include <string_view>

#include "rsa/RSA.h"

namespace Qarvex::Envelope {

// The OAEP label of version 2: the ASCII bytes of the format's first line.
inline constexpr std::string_view OaepLabel = "qarvex-envelope/2";

// The smallest key OAEP with SHA-256 takes a 32-byte file key with (k >= 2*32 + 2 + 32 bytes rounds up
// to the 1024-bit size).
inline constexpr int MinOaepKeyBits = 1024;

// The k-byte RSAES-OAEP cipher text (SHA-256, MGF1-SHA-256, OaepLabel) of the 32-byte file key under
// the public key loaded in `recipient`. EnvelopeError when the key cannot take it.
std::string WrapOaep(Rsa::TRSA& recipient, const unsigned char* fileKey);
// Unwraps a version 2 cipher text with the private key loaded in `key` into fileKey (32 bytes). False
// when it does not decrypt to 32 bytes; whatever was wrong, nothing else is told. Constant time in the
// decrypted block (the component's OAEP decryption).
bool UnwrapOaep(Rsa::TRSA& key, std::string_view cipherText, unsigned char* fileKey);
// Unwraps a version 1 wrapped-key text (the component's DecryptKey with sk256) into fileKey. False when
// the component refuses the text.
bool UnwrapComponent(Rsa::TRSA& key, const std::string& text, unsigned char* fileKey);

}  // namespace Qarvex::Envelope
