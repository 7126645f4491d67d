#include "cli/Commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "cli/Failure.h"
#include "cli/Hex.h"
#include "cli/Io.h"
#include "cli/KeyFile.h"
#include "cli/Pem.h"
#include "rsa/TextFormats.h"

namespace Qrsa {

namespace {

using System::AnsiString;

// Overwrites a buffer that held key material.
void Wipe(void* data, std::size_t size) {
  volatile auto* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

void Wipe(std::string& text) {
  Wipe(text.data(), text.size());
  text.clear();
}

Rsa::TSymKeyLength ParseSymBits(const std::string& text, const std::string& usage) {
  if (text == "64") return Rsa::sk64;
  if (text == "128") return Rsa::sk128;
  if (text == "192") return Rsa::sk192;
  if (text == "256") return Rsa::sk256;
  throw UsageError("session key size must be 64, 128, 192 or 256 bits, not '" + text + "'", usage);
}

std::unique_ptr<KeyHolder> LoadKey(const ParsedArgs& args) { return LoadKeyFile(args.Required("-k")); }

std::string OutputPath(const ParsedArgs& args) { return args.Value("-o").value_or(""); }
std::string InputPath(const ParsedArgs& args) { return args.Value("-i").value_or(""); }

// The most bytes Sign and Verify take with this component's key size: K-4.
std::size_t SignCapacity(Rsa::TRSA& rsa) { return std::size_t(4 * rsa.GetPrecision() - 4); }

void RequireSignable(Rsa::TRSA& rsa, const std::string& data, const char* verb) {
  if (data.empty())
    throw Failure(std::string("nothing to ") + verb + ": the input is empty (an empty input matches every signature)");
  if (data.size() > SignCapacity(rsa))
    throw Failure("the input has " + std::to_string(data.size()) + " bytes; a " +
                  std::to_string(KeyBitsNumber(rsa.KeyBits())) + "-bit key signs at most " +
                  std::to_string(SignCapacity(rsa)) + " bytes");
}

// Shows each status text on standard error with the time since the command started.
class StatusPrinter {
 public:
  explicit StatusPrinter(Rsa::TRSA& rsa) : FRsa(rsa), FStart(std::chrono::steady_clock::now()) {
    FRsa.SetOnStatusUpdate([this](System::TObject*) { Print(); });
  }
  ~StatusPrinter() { FRsa.SetOnStatusUpdate(nullptr); }
  StatusPrinter(const StatusPrinter&) = delete;
  StatusPrinter& operator=(const StatusPrinter&) = delete;

 private:
  void Print() {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - FStart;
    std::fprintf(stderr, "[%7.2fs] %s\n", elapsed.count(), FRsa.Status().c_str());
    std::fflush(stderr);
  }
  Rsa::TRSA& FRsa;
  std::chrono::steady_clock::time_point FStart;
};

// ---- The commands --------------------------------------------------------------------------------

int Keygen(const ParsedArgs& args) {
  const Rsa::TKeyBits bits = ParseKeyBits(args.Required("--bits"), args.Usage());
  KeyHolder holder;
  Rsa::TRSA& rsa = holder.Rsa();
  rsa.SetKeyBits(bits);
  const unsigned seedDigits = unsigned(rsa.GetPrecision() / 2);
  Rsa::BigNum seed1 = ParseHexNumber(args.Value("--seed1").value_or("0"), seedDigits, "--seed1");
  Rsa::BigNum seed2 = ParseHexNumber(args.Value("--seed2").value_or("0"), seedDigits, "--seed2");
  {
    StatusPrinter printer(rsa);
    rsa.MakeKeyPair(seed1, seed2);
  }
  Wipe(&seed1, sizeof seed1);
  Wipe(&seed2, sizeof seed2);
  std::string text = KeyFileText(holder);
  WriteOutput(OutputPath(args), text, /*secret=*/true);
  Wipe(text);
  return ExitOk;
}

int Pubkey(const ParsedArgs& args) {
  const auto source = LoadKey(args);
  if (!source->HasPublicKey()) throw Failure(args.Required("-k") + " holds no public key");
  KeyHolder holder;
  holder.Rsa().SetKeyBits(source->Rsa().KeyBits());
  holder.Rsa().SetSymKeyLength(source->Rsa().SymKeyLength());
  holder.Rsa().PutPublicKey(source->Rsa().PublicKey());
  WriteOutput(OutputPath(args), KeyFileText(holder));
  return ExitOk;
}

int Show(const ParsedArgs& args) {
  const std::string what = args.Positionals().at(0);
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  std::string text;
  bool secret = false;
  if (what == "public") {
    if (!holder->HasPublicKey()) throw Failure("Public key not loaded");
    text = rsa.PublicKey().str();
  } else if (what == "private") {
    if (!holder->HasPrivateKey()) throw Failure("Private key not loaded");
    text = rsa.PrivateKey().str();
    secret = true;
  } else if (what == "signature") {
    if (rsa.Signature().IsEmpty()) throw Failure("Signature not loaded");
    text = rsa.Signature().str();
  } else if (what == "bits") {
    text = std::to_string(KeyBitsNumber(rsa.KeyBits()));
  } else {
    throw UsageError("show takes public, private, signature or bits, not '" + what + "'", args.Usage());
  }
  WriteOutput(OutputPath(args), Line(text), secret);
  return ExitOk;
}

int Encrypt(const ParsedArgs& args) {
  const auto holder = LoadKey(args);
  std::string plain = ReadInput(InputPath(args));
  AnsiString cipher;
  holder->Rsa().EncryptString(plain, cipher);
  Wipe(plain);
  WriteOutput(OutputPath(args), Line(cipher));
  return ExitOk;
}

int Decrypt(const ParsedArgs& args) {
  const auto holder = LoadKey(args);
  const std::string cipher = TrimText(ReadInput(InputPath(args)));
  AnsiString plain;
  holder->Rsa().DecryptString(cipher, plain);
  WriteOutput(OutputPath(args), plain);
  holder->Rsa().BurnString(plain);
  return ExitOk;
}

int Wrap(const ParsedArgs& args) {
  const Rsa::TSymKeyLength length = ParseSymBits(args.Required("--sym-bits"), args.Usage());
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  rsa.SetSymKeyLength(length);
  std::string hex = args.Value("--key") ? *args.Value("--key") : TrimText(ReadInput(""));
  std::string bytes = HexDecodeBytes(hex, std::size_t(rsa.GetSymKeyBytes()), "the session key");
  Rsa::TSymKey key{};
  std::memcpy(key, bytes.data(), bytes.size());
  Wipe(hex);
  Wipe(bytes);
  const AnsiString wrapped = rsa.EncryptKey(key);
  Wipe(key, sizeof key);
  WriteOutput(OutputPath(args), Line(wrapped));
  return ExitOk;
}

int Unwrap(const ParsedArgs& args) {
  const Rsa::TSymKeyLength length = ParseSymBits(args.Required("--sym-bits"), args.Usage());
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  rsa.SetSymKeyLength(length);
  const std::string wrapped = TrimText(ReadInput(InputPath(args)));
  Rsa::TSymKey key{};
  rsa.DecryptKey(wrapped, key);
  std::string hex = HexEncode(std::string_view(reinterpret_cast<const char*>(key), std::size_t(rsa.GetSymKeyBytes())));
  Wipe(key, sizeof key);
  WriteOutput(OutputPath(args), Line(hex), /*secret=*/true);
  Wipe(hex);
  return ExitOk;
}

int Sign(const ParsedArgs& args) {
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  if (!holder->HasPrivateKey()) throw Failure("Private key not loaded");
  const std::string data = ReadInput(InputPath(args));
  RequireSignable(rsa, data, "sign");
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  rsa.Sign(bytes, int(data.size()) - 1, int(data.size()));
  WriteOutput(OutputPath(args), Line(rsa.Signature()));
  return ExitOk;
}

int Verify(const ParsedArgs& args) {
  const auto sigFile = args.Value("-s");
  const auto sigText = args.Value("--signature");
  if (sigFile.has_value() == sigText.has_value())
    throw UsageError("give the signature with either -s SIGFILE or --signature TEXT", args.Usage());
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  if (!holder->HasPublicKey()) throw Failure("Public key not loaded");
  const std::string signature = sigFile ? TrimText(ReadInput(*sigFile)) : TrimText(*sigText);
  const std::string data = ReadInput(InputPath(args));
  RequireSignable(rsa, data, "verify");
  rsa.PutSignature(signature);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  const bool valid = rsa.Verify(bytes, int(data.size()) - 1, int(data.size()));
  WriteOutput("", Line(valid ? "valid" : "invalid"));
  return valid ? ExitOk : ExitMismatch;
}

int ImportPem(const ParsedArgs& args) {
  const std::string pem = ReadInput(InputPath(args));
  RsaNumbers key = ReadPemKey(pem);
  const unsigned bits = BitLength(key.n);
  // The blocks the component builds stay below n only when n fills the top byte of the key size.
  const std::optional<Rsa::TKeyBits> keyBits = KeyBitsForModulus(bits);
  if (!keyBits)
    throw Failure("the RSA modulus has " + std::to_string(bits) + " bits; qrsa takes keys of " +
                  KeySizeList() + " bits");
  KeyHolder holder;
  Rsa::TRSA& rsa = holder.Rsa();
  rsa.SetKeyBits(*keyBits);
  const int precision = rsa.GetPrecision();
  rsa.PutPublicKey(Rsa::KeyFieldText(key.e) + ":" + Rsa::KeyFieldText(key.n, precision));
  if (key.HasPrivate) {
    AnsiString text = Rsa::KeyFieldText(key.n) + ":" + Rsa::KeyFieldText(key.d, precision);
    rsa.PutPrivateKey(text);
    rsa.BurnString(text);
  }
  Wipe(&key, sizeof key);
  std::string form = KeyFileText(holder);
  WriteOutput(OutputPath(args), form, /*secret=*/holder.HasPrivateKey());
  Wipe(form);
  return ExitOk;
}

int ExportPem(const ParsedArgs& args) {
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  const bool publicOnly = args.Flag("--public");
  if (!holder->HasPublicKey())
    throw Failure(args.Required("-k") + " holds no public key" +
                  (publicOnly ? "" : ": a private key is exported together with its public exponent"));
  Rsa::BigNum e{}, n{}, d{};
  rsa.GetPublicKey(e, n);
  std::string pem;
  if (publicOnly) {
    pem = PublicKeyPem(e, n);
  } else {
    if (!holder->HasPrivateKey()) throw Failure("Private key not loaded");
    rsa.GetPrivateKey(n, d);
    pem = PrivateKeyPem(e, n, d);
    Wipe(&d, sizeof d);
  }
  WriteOutput(OutputPath(args), pem, /*secret=*/!publicOnly);
  Wipe(pem);
  return ExitOk;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"keygen",
       {"qrsa keygen --bits 512|1024|2048|3072|4096 [--seed1 HEX] [--seed2 HEX] [-o KEYFILE]",
        {"--bits", "--seed1", "--seed2", "-o"}, {}, 0, 0},
       Keygen, "generate a key pair into a key file; progress on standard error"},
      {"pubkey", {"qrsa pubkey -k KEYFILE [-o KEYFILE]", {"-k", "-o"}, {}, 0, 0}, Pubkey,
       "the public part of a key file, to hand out"},
      {"show", {"qrsa show -k KEYFILE public|private|signature|bits [-o OUT]", {"-k", "-o"}, {}, 1, 1}, Show,
       "print a key text, the signature text or the key size"},
      {"encrypt", {"qrsa encrypt -k KEYFILE [-i IN] [-o OUT]", {"-k", "-i", "-o"}, {}, 0, 0}, Encrypt,
       "encrypt any bytes into a cipher text (public key)"},
      {"decrypt", {"qrsa decrypt -k KEYFILE [-i IN] [-o OUT]", {"-k", "-i", "-o"}, {}, 0, 0}, Decrypt,
       "decrypt a cipher text back into the bytes (private key)"},
      {"wrap", {"qrsa wrap -k KEYFILE --sym-bits 64|128|192|256 [--key HEX] [-o OUT]",
                {"-k", "--sym-bits", "--key", "-o"}, {}, 0, 0},
       Wrap, "wrap a session key given in hex (from --key or standard input)"},
      {"unwrap", {"qrsa unwrap -k KEYFILE --sym-bits 64|128|192|256 [-i IN] [-o OUT]",
                  {"-k", "--sym-bits", "-i", "-o"}, {}, 0, 0},
       Unwrap, "unwrap a wrapped session key; prints it in hex"},
      {"sign", {"qrsa sign -k KEYFILE [-i IN] [-o OUT]", {"-k", "-i", "-o"}, {}, 0, 0}, Sign,
       "sign the input (at most K-4 bytes); prints the signature text"},
      {"verify", {"qrsa verify -k KEYFILE (-s SIGFILE | --signature TEXT) [-i IN]",
                  {"-k", "-s", "--signature", "-i"}, {}, 0, 0},
       Verify, "check the input against a signature: \"valid\" (exit 0) or \"invalid\" (exit 1)"},
      {"import-pem", {"qrsa import-pem [-i PEM] [-o KEYFILE]", {"-i", "-o"}, {}, 0, 0}, ImportPem,
       "an OpenSSL RSA key (PKCS#1 or PKCS#8, private or public) into a key file"},
      {"export-pem", {"qrsa export-pem -k KEYFILE [--public] [-o PEM]", {"-k", "-o"}, {"--public"}, 0, 0},
       ExportPem, "a key file as OpenSSL PEM (PKCS#8 private key, or public key with --public)"},
      {"demo", {"qrsa demo", {}, {}, 0, 0}, RunDemo, "walk through a session-key exchange between two components"},
  };
  return commands;
}

}  // namespace Qrsa
