// The component's cipher texts for inputs of any size: encrypt and decrypt pass the data through the
// component's string encryptor and decryptor in pieces, so memory stays bounded whatever the size,
// and the text is byte for byte what EncryptString makes of the whole input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "rsa/RSA.h"

namespace Qrsa {

// Where data come from: fills up to size bytes, returns how many (0 only at the end).
using ReadFn = std::function<std::size_t(void* data, std::size_t size)>;
// Where data go.
using WriteFn = std::function<void(std::string_view data)>;
// Called as the input is read, with the bytes read so far.
using ReadProgressFn = std::function<void(std::uint64_t bytesRead)>;

// Encrypts everything `in` gives with the public key loaded in `rsa`; `out` receives the cipher text
// as it is made and finally one line break.
void EncryptText(Rsa::TRSA& rsa, const ReadFn& in, const WriteFn& out, const ReadProgressFn& progress);

// Decrypts a cipher text (trailing white space and line breaks ignored) with the private key loaded in
// `rsa`; the component's own failures for a malformed text. When `check` is set, the decrypted bytes are
// encrypted again with the public key and compared with the text as it is read (encryption is
// deterministic), and `out` receives only bytes whose blocks compared equal: a mismatch is a Failure,
// "the cipher text was not made for this key, or it is damaged", possibly after earlier bytes went out
// (a caller writing a file discards it then). An envelope of seal is refused with a hint.
void DecryptText(Rsa::TRSA& rsa, bool check, const ReadFn& in, const WriteFn& out, const ReadProgressFn& progress);

}  // namespace Qrsa
