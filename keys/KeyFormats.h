// The readers of the single formats, each filling KeyParts for the checks. Internal to the key library.
#pragma once

#include <string>

#include "keys/KeyParts.h"
#include "keys/KeyReader.h"

namespace Qarvex::Keys::Internal {

// The passphrase for path from the options; KeyError when there is no source. Wipe it after use.
std::string AskPassphrase(const ReadOptions& options, const std::string& path);
[[noreturn]] void WrongPassphrase(const std::string& path);

// OpenSSH: "ssh-rsa BASE64 [comment]" lines, the RFC 4716 block, the OPENSSH PRIVATE KEY file.
void ReadSshPublicLine(const std::string& text, const std::string& path, KeyParts& parts);
void ReadSsh2PublicBlock(const std::string& text, const std::string& path, KeyParts& parts);
void ReadOpenSshPrivate(const std::string& text, const std::string& path, const ReadOptions& options,
                        KeyParts& parts);
// A JSON Web Key or a JWK Set holding one key.
void ReadJwk(const std::string& text, const std::string& path, KeyParts& parts);
// PEM (one block) or DER, through libcrypto.
void ReadPemOrDer(const std::string& data, bool pem, const std::string& path, const ReadOptions& options,
                  KeyParts& parts);

}  // namespace Qarvex::Keys::Internal
