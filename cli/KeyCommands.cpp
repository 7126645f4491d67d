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

const char* const FormatNames = "pem, der, pkcs1, openssh, jwk, text or form";

Qarvex::Keys::KeyFormat ParseFormat(const ParsedArgs& args) {
  const std::string name = args.Value("--format").value_or("form");
  const auto format = Qarvex::Keys::ParseKeyFormat(name);
  if (!format) throw UsageError("--format takes " + std::string(FormatNames) + ", not '" + name + "'", args.Usage());
  return *format;
}

void RequireEncryptable(const ParsedArgs& args, Qarvex::Keys::KeyFormat format, bool publicOnly) {
  if (publicOnly) throw UsageError("--encrypt encrypts a private key: it does not go with --public", args.Usage());
  if (!Qarvex::Keys::CanEncrypt(format))
    throw UsageError("--encrypt takes --format pem, der or openssh, not '" + args.Value("--format").value_or("form") + "'",
                     args.Usage());
}

// qrsa export: a key in a named format.
int Export(const ParsedArgs& args) {
  const Qarvex::Keys::KeyFormat format = ParseFormat(args);
  const bool publicOnly = args.Flag("--public");
  const bool encrypt = args.Flag("--encrypt");
  if (encrypt) RequireEncryptable(args, format, publicOnly);
  if (!encrypt && (args.Value("--new-passphrase-file") || args.Value("--new-passphrase-env")))
    throw UsageError("a new passphrase is for --encrypt", args.Usage());
  const std::string key = args.Required("-k");
  const auto holder = LoadKeyArgument(args);
  Qarvex::Keys::WriteOptions options;
  options.PublicOnly = publicOnly;
  options.Comment = args.Value("--comment").value_or("");
  SecretText passphrase;
  if (encrypt) {
    passphrase.Text() = NewPassphrase(args, "--new-passphrase-file", "--new-passphrase-env", key);
    options.Passphrase = &passphrase.Text();
  }
  SecretText text;
  try {
    text.Text() = Qarvex::Keys::WriteKey(*holder, format, options);
  } catch (const KeyError& error) {
    throw Failure(key + ": " + error.what());
  }
  Write(args, text.Text(), publicOnly ? OutputKind::Public : OutputKind::Secret);
  return ExitOk;
}

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
  commands.insert(std::find_if(commands.begin(), commands.end(), [](const Command& c) { return std::string(c.Name) == "import-pem"; }),
                  {"export",
                   {"qrsa export -k KEY --format pem|der|pkcs1|openssh|jwk|text|form [--public] [--encrypt] [--comment TEXT] "
                    "[-o OUT] [--quiet] [--force]",
                    {"-k", "--format", "--comment", "--new-passphrase-file", "--new-passphrase-env", "-o"},
                    {"--public", "--encrypt", "--quiet", "--force"}, 0, 0},
                   Export,
                   "a key in a named format: PEM, DER, PKCS#1, OpenSSH, JWK, key text or key file",
                   "  -k KEY                      the key, in any format qrsa reads\n"
                   "  --format NAME               pem: PKCS#8 private key or SubjectPublicKeyInfo public key;\n"
                   "                              der: the same in DER; pkcs1: RSA PRIVATE/PUBLIC KEY PEM;\n"
                   "                              openssh: the OPENSSH PRIVATE KEY file or the ssh-rsa line;\n"
                   "                              jwk: a JSON Web Key with its RFC 7638 thumbprint as kid;\n"
                   "                              text: the key text (as show prints it); form: a key file\n"
                   "  --public                    write the public key only\n"
                   "  --encrypt                   encrypt the private key: pem and der as PBES2 (AES-256-CBC,\n"
                   "                              PBKDF2-HMAC-SHA256, 600,000 iterations), openssh with the\n"
                   "                              bcrypt KDF (16 rounds) and aes256-ctr\n"
                   "  --new-passphrase-file FILE  the new passphrase: the first line of FILE\n"
                   "  --new-passphrase-env VAR    the new passphrase: the environment variable VAR\n"
                   "                              (without either, it is asked twice on the terminal)\n"
                   "  --comment TEXT              the OpenSSH comment (default none)\n"
                   "  -o OUT                      the key (default: standard output)\n"
                   "  --quiet                     accepted for every command\n"
                   "  --force                     replace OUT even when it holds a private key\n",
                   "qrsa export -k alice.dfm --format openssh --encrypt -o id_rsa"});
  for (Command& command : commands) {
    const std::string name = command.Name;
    if (name == "keygen" || name == "pubkey") {
      command.Syntax.ValueOptions.push_back("--format");
      command.Options += "  --format NAME    the key's format: " + std::string(FormatNames) + " (default form; see\n"
                         "                   qrsa help export)\n";
      if (name == "keygen") {
        command.Syntax.Flags.push_back("--encrypt");
        for (const char* option : PassphraseOptions) command.Syntax.ValueOptions.push_back(option);
        command.Options +=
            "  --encrypt        encrypt the new private key (--format pem, der or openssh), so it never\n"
            "                   touches the disk in the clear; its passphrase from --passphrase-file FILE\n"
            "                   or --passphrase-env VAR, or asked twice on the terminal\n";
      }
    }
    if (name == "import") {
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

KeyOutputFormat::KeyOutputFormat(const ParsedArgs& args, bool publicOnly, bool keygen)
    : FFormat(ParseFormat(args)), FPublicOnly(publicOnly) {
  if (!keygen || !args.Flag("--encrypt")) return;
  RequireEncryptable(args, FFormat, publicOnly);
  FEncrypt = true;
  FPassphrase = NewPassphrase(args, "--passphrase-file", "--passphrase-env", "the new key");
}

KeyOutputFormat::~KeyOutputFormat() { Wipe(FPassphrase); }

std::string KeyOutputFormat::Text(KeyHolder& holder) const {
  Qarvex::Keys::WriteOptions options;
  options.PublicOnly = FPublicOnly;
  if (FEncrypt) options.Passphrase = &FPassphrase;
  try {
    return Qarvex::Keys::WriteKey(holder, FFormat, options);
  } catch (const KeyError& error) {
    throw Failure(error.what());
  }
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
