#include "cli/KeyCommands.h"

#include <algorithm>

#include "cli/Failure.h"
#include "cli/Io.h"
#include "cli/Passphrase.h"
#include "cli/Secret.h"
#include "keys/Pem.h"

namespace Qrsa {

namespace {

using System::AnsiString;

std::string OutputPath(const ParsedArgs& args) { return args.Value("-o").value_or(""); }
std::string InputPath(const ParsedArgs& args) { return args.Value("-i").value_or(""); }

void Write(const ParsedArgs& args, std::string_view data, OutputKind kind) {
  WriteOutput(OutputPath(args), data, kind, args.Flag("--force"));
}

}  // namespace

std::unique_ptr<KeyHolder> LoadKeyArgument(const ParsedArgs& args) {
  return Qarvex::Keys::ReadKeyFile(args.Required("-k"), KeyReadOptions(args));
}

namespace {

// qrsa import: any key that can be read, into a key file.
int Import(const ParsedArgs& args) {
  const std::string path = InputPath(args);
  const auto holder = Qarvex::Keys::ReadKeyFile(path, KeyReadOptions(args));
  SecretText form(KeyFileText(*holder));
  Write(args, form.Text(), holder->HasPrivateKey() ? OutputKind::Secret : OutputKind::Public);
  return ExitOk;
}

}  // namespace

std::vector<Command> WithKeyCommands(std::vector<Command> commands) {
  const auto at = std::find_if(commands.begin(), commands.end(), [](const Command& c) { return std::string(c.Name) == "import-pem"; });
  commands.insert(at, {"import",
                       {"qrsa import [-i KEY | KEY] [-o KEYFILE] [--quiet] [--force]", {"-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
                       Import,
                       "any key that can be read (PEM, DER, OpenSSH, JWK, key text) into a key file",
                       "  -i KEY, KEY  the key, in any format qrsa reads (default: standard input)\n"
                       "  -o KEYFILE   the key file (default: standard output)\n"
                       "  --quiet      accepted for every command\n"
                       "  --force      replace KEYFILE even when it holds a private key\n" +
                           std::string(PassphraseHelp),
                       "qrsa import -i ~/.ssh/id_rsa -o alice.dfm"});
  for (Command& command : commands) {
    if (std::string(command.Name) == "import") {
      for (const char* option : PassphraseOptions) command.Syntax.ValueOptions.push_back(option);
      continue;
    }
    auto& options = command.Syntax.ValueOptions;
    if (std::find(options.begin(), options.end(), "-k") == options.end()) continue;
    for (const char* option : PassphraseOptions)
      if (std::find(options.begin(), options.end(), option) == options.end()) options.push_back(option);
    command.Options += PassphraseHelp;
  }
  return commands;
}

Rsa::TKeyBits ParseKeyBits(const std::string& text, const std::string& usage) {
  if (const auto bits = Qarvex::Keys::KeyBitsForNumber(text)) return *bits;
  throw UsageError("key size must be " + KeySizeList() + ", not '" + text + "'", usage);
}

int ImportPem(const ParsedArgs& args) {
  SecretText pem(ReadKeyInput(InputPath(args)));
  Qarvex::Keys::RsaNumbers key = Qarvex::Keys::ReadKey(pem.Text());
  Wipe(pem.Text());
  const unsigned bits = Qarvex::Keys::BitLength(key.n);
  const std::optional<Rsa::TKeyBits> found = KeyBitsForModulus(bits);
  if (!found)
    throw Failure("the RSA modulus has " + std::to_string(bits) + " bits; qrsa takes keys of " + KeySizeList() + " bits");
  const Rsa::TKeyBits keyBits = *found;
  KeyHolder holder;
  Rsa::TRSA& rsa = holder.Rsa();
  rsa.SetKeyBits(keyBits);
  const int precision = rsa.GetPrecision();
  rsa.PutPublicKey(KeyFieldText(rsa, key.e, 0) + ":" + KeyFieldText(rsa, key.n, precision));
  if (key.HasPrivate) {
    AnsiString text = KeyFieldText(rsa, key.n, 0) + ":" + KeyFieldText(rsa, key.d, precision);
    rsa.PutPrivateKey(text);
    rsa.BurnString(text);
  }
  Wipe(&key, sizeof key);
  SecretText form(KeyFileText(holder));
  Write(args, form.Text(), holder.HasPrivateKey() ? OutputKind::Secret : OutputKind::Public);
  return ExitOk;
}

int ExportPem(const ParsedArgs& args) {
  const auto holder = LoadKeyArgument(args);
  Rsa::TRSA& rsa = holder->Rsa();
  const bool publicOnly = args.Flag("--public");
  if (!holder->HasPublicKey())
    throw Failure(args.Required("-k") + " holds no public key" +
                  (publicOnly ? "" : ": a private key is exported together with its public exponent"));
  Rsa::BigNum e{}, n{}, d{};
  rsa.GetPublicKey(e, n);
  SecretText pem;
  if (publicOnly) {
    pem.Text() = Qarvex::Keys::PublicKeyPem(e, n);
  } else {
    if (!holder->HasPrivateKey())
      throw Failure(args.Required("-k") + " holds no private key, only the public one: export that with --public");
    rsa.GetPrivateKey(n, d);
    pem.Text() = Qarvex::Keys::PrivateKeyPem(e, n, d);
    Wipe(&d, sizeof d);
  }
  Write(args, pem.Text(), publicOnly ? OutputKind::Public : OutputKind::Secret);
  return ExitOk;
}

}  // namespace Qrsa
