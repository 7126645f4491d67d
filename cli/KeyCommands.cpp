#include "cli/KeyCommands.h"

#include "cli/Failure.h"
#include "cli/Io.h"
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
  const auto holder = LoadKeyFile(args.Required("-k"));
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
