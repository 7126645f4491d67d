// Passphrases of encrypted keys: from --passphrase-file FILE (its first line), --passphrase-env VAR,
// or asked on the terminal (/dev/tty, echo off), so standard input stays free for data. No option
// takes a passphrase on the command line, where other users could read it.
#pragma once

#include <string>

#include "cli/Args.h"
#include "keys/KeyReader.h"

namespace Qrsa {

// The options for reading the key of `-k` (or another key argument): a passphrase source that takes
// --passphrase-file or --passphrase-env when given, and the terminal otherwise. Without a terminal it
// fails at once: "KEY is encrypted: give --passphrase-file or --passphrase-env".
Qarvex::Keys::ReadOptions KeyReadOptions(const ParsedArgs& args);

// A new passphrase for encrypting a key: from `fileOption` or `envOption` when given, otherwise asked
// twice on the terminal. An empty passphrase is refused. The caller wipes the result.
std::string NewPassphrase(const ParsedArgs& args, const std::string& fileOption, const std::string& envOption,
                          const std::string& what);

// The two options of every command that reads a key, and their help lines.
extern const char* const PassphraseOptions[2];
extern const char* const PassphraseHelp;

}  // namespace Qrsa
