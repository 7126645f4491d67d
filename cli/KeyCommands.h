// The commands that convert keys between the tool's key files and other formats.
#pragma once

#include <string>
#include <vector>

#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/Keys.h"
#include "keys/KeyWriter.h"

namespace Qrsa {

// Parses a size in bits ("512" ... "4096"); a UsageError with `usage` otherwise.
Rsa::TKeyBits ParseKeyBits(const std::string& text, const std::string& usage);

// The key of -k, in any format, with the passphrase options of the command line.
std::unique_ptr<KeyHolder> LoadKeyArgument(const ParsedArgs& args);

// The other commands with the key commands added (import, export), and the passphrase options added
// to every command that reads a key with -k.
std::vector<Command> WithKeyCommands(std::vector<Command> others);

// The --format of keygen and pubkey (default: a key file), and keygen's --encrypt with the new key's
// passphrase from --passphrase-file or --passphrase-env (or asked twice). Usage errors and the
// passphrase come at construction, before any time is spent on a key.
class KeyOutputFormat {
 public:
  KeyOutputFormat(const ParsedArgs& args, bool publicOnly, bool keygen);
  ~KeyOutputFormat();
  KeyOutputFormat(const KeyOutputFormat&) = delete;
  KeyOutputFormat& operator=(const KeyOutputFormat&) = delete;
  // The key as the format writes it (key material: the caller wipes it).
  std::string Text(KeyHolder& holder) const;

 private:
  Qarvex::Keys::KeyFormat FFormat = Qarvex::Keys::KeyFormat::Form;
  bool FPublicOnly;
  bool FEncrypt = false;
  std::string FPassphrase;
};

// qrsa import-pem: an OpenSSL key (PEM or DER) into a key file.
int ImportPem(const ParsedArgs& args);
// qrsa export-pem: a key file as PKCS#8 or SubjectPublicKeyInfo PEM.
int ExportPem(const ParsedArgs& args);

}  // namespace Qrsa
