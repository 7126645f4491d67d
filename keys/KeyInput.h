// Reading a key's bytes: a file or standard input, bounded, since no key file is large.
#pragma once

#include <cstddef>
#include <string>

namespace Qarvex::Keys {

// The most bytes a key file, a PEM/DER key, a JWK or a passphrase file may have: 1 MiB.
inline constexpr std::size_t MaxKeyInputBytes = std::size_t(1) << 20;

// The whole content of a file, or of standard input when path is empty or "-". A regular file larger
// than MaxKeyInputBytes is refused from its size; from a pipe or device, once that many bytes were read
// and more follow. The buffer is sized before reading, so no partial copy is left in freed memory; the
// caller wipes the result. KeyError names the file on failure.
std::string ReadKeyInput(const std::string& path);

}  // namespace Qarvex::Keys
