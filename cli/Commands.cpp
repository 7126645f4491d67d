#include "cli/Commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "cli/CipherText.h"
#include "cli/ComponentUnwrap.h"
#include "cli/Digest.h"
#include "cli/Failure.h"
#include "cli/Hex.h"
#include "cli/InputStream.h"
#include "cli/Io.h"
#include "cli/KeyCommands.h"
#include "cli/Progress.h"
#include "cli/Secret.h"
#include "envelope/Envelope.h"
#include "rsa/StandardSchemes.h"

namespace Qrsa {

namespace {

using System::AnsiString;

// An option value that does not parse is a usage error, like an unknown option.
template <class F>
auto ParseOption(const ParsedArgs& args, F parse) {
  try {
    return parse();
  } catch (const Failure& error) {
    throw UsageError(error.what(), args.Usage());
  }
}

Rsa::TSymKeyLength ParseSymBits(const std::string& text, const std::string& usage) {
  if (text == "64") return Rsa::sk64;
  if (text == "128") return Rsa::sk128;
  if (text == "192") return Rsa::sk192;
  if (text == "256") return Rsa::sk256;
  throw UsageError("session key size must be 64, 128, 192 or 256 bits, not '" + text + "'", usage);
}

// The bytes of a session key of this size: 8, 16, 24 or 32.
std::size_t SymKeyBytes(Rsa::TSymKeyLength length) {
  switch (length) {
    case Rsa::sk64: return 8;
    case Rsa::sk128: return 16;
    case Rsa::sk192: return 24;
    case Rsa::sk256: return 32;
  }
  return 0;
}

std::string OutputPath(const ParsedArgs& args) { return args.Value("-o").value_or(""); }
std::string InputPath(const ParsedArgs& args) { return args.Value("-i").value_or(""); }
bool Force(const ParsedArgs& args) { return args.Flag("--force"); }
bool Quiet(const ParsedArgs& args) { return args.Flag("--quiet"); }

// How an input is named in messages.
std::string InputName(const std::string& path) { return IsStandardStream(path) ? "standard input" : path; }

// The schemes a command offers, by the names --scheme takes.
enum class Scheme { Component, Pkcs1, Pss, Oaep };

std::optional<Scheme> ParseScheme(const ParsedArgs& args, std::initializer_list<std::pair<const char*, Scheme>> offered) {
  const auto name = args.Value("--scheme");
  if (!name) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& [word, scheme] : offered) {
    if (*name == word) return scheme;
    names.push_back(word);
  }
  throw UsageError("--scheme must be " + Listed(names, "or") + ", not '" + *name + "'", args.Usage());
}

std::unique_ptr<KeyHolder> LoadKey(const ParsedArgs& args) { return LoadKeyArgument(args); }

// The component's messages come out with the tool's context after them: which file, what to try.
template <class F>
auto WithContext(const std::string& context, F operation) {
  try {
    return operation();
  } catch (const Rsa::EInvalidKey&) {
    throw;  // the key's fault, not the input's: main gives it the key's context
  } catch (const Sysutils::Exception& error) {
    throw Failure(error.Message().str() + ": " + context);
  }
}

void RequirePrivateKey(KeyHolder& holder, const ParsedArgs& args, const char* command) {
  if (!holder.HasPrivateKey())
    throw Failure("Private key not loaded: " + args.Required("-k") + " holds no private key; " + command +
                  " needs the key file with the private key (as keygen or import-pem wrote it), not a public one");
}

void RequirePublicKey(KeyHolder& holder, const ParsedArgs& args, const char* command) {
  if (!holder.HasPublicKey())
    throw Failure("Public key not loaded: " + args.Required("-k") + " holds no public key, which " + command +
                  " needs (a bare private key text n:d has none; use the key file keygen wrote, or pubkey's)");
}

void Write(const ParsedArgs& args, std::string_view data, OutputKind kind = OutputKind::Public) {
  WriteOutput(OutputPath(args), data, kind, Force(args));
}

// The most bytes Sign and Verify take with this component's key size: K-4.
std::size_t SignCapacity(Rsa::TRSA& rsa) { return std::size_t(4 * rsa.GetPrecision() - 4); }

void RequireSignable(Rsa::TRSA& rsa, const std::string& data, const char* verb) {
  if (data.empty())
    throw Failure(std::string("nothing to ") + verb + ": the input is empty (an empty input matches every signature)");
  if (data.size() > SignCapacity(rsa))
    throw Failure("the input has " + std::to_string(data.size()) + " bytes; a " +
                  std::to_string(KeyBitsNumber(rsa.KeyBits())) + "-bit key signs at most " +
                  std::to_string(SignCapacity(rsa)) + " bytes (sign a digest of longer data: --digest sha256)");
}

// The data to sign or verify: the input itself, or the DER DigestInfo of its digest.
std::string SignedBytes(const ParsedArgs& args, Rsa::TRSA& rsa, const char* verb) {
  const auto digestName = args.Value("--digest");
  if (!digestName) {
    std::string data = ReadInput(InputPath(args));
    RequireSignable(rsa, data, verb);
    return data;
  }
  const Hash::THashKind kind = ParseOption(args, [&] { return ParseDigest(*digestName); });
  std::string info = DigestInfo(kind, InputDigest(kind, InputPath(args)));
  if (info.size() > SignCapacity(rsa))
    throw Failure(std::string("a ") + std::to_string(KeyBitsNumber(rsa.KeyBits())) + "-bit key signs at most " +
                  std::to_string(SignCapacity(rsa)) + " bytes, too few for the " + *digestName +
                  " DigestInfo (" + std::to_string(info.size()) + " bytes); use sha256 or a larger key");
  return info;
}

// ---- Options of the standard schemes ----

// An option that belongs to other schemes than the one chosen.
void RequireNoOption(const ParsedArgs& args, const char* option, const char* belongsTo) {
  if (args.Value(option)) throw UsageError(std::string(option) + " is for " + belongsTo, args.Usage());
}

Hash::THashKind DigestOption(const ParsedArgs& args, const char* option, Hash::THashKind fallback, bool withSha1) {
  const auto name = args.Value(option);
  if (!name) return fallback;
  return ParseOption(args, [&] {
    try {
      return ParseDigest(*name, withSha1);
    } catch (const Failure& error) {
      throw Failure(std::string(option) + ": " + error.what());
    }
  });
}

// --salt-length N, and for verification N or auto (any length; the default there).
int SaltLengthOption(const ParsedArgs& args, bool verifying) {
  const auto text = args.Value("--salt-length");
  if (!text) return verifying ? Rsa::PssSaltAuto : Rsa::PssSaltDigestLength;
  if (verifying && *text == "auto") return Rsa::PssSaltAuto;
  if (text->empty() || text->size() > 4 || text->find_first_not_of("0123456789") != std::string::npos)
    throw UsageError(std::string("--salt-length must be a number of bytes") + (verifying ? " or auto" : "") +
                         ", not '" + *text + "'",
                     args.Usage());
  return std::stoi(*text);
}

Rsa::TPssParameters PssOptions(const ParsedArgs& args, bool verifying) {
  Rsa::TPssParameters parameters;
  parameters.Digest = DigestOption(args, "--digest", Hash::THashKind::Sha256, false);
  if (args.Value("--mgf1-digest")) parameters.Mgf1Digest = DigestOption(args, "--mgf1-digest", parameters.Digest, true);
  parameters.SaltLength = SaltLengthOption(args, verifying);
  return parameters;
}

Rsa::TOaepParameters OaepOptions(const ParsedArgs& args) {
  Rsa::TOaepParameters parameters;
  parameters.Digest = DigestOption(args, "--digest", Hash::THashKind::Sha256, true);
  if (args.Value("--mgf1-digest")) parameters.Mgf1Digest = DigestOption(args, "--mgf1-digest", parameters.Digest, true);
  if (const auto label = args.Value("--label"); label && !label->empty()) {
    if (label->size() % 2 != 0) throw UsageError("--label must be hex digits in pairs, one pair a byte", args.Usage());
    parameters.Label = ParseOption(args, [&] { return HexDecodeBytes(*label, label->size() / 2, "--label"); });
  }
  return parameters;
}

// The options that only the component's scheme, or only the standard ones, take.
void RequireSchemeOptions(const ParsedArgs& args, Scheme scheme) {
  if (scheme != Scheme::Pss) {
    RequireNoOption(args, "--salt-length", "--scheme pss");
    if (scheme != Scheme::Oaep) RequireNoOption(args, "--mgf1-digest", "--scheme pss and --scheme oaep");
  }
  if (scheme != Scheme::Oaep) RequireNoOption(args, "--label", "--scheme oaep");
  if (scheme == Scheme::Component) RequireNoOption(args, "--mgf1-digest", "--scheme pss and --scheme oaep");
}

// The component's radix-64 texts (signatures, wrapped keys) are never k bytes long; raw standard
// signatures and cipher texts always are.
bool IsComponentText(const std::string& bytes, Rsa::TRSA& rsa) {
  const std::string text = TrimText(bytes);
  if (bytes.size() == std::size_t(4 * rsa.GetPrecision()) || text.empty()) return false;
  return text.find_first_not_of("+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") == std::string::npos;
}

std::string KeyContext(const ParsedArgs& args, Rsa::TRSA& rsa) {
  return args.Required("-k") + " holds a " + std::to_string(KeyBitsNumber(rsa.KeyBits())) +
         "-bit key (a shorter --digest, or a larger key, may fit)";
}

// Shows each status text on standard error with the time since the command started.
class StatusPrinter {
 public:
  StatusPrinter(Rsa::TRSA& rsa, bool quiet) : FRsa(rsa), FStart(std::chrono::steady_clock::now()) {
    if (!quiet) FRsa.SetOnStatusUpdate([this](System::TObject*) { Print(); });
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

std::string Fingerprint(KeyHolder& holder) {
  Rsa::BigNum e{}, n{};
  holder.Rsa().GetPublicKey(e, n);
  return Qarvex::Envelope::Fingerprint(e, n);
}

// ---- The commands --------------------------------------------------------------------------------

int Keygen(const ParsedArgs& args) {
  const Rsa::TKeyBits bits = ParseKeyBits(args.Value("--bits").value_or("3072"), args.Usage());
  KeyHolder holder;
  Rsa::TRSA& rsa = holder.Rsa();
  rsa.SetKeyBits(bits);
  const unsigned seedDigits = unsigned(rsa.GetPrecision() / 2);
  Rsa::BigNum seed1 = ParseOption(args, [&] { return ParseHexNumber(args.Value("--seed1").value_or("0"), seedDigits, "--seed1"); });
  Rsa::BigNum seed2 = ParseOption(args, [&] { return ParseHexNumber(args.Value("--seed2").value_or("0"), seedDigits, "--seed2"); });
  // Refuse to replace a private key, or a wrong format, before spending the time on a new one.
  const KeyOutputFormat format(args, false, true);
  Output output(OutputPath(args), OutputKind::Secret, Force(args));
  if (KeyBitsNumber(bits) == 512 && !Quiet(args))
    std::fprintf(stderr, "qrsa: warning: 512-bit keys can be factored; use them for tests only\n");
  {
    // The stage lines are for a person watching; a log or a pipe gets none.
    StatusPrinter printer(rsa, Quiet(args) || !::isatty(STDERR_FILENO));
    rsa.MakeKeyPair(seed1, seed2);
  }
  Wipe(&seed1, sizeof seed1);
  Wipe(&seed2, sizeof seed2);
  SecretText text(format.Text(holder));
  output.Write(text.Text());
  output.Commit();
  return ExitOk;
}

int Pubkey(const ParsedArgs& args) {
  const auto source = LoadKey(args);
  RequirePublicKey(*source, args, "pubkey");
  KeyHolder holder;
  holder.Rsa().SetKeyBits(source->Rsa().KeyBits());
  holder.Rsa().SetSymKeyLength(source->Rsa().SymKeyLength());
  holder.Rsa().PutPublicKey(source->Rsa().PublicKey());
  Write(args, KeyOutputFormat(args, true, false).Text(holder));
  return ExitOk;
}

int Show(const ParsedArgs& args) {
  const std::string what = args.Positionals().at(0);
  static const char* const kinds[] = {"public", "private", "signature", "bits", "fingerprint", "ssh-fingerprint",
                                      "jwk-thumbprint"};
  if (std::find_if(std::begin(kinds), std::end(kinds), [&](const char* k) { return what == k; }) == std::end(kinds))
    throw UsageError("show takes public, private, signature, bits, fingerprint, ssh-fingerprint or jwk-thumbprint, not '" +
                         what + "'",
                     args.Usage());
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  SecretText text;
  OutputKind kind = OutputKind::Public;
  if (what == "public") {
    RequirePublicKey(*holder, args, "show public");
    text.Text() = rsa.PublicKey().str();
  } else if (what == "private") {
    RequirePrivateKey(*holder, args, "show private");
    // Room for the line break first: an append that moved the text would leave a copy behind.
    text.Text().reserve(std::size_t(rsa.PrivateKey().Length()) + 1);
    text.Text().assign(rsa.PrivateKey().str());
    kind = OutputKind::Secret;
  } else if (what == "signature") {
    if (rsa.Signature().IsEmpty())
      throw Failure("Signature not loaded: " + args.Required("-k") +
                    " holds no signature text; the key files that keygen, pubkey and import-pem write never hold one,"
                    " and sign writes its signatures to a file of their own (-o FILE)");
    text.Text() = rsa.Signature().str();
  } else if (what == "bits") {
    text.Text() = std::to_string(KeyBitsNumber(rsa.KeyBits()));
  } else {
    if (!holder->HasPublicKey()) throw Failure(args.Required("-k") + " holds no public key, which the fingerprint is taken of");
    text.Text() = what == "ssh-fingerprint"  ? Qarvex::Keys::SshFingerprint(*holder)
                  : what == "jwk-thumbprint" ? Qarvex::Keys::JwkThumbprint(*holder)
                                             : Fingerprint(*holder);
  }
  text.Text() += '\n';
  Write(args, text.Text(), kind);
  return ExitOk;
}

int Encrypt(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const auto holder = LoadKey(args);
  RequirePublicKey(*holder, args, "encrypt");
  Output output(OutputPath(args), OutputKind::Public, Force(args));
  InputStream in(InputPath(args));
  Progress progress(in.Size(), Quiet(args));
  EncryptText(
      holder->Rsa(), [&](void* data, std::size_t size) { return in.Read(data, size); },
      [&](std::string_view text) { output.Write(text); }, [&](std::uint64_t done) { progress.Update(done); });
  progress.Finish();
  output.Commit();
  return ExitOk;
}

int Decrypt(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const auto holder = LoadKey(args);
  RequirePrivateKey(*holder, args, "decrypt");
  Output output(OutputPath(args), OutputKind::Secret, Force(args));
  InputStream in(InputPath(args));
  Progress progress(in.Size(), Quiet(args));
  // String encryption is deterministic: encrypting the result again must give the input back.
  const bool check = holder->HasPublicKey();
  WithContext(InputName(InputPath(args)) + " is not a cipher text of 'qrsa encrypt' for this " +
                  std::to_string(KeyBitsNumber(holder->Rsa().KeyBits())) + "-bit key",
              [&] {
                DecryptText(
                    holder->Rsa(), check, [&](void* data, std::size_t size) { return in.Read(data, size); },
                    [&](std::string_view plain) { output.Write(plain); },
                    [&](std::uint64_t done) { progress.Update(done); });
              });
  progress.Finish();
  if (!check && !Quiet(args))
    std::fprintf(stderr, "qrsa: note: %s holds no public key, so the result could not be checked\n",
                 args.Required("-k").c_str());
  output.Commit();
  return ExitOk;
}

// The component's wrapping: a session key of --sym-bits in hex, the radix-64 text of its block.
int WrapComponent(const ParsedArgs& args) {
  const Rsa::TSymKeyLength length = ParseSymBits(args.Required("--sym-bits"), args.Usage());
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  RequirePublicKey(*holder, args, "wrap");
  rsa.SetSymKeyLength(length);
  const std::size_t count = std::size_t(rsa.GetSymKeyBytes());
  SecretText bytes;
  if (const auto option = args.Value("--key")) {
    bytes.Text() = ParseOption(args, [&] { return HexDecodeBytes(*option, count, "the session key"); });
  } else {
    SecretText hex(TrimText(ReadInput(InputPath(args), SmallInputLimit, "a session key")));
    bytes.Text() = HexDecodeBytes(hex.Text(), count, "the session key");
  }
  Rsa::TSymKey key{};
  std::memcpy(key, bytes.Text().data(), bytes.Text().size());
  const AnsiString wrapped = rsa.EncryptKey(key);
  Wipe(key, sizeof key);
  Write(args, Line(wrapped.str()));
  return ExitOk;
}

// OAEP: the session key's bytes (from --key in hex, or raw from a file or standard input), the raw
// k-byte cipher text.
int WrapOaep(const ParsedArgs& args) {
  const Rsa::TOaepParameters parameters = OaepOptions(args);
  std::optional<std::size_t> symBytes;
  if (const auto bits = args.Value("--sym-bits"))
    symBytes = SymKeyBytes(ParseSymBits(*bits, args.Usage()));
  SecretText key;
  if (const auto option = args.Value("--key")) {
    if (!symBytes && option->size() % 2 != 0)
      throw UsageError("the session key must be hex digits in pairs, one pair a byte", args.Usage());
    key.Text() = ParseOption(args, [&] { return HexDecodeBytes(*option, symBytes.value_or(option->size() / 2), "the session key"); });
  }
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  RequirePublicKey(*holder, args, "wrap");
  Output output(OutputPath(args), OutputKind::Public, Force(args), OutputForm::Binary);
  if (!args.Value("--key")) key.Text() = ReadInput(InputPath(args), SmallInputLimit, "a session key");
  const std::string source = args.Value("--key") ? "the session key" : InputName(InputPath(args));
  if (key.Text().empty()) throw Failure("nothing to wrap: " + source + " is empty");
  if (symBytes && key.Text().size() != *symBytes)
    throw Failure(source + " has " + std::to_string(key.Text().size()) + " bytes, not the " + std::to_string(*symBytes) +
                  " that --sym-bits " + *args.Value("--sym-bits") + " names");
  const std::size_t most = WithContext(KeyContext(args, rsa), [&] { return Rsa::OaepMaxMessage(rsa, parameters); });
  if (key.Text().size() > most)
    throw Failure(source + " has " + std::to_string(key.Text().size()) + " bytes; OAEP with " +
                  Hash::HashName(parameters.Digest) + " under a " + std::to_string(KeyBitsNumber(rsa.KeyBits())) +
                  "-bit key wraps at most " + std::to_string(most));
  const std::string cipher =
      WithContext(KeyContext(args, rsa), [&] { return Rsa::OaepEncrypt(rsa, parameters, key.Text()); });
  output.Write(cipher);
  output.Commit();
  return ExitOk;
}

int Wrap(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", !args.Value("--key")}});
  if (args.Value("--key") && args.Value("-i"))
    throw UsageError("give the session key with either --key HEX or -i FILE", args.Usage());
  const Scheme scheme = ParseScheme(args, {{"oaep", Scheme::Oaep}, {"component", Scheme::Component}}).value_or(Scheme::Oaep);
  RequireSchemeOptions(args, scheme);
  if (scheme == Scheme::Component) {
    RequireNoOption(args, "--digest", "--scheme oaep");
    return WrapComponent(args);
  }
  return WrapOaep(args);
}

int UnwrapComponent(const ParsedArgs& args, KeyHolder& holder, const std::string& wrapped, Output& output) {
  Rsa::TRSA& rsa = holder.Rsa();
  rsa.SetSymKeyLength(ParseSymBits(args.Required("--sym-bits"), args.Usage()));
  const int K = 4 * rsa.GetPrecision();
  Rsa::TSymKey key{};
  WithContext(InputName(InputPath(args)) + " is not a wrapped-key text for this " +
                  std::to_string(KeyBitsNumber(rsa.KeyBits())) + "-bit key (" + std::to_string((4 * K + 2) / 3) +
                  " radix-64 characters, as wrap --scheme component writes it)",
              [&] { ComponentUnwrap(rsa, TrimText(wrapped), key); });
  SecretText hex(HexEncode(std::string_view(reinterpret_cast<const char*>(key), std::size_t(rsa.GetSymKeyBytes()))));
  Wipe(key, sizeof key);
  output.Write(hex.Text());
  output.Write("\n");  // apart: an append could move the key's text and leave a copy behind
  output.Commit();
  return ExitOk;
}

int UnwrapOaep(const ParsedArgs& args, KeyHolder& holder, const std::string& wrapped, Output& output) {
  Rsa::TRSA& rsa = holder.Rsa();
  const Rsa::TOaepParameters parameters = OaepOptions(args);
  const std::string source = InputName(InputPath(args));
  const std::size_t K = std::size_t(4 * rsa.GetPrecision());
  if (!args.Value("--scheme") && IsComponentText(wrapped, rsa))
    throw UsageError(source + " holds a wrapped-key text of the component's scheme: unwrap it with --scheme component"
                     " (the default, OAEP, reads the raw " + std::to_string(K) + "-byte cipher text)",
                     args.Usage());
  if (wrapped.size() != K)
    throw Failure(source + " has " + std::to_string(wrapped.size()) + " bytes; an OAEP cipher text for this " +
                  std::to_string(KeyBitsNumber(rsa.KeyBits())) + "-bit key has " + std::to_string(K));
  System::TWipedString plain;
  try {
    plain = Rsa::OaepDecrypt(rsa, parameters, wrapped);
  } catch (const Sysutils::EConvertError& error) {
    throw Failure(error.Message().str() +
                  ": the wrapped key was not made for this key, or it is damaged, or it was wrapped with another"
                  " --digest, --mgf1-digest or --label");
  }
  if (const auto bits = args.Value("--sym-bits")) {
    const std::size_t expected = SymKeyBytes(ParseSymBits(*bits, args.Usage()));
    if (plain.size() != expected)
      throw Failure("the unwrapped key has " + std::to_string(plain.size()) + " bytes, not the " +
                    std::to_string(expected) + " that --sym-bits " + *bits + " names");
  }
  output.Write(std::string_view(plain.data(), plain.size()));
  output.Commit();
  return ExitOk;
}

int Unwrap(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const Scheme scheme = ParseScheme(args, {{"oaep", Scheme::Oaep}, {"component", Scheme::Component}}).value_or(Scheme::Oaep);
  RequireSchemeOptions(args, scheme);
  if (scheme == Scheme::Component) {
    RequireNoOption(args, "--digest", "--scheme oaep");
    ParseSymBits(args.Required("--sym-bits"), args.Usage());
  } else {
    OaepOptions(args);  // option faults before any file is touched
    if (const auto bits = args.Value("--sym-bits")) ParseSymBits(*bits, args.Usage());
  }
  const auto holder = LoadKey(args);
  RequirePrivateKey(*holder, args, "unwrap");
  // OAEP gives the key's raw bytes; the component's scheme its hex.
  Output output(OutputPath(args), OutputKind::Secret, Force(args),
                scheme == Scheme::Oaep ? OutputForm::Binary : OutputForm::Text);
  const std::string wrapped = ReadInput(InputPath(args), SmallInputLimit, "a wrapped key");
  const std::string text = TrimText(wrapped);
  if (text.starts_with("qarvex-envelope") || text.starts_with("-----BEGIN QARVEX ENVELOPE"))
    throw Failure(InputName(InputPath(args)) + " is a sealed envelope, not a wrapped key: open it with 'qrsa open'");
  return scheme == Scheme::Component ? UnwrapComponent(args, *holder, wrapped, output)
                                     : UnwrapOaep(args, *holder, wrapped, output);
}

int Sign(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const Scheme scheme =
      ParseScheme(args, {{"pkcs1", Scheme::Pkcs1}, {"pss", Scheme::Pss}, {"component", Scheme::Component}})
          .value_or(Scheme::Pkcs1);
  RequireSchemeOptions(args, scheme);
  const Rsa::TPssParameters pss = scheme == Scheme::Pss ? PssOptions(args, false) : Rsa::TPssParameters{};
  const Hash::THashKind digest = DigestOption(args, "--digest", Hash::THashKind::Sha256, false);
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  RequirePrivateKey(*holder, args, "sign");
  // The standard schemes' signatures are raw bytes; the component's is a text.
  Output output(OutputPath(args), OutputKind::Public, Force(args),
                scheme == Scheme::Component ? OutputForm::Text : OutputForm::Binary);
  if (scheme == Scheme::Component) {
    const std::string data = SignedBytes(args, rsa, "sign");
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    rsa.Sign(bytes, int(data.size()) - 1, int(data.size()));
    output.Write(Line(rsa.Signature().str()));
  } else {
    const std::string hashed = InputDigest(digest, InputPath(args));
    output.Write(WithContext(KeyContext(args, rsa), [&] {
      return scheme == Scheme::Pss ? Rsa::PssSignDigest(rsa, pss, hashed) : Rsa::Pkcs1v15SignDigest(rsa, digest, hashed);
    }));
  }
  output.Commit();
  return ExitOk;
}

bool VerifyComponent(const ParsedArgs& args, Rsa::TRSA& rsa, const std::string& signatureBytes) {
  const auto sigFile = args.Value("-s");
  const std::string signature = TrimText(signatureBytes);
  const std::string data = SignedBytes(args, rsa, "verify");
  const int K = 4 * rsa.GetPrecision();
  WithContext((sigFile ? InputName(*sigFile) : std::string("the --signature text")) +
                  " is not a signature text for this " + std::to_string(KeyBitsNumber(rsa.KeyBits())) + "-bit key (" +
                  std::to_string((4 * K + 2) / 3) + " radix-64 characters, as sign --scheme component writes it)",
              [&] { rsa.PutSignature(signature); });
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  return rsa.Verify(bytes, int(data.size()) - 1, int(data.size()));
}

int Verify(const ParsedArgs& args) {
  const auto sigFile = args.Value("-s");
  const auto sigText = args.Value("--signature");
  if (sigFile.has_value() == sigText.has_value())
    throw UsageError("give the signature with either -s SIGFILE or --signature TEXT", args.Usage());
  RequireOneStandardInput(args, {{"-k", false}, {"-s", false}, {"-i", true}});
  const auto chosen =
      ParseScheme(args, {{"pkcs1", Scheme::Pkcs1}, {"pss", Scheme::Pss}, {"component", Scheme::Component}});
  if (sigText && chosen && *chosen != Scheme::Component)
    throw UsageError("--signature takes the component's signature text; give a raw " + *args.Value("--scheme") +
                         " signature in a file with -s SIGFILE",
                     args.Usage());
  RequireSchemeOptions(args, chosen.value_or(Scheme::Pkcs1));
  const Rsa::TPssParameters pss = PssOptions(args, true);
  const Hash::THashKind digest = DigestOption(args, "--digest", Hash::THashKind::Sha256, false);
  const auto holder = LoadKey(args);
  Rsa::TRSA& rsa = holder->Rsa();
  RequirePublicKey(*holder, args, "verify");
  const std::string signature = sigFile ? ReadInput(*sigFile, SmallInputLimit, "a signature") : *sigText;
  // Without --scheme the signature's form decides: the component's text (as signatures made before
  // the standard schemes are) or the raw k bytes of PKCS#1 v1.5.
  const Scheme scheme = chosen ? *chosen : sigText || IsComponentText(signature, rsa) ? Scheme::Component : Scheme::Pkcs1;
  bool valid = false;
  if (scheme == Scheme::Component) {
    valid = VerifyComponent(args, rsa, signature);
  } else {
    const std::string hashed = InputDigest(digest, InputPath(args));
    valid = WithContext(KeyContext(args, rsa), [&] {
      return scheme == Scheme::Pss ? Rsa::PssVerifyDigest(rsa, pss, hashed, signature)
                                   : Rsa::Pkcs1v15VerifyDigest(rsa, digest, hashed, signature);
    });
  }
  WriteOutput("", Line(valid ? "valid" : "invalid"));
  return valid ? ExitOk : ExitMismatch;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = WithKeyCommands(WithEnvelopeCommands({
      {"keygen",
       {"qrsa keygen [-b|--bits SIZE] [--seed1 HEX] [--seed2 HEX] [-o KEYFILE] [--quiet] [--force]",
        {"--bits", "--seed1", "--seed2", "-o"}, {"--quiet", "--force"}, 0, 0},
       Keygen, "generate a key pair into a key file; its stages on standard error when that is a terminal",
       "  -b, --bits SIZE  the key size in bits: " + KeySizeList() + " (default 3072); 512-bit keys can be\n"
       "                   factored, so keygen warns about them: use them for tests only\n"
       "  --seed1 HEX      a hex number mixed into the first prime's random start (default 0)\n"
       "  --seed2 HEX      the same for the second prime\n"
       "  -o KEYFILE       the new key file, readable by its owner only (default: standard output)\n"
       "  --quiet          no stage lines and no warning\n"
       "  --force          replace KEYFILE even when it holds a private key\n",
       "qrsa keygen -o alice.dfm"},
      {"pubkey", {"qrsa pubkey -k KEYFILE [-o KEYFILE] [--quiet] [--force]", {"-k", "-o"}, {"--quiet", "--force"}, 0, 0}, Pubkey,
       "the public part of a key file, to hand out",
       "  -k KEYFILE  the key file\n"
       "  -o KEYFILE  the public key file (default: standard output)\n"
       "  --quiet     accepted for every command; pubkey prints nothing else anyway\n"
       "  --force     replace the output even when it holds a private key\n",
       "qrsa pubkey -k alice.dfm -o alice-public.dfm"},
      {"show",
       {"qrsa show -k KEYFILE public|private|signature|bits|fingerprint|ssh-fingerprint|jwk-thumbprint [-o OUT] [--quiet] "
        "[--force]",
        {"-k", "-o"},
        {"--quiet", "--force"}, 1, 1},
       Show, "print a key text, the signature text, the key size or the key's fingerprint",
       "  -k KEYFILE   the key file\n"
       "  public       the public key text (e:n), a key file in its own right\n"
       "  private      the private key text (n:d)\n"
       "  signature    the signature text stored in the key file\n"
       "  bits         the key size\n"
       "  fingerprint  SHA256: and the base64 SHA-256 of the public key's SubjectPublicKeyInfo DER (the\n"
       "               recipient id of sealed envelopes; not what ssh-keygen prints)\n"
       "  ssh-fingerprint  SHA256: and the unpadded base64 SHA-256 of the SSH public key blob, as\n"
       "               ssh-keygen -lf prints it\n"
       "  jwk-thumbprint   the RFC 7638 thumbprint of the public key (base64url SHA-256)\n"
       "  -o OUT       where to write it (default: standard output)\n"
       "  --quiet      accepted for every command; show prints nothing else anyway\n"
       "  --force      replace OUT even when it holds a private key\n",
       "qrsa show -k alice.dfm fingerprint"},
      {"encrypt",
       {"qrsa encrypt -k KEYFILE [-i IN | IN] [-o OUT] [--quiet] [--force]", {"-k", "-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
       Encrypt, "the component's deterministic raw-RSA cipher text of any bytes (use seal for files)",
       "  -k KEYFILE  the recipient's key file (public key)\n"
       "  -i IN, IN   the bytes to encrypt (default: standard input)\n"
       "  -o OUT      the cipher text, one line (default: standard output)\n"
       "  --quiet     no progress line\n"
       "  --force     replace OUT even when it holds a private key\n"
       "  The same bytes always give the same text, and nothing protects it from changes: use seal.\n",
       "qrsa encrypt -k alice-public.txt -i note.txt -o note.cipher"},
      {"decrypt",
       {"qrsa decrypt -k KEYFILE [-i IN | IN] [-o OUT] [--quiet] [--force]", {"-k", "-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
       Decrypt, "decrypt a cipher text of encrypt; checked against the public key when the key file has it",
       "  -k KEYFILE  the key file with the private key (and the public key, to check the result)\n"
       "  -i IN, IN   the cipher text (default: standard input)\n"
       "  -o OUT      the bytes, readable by their owner only, written only when all of them decrypted\n"
       "              and checked (default: standard output, which receives the bytes as they are\n"
       "              checked; exit 3 if a later part fails)\n"
       "  --quiet     no progress line, and no note when the result could not be checked\n"
       "  --force     replace OUT even when it holds a private key\n",
       "qrsa decrypt -k alice.dfm -i note.cipher -o note.txt"},
      {"wrap",
       {"qrsa wrap -k KEYFILE [--scheme oaep|component] [--digest H] [--mgf1-digest H] [--label HEX]"
        " [--sym-bits 64|128|192|256] [--key HEX | -i FILE | FILE] [-o OUT] [--quiet] [--force]",
        {"-k", "--scheme", "--digest", "--mgf1-digest", "--label", "--sym-bits", "--key", "-i", "-o"},
        {"--quiet", "--force"}, 0, 0, true},
       Wrap, "wrap a session key for the key's owner: RSAES-OAEP (raw k bytes, as OpenSSL reads them)",
       "  -k KEYFILE          the recipient's key file (public key)\n"
       "  --scheme oaep       RSAES-OAEP, the default: the raw k-byte cipher text that 'openssl pkeyutl\n"
       "                      -decrypt -pkeyopt rsa_padding_mode:oaep' reads; every change is detected\n"
       "  --scheme component  the component's block, a radix-64 text (the key, random bytes, a zero top\n"
       "                      byte); the key in hex, --sym-bits required\n"
       "  --digest H          OAEP's digest: sha1, sha256 (default), sha384 or sha512\n"
       "  --mgf1-digest H     MGF1's digest (default: the same as --digest)\n"
       "  --label HEX         OAEP's label, in hex (default: none)\n"
       "  --sym-bits BITS     the session key's size: 64, 128, 192 or 256; with OAEP it checks the key's\n"
       "                      length, which may otherwise be any that fits\n"
       "  --key HEX           the session key in hex, first byte first; other users of the machine can\n"
       "                      read a command line: give the key in a file or on standard input\n"
       "  -i FILE, FILE       a file holding the session key: its raw bytes for OAEP, hex for the\n"
       "                      component's scheme (default: standard input)\n"
       "  -o OUT              the wrapped key (default: standard output)\n"
       "  --quiet             accepted for every command; wrap prints nothing else anyway\n"
       "  --force             replace OUT even when it holds a private key\n",
       "qrsa wrap -k alice-public.dfm -i session.key -o session.key.wrapped"},
      {"unwrap",
       {"qrsa unwrap -k KEYFILE [--scheme oaep|component] [--digest H] [--mgf1-digest H] [--label HEX]"
        " [--sym-bits 64|128|192|256] [-i IN | IN] [-o OUT] [--quiet] [--force]",
        {"-k", "--scheme", "--digest", "--mgf1-digest", "--label", "--sym-bits", "-i", "-o"}, {"--quiet", "--force"},
        0, 0, true},
       Unwrap, "unwrap a wrapped session key: OAEP gives its bytes, the component's scheme its hex",
       "  -k KEYFILE          the key file with the private key\n"
       "  --scheme oaep       RSAES-OAEP, the default: reads the raw k-byte cipher text and writes the key's\n"
       "                      bytes; a cipher text that does not decrypt is refused (exit 3, nothing written)\n"
       "  --scheme component  the component's radix-64 text; writes the key in hex. A block whose top byte\n"
       "                      is not zero is refused (exit 3): that catches a text wrapped for another key\n"
       "                      or damaged 255 times in 256, no more;\n"
       "                      only OAEP detects every change.\n"
       "                      A wrong --sym-bits cannot be detected.\n"
       "                      The scheme answers any text, so never unwrap texts an attacker chooses:\n"
       "                      the answers let them sign with the key.\n"
       "  --digest H          OAEP's digest: sha1, sha256 (default), sha384 or sha512\n"
       "  --mgf1-digest H     MGF1's digest (default: the same as --digest)\n"
       "  --label HEX         OAEP's label, in hex (default: none)\n"
       "  --sym-bits BITS     the session key's size: 64, 128, 192 or 256; required by the component's\n"
       "                      scheme, a check of the key's length with OAEP\n"
       "  -i IN, IN           the wrapped key (default: standard input)\n"
       "  -o OUT              the session key, readable by its owner only (default: standard output)\n"
       "  --quiet             accepted for every command; unwrap prints nothing else anyway\n"
       "  --force             replace OUT even when it holds a private key\n",
       "qrsa unwrap -k alice.dfm -i session.key.wrapped -o session.key"},
      {"sign",
       {"qrsa sign -k KEYFILE [--scheme pkcs1|pss|component] [--digest sha256|sha384|sha512] [--mgf1-digest H]"
        " [--salt-length N] [-i IN | IN] [-o OUT] [--quiet] [--force]",
        {"-k", "--scheme", "--digest", "--mgf1-digest", "--salt-length", "-i", "-o"}, {"--quiet", "--force"}, 0, 0,
        true},
       Sign, "sign data of any length: PKCS#1 v1.5 with SHA-256 unless told otherwise (raw k bytes)",
       "  -k KEYFILE          the key file with the private key\n"
       "  --scheme pkcs1      RSASSA-PKCS1-v1_5, the default: the raw k bytes 'openssl dgst -sha256 -sign'\n"
       "                      makes and 'openssl dgst -verify' checks\n"
       "  --scheme pss        RSASSA-PSS with MGF1 ('openssl dgst -sigopt rsa_padding_mode:pss')\n"
       "  --scheme component  the component's block, a radix-64 text: the input's bytes directly (at most\n"
       "                      K-4 bytes), or with --digest the DigestInfo of its digest. Without --digest\n"
       "                      a leading part (a prefix) of the signed data verifies as well.\n"
       "  --digest NAME       sha256 (default), sha384 or sha512\n"
       "  --mgf1-digest H     pss: MGF1's digest, sha1 to sha512 (default: the same as --digest)\n"
       "  --salt-length N     pss: the salt's length in bytes (default: the digest's length)\n"
       "  -i IN, IN           the data (default: standard input)\n"
       "  -o OUT              the signature (default: standard output)\n"
       "  --quiet             accepted for every command; sign prints nothing else anyway\n"
       "  --force             replace OUT even when it holds a private key\n",
       "qrsa sign -k alice.dfm -o contract.sig contract.pdf"},
      {"verify",
       {"qrsa verify -k KEYFILE (-s SIGFILE | --signature TEXT) [--scheme pkcs1|pss|component] [--digest H]"
        " [--mgf1-digest H] [--salt-length N|auto] [-i IN | IN] [--quiet]",
        {"-k", "-s", "--signature", "--scheme", "--digest", "--mgf1-digest", "--salt-length", "-i"}, {"--quiet"}, 0, 0,
        true},
       Verify, "check the input against a signature: \"valid\" (exit 0) or \"invalid\" (exit 1)",
       "  -k KEYFILE          the signer's key file (public key)\n"
       "  -s SIGFILE          the signature in a file\n"
       "  --signature TEXT    the component's signature text itself\n"
       "  --scheme NAME       pkcs1, pss or component. Without it the signature's form decides: the\n"
       "                      component's radix-64 text is checked with the component's scheme (as\n"
       "                      signatures made before the standard schemes are), raw k bytes as PKCS#1 v1.5.\n"
       "                      A raw signature of any other length does not verify.\n"
       "  --digest NAME       sha256 (default), sha384 or sha512. With the component's scheme, every byte\n"
       "                      of the DigestInfo is compared; without --digest there, only the input's\n"
       "                      bytes, so a leading part (a prefix) of the signed data verifies as well.\n"
       "  --mgf1-digest H     pss: MGF1's digest, sha1 to sha512 (default: the same as --digest)\n"
       "  --salt-length N     pss: the salt's length in bytes, or auto for any (default: auto)\n"
       "  -i IN, IN           the data (default: standard input)\n"
       "  --quiet             accepted for every command\n",
       "qrsa verify -k alice-public.dfm -s contract.sig contract.pdf"},
      {"import-pem",
       {"qrsa import-pem [-i PEM | PEM] [-o KEYFILE] [--quiet] [--force]", {"-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
       ImportPem, "an OpenSSL RSA key (PEM or DER; PKCS#1, PKCS#8 or SubjectPublicKeyInfo) into a key file",
       "  -i PEM, PEM  the key, PEM or DER (default: standard input)\n"
       "  -o KEYFILE   the key file (default: standard output)\n"
       "  --quiet      accepted for every command\n"
       "  --force      replace KEYFILE even when it holds a private key\n",
       "qrsa import-pem -i bob.pem -o bob.dfm"},
      {"export-pem",
       {"qrsa export-pem -k KEYFILE [--public] [-o PEM] [--quiet] [--force]", {"-k", "-o"}, {"--public", "--quiet", "--force"}, 0, 0},
       ExportPem, "a key file as OpenSSL PEM (PKCS#8 private key, or public key with --public)",
       "  -k KEYFILE  the key file\n"
       "  --public    write the public key (SubjectPublicKeyInfo) only\n"
       "  -o PEM      the PEM file (default: standard output)\n"
       "  --quiet     accepted for every command\n"
       "  --force     replace PEM even when it holds a private key\n",
       "qrsa export-pem -k bob.dfm --public -o bob-public.pem"},
      {"demo", {"qrsa demo [--quiet]", {}, {"--quiet"}, 0, 0}, RunDemo,
       "the first commands of a new user, then a session-key exchange between two components",
       "  --quiet  accepted for every command\n", "qrsa demo"},
  }));
  return commands;
}

}  // namespace Qrsa
