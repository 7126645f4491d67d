// The commands that convert keys between the tool's key files and other formats.
#pragma once

#include <string>

#include "cli/Args.h"
#include "cli/Keys.h"

namespace Qrsa {

// Parses a size in bits ("512" ... "4096"); a UsageError with `usage` otherwise.
Rsa::TKeyBits ParseKeyBits(const std::string& text, const std::string& usage);

// qrsa import-pem: an OpenSSL key (PEM or DER) into a key file.
int ImportPem(const ParsedArgs& args);
// qrsa export-pem: a key file as PKCS#8 or SubjectPublicKeyInfo PEM.
int ExportPem(const ParsedArgs& args);

}  // namespace Qrsa
