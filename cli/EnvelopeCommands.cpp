// The envelope commands: seal a file for the owners of one or more keys, and open it again.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "cli/Failure.h"
#include "cli/InputStream.h"
#include "cli/Io.h"
#include "cli/KeyCommands.h"
#include "cli/Passphrase.h"
#include "cli/Progress.h"
#include "envelope/Envelope.h"
#include "keys/KeyReader.h"

namespace Qrsa {

namespace {

std::unique_ptr<KeyHolder> LoadKey(const ParsedArgs& args) { return LoadKeyArgument(args); }
std::string OutputPath(const ParsedArgs& args) { return args.Value("-o").value_or(""); }
std::string InputPath(const ParsedArgs& args) { return args.Value("-i").value_or(""); }
bool Force(const ParsedArgs& args) { return args.Flag("--force"); }

// The library's refusals, with the tool's hint where one helps.
[[noreturn]] void Refuse(const Qarvex::Envelope::EnvelopeError& error) {
  std::string message = error.what();
  if (message.find("does not start with") != std::string::npos)
    message += "; a cipher text of 'qrsa encrypt' is read by 'qrsa decrypt'";
  throw Failure(message);
}

int Seal(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const std::vector<std::string> keyFiles = args.Values("-k");
  if (keyFiles.empty()) args.Required("-k");
  if (keyFiles.size() > Qarvex::Envelope::MaxRecipients)
    throw UsageError("an envelope is sealed for at most " + std::to_string(Qarvex::Envelope::MaxRecipients) +
                         " recipients; " + std::to_string(keyFiles.size()) + " -k options were given",
                     args.Usage());
  std::vector<std::unique_ptr<KeyHolder>> holders;
  std::vector<Rsa::TRSA*> recipients;
  for (const std::string& file : keyFiles) {
    holders.push_back(Qarvex::Keys::ReadKeyFile(file, KeyReadOptions(args)));
    KeyHolder& holder = *holders.back();
    if (!holder.HasPublicKey()) throw Failure(file + " holds no public key to seal for");
    if (KeyBitsNumber(holder.Rsa().KeyBits()) < 1024)
      throw Failure(file + " holds a " + std::to_string(KeyBitsNumber(holder.Rsa().KeyBits())) +
                    "-bit key, too small to seal for (the file key's OAEP wrapping needs 1024 bits or more)");
    recipients.push_back(&holder.Rsa());
  }
  InputStream in(InputPath(args));
  Qarvex::Envelope::SealOptions options;
  options.Armor = args.Flag("--armor");
  // The armoured form is text, which may go to a terminal.
  Output output(OutputPath(args), OutputKind::Public, Force(args), options.Armor ? OutputForm::Text : OutputForm::Binary);
  Progress progress(in.Size(), args.Flag("--quiet"));
  try {
    Qarvex::Envelope::Seal(
        recipients, [&](void* data, std::size_t size) { return in.Read(data, size); },
        [&](const void* data, std::size_t size) { output.Write(std::string_view(static_cast<const char*>(data), size)); },
        [&](std::uint64_t done) { progress.Update(done); }, options);
  } catch (const Qarvex::Envelope::EnvelopeError& error) {
    progress.Finish();
    Refuse(error);
  }
  progress.Finish();
  output.Commit();
  return ExitOk;
}

int Open(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const auto holder = LoadKey(args);
  if (!holder->HasPrivateKey()) throw Failure(args.Required("-k") + " holds no private key to open with");
  InputStream in(InputPath(args));
  Output output(OutputPath(args), OutputKind::Secret, Force(args));
  Progress progress(in.Size(), args.Flag("--quiet"));
  try {
    Qarvex::Envelope::Open(
        holder->Rsa(), [&](void* data, std::size_t size) { return in.Read(data, size); },
        [&](const void* data, std::size_t size) { output.Write(std::string_view(static_cast<const char*>(data), size)); },
        [&](std::uint64_t done) { progress.Update(done); });
  } catch (const Qarvex::Envelope::EnvelopeError& error) {
    progress.Finish();
    Refuse(error);
  }
  progress.Finish();
  output.Commit();  // a file appears only once every chunk authenticated
  return ExitOk;
}

}  // namespace

std::vector<Command> WithEnvelopeCommands(std::vector<Command> others) {
  std::vector<Command> commands = {
      {"seal",
       {"qrsa seal -k KEYFILE [-k KEYFILE]... [-i IN | IN] [-o OUT] [--armor] [--quiet] [--force]",
        {"-k", "-i", "-o"}, {"--armor", "--quiet", "--force"}, 0, 0, true, {"-k"}},
       Seal, "encrypt a file of any size for the owners of one or more keys (AES-256-GCM envelope)",
       "  -k KEYFILE  a recipient's key file (the public key is enough; 1024 bits or more); give -k once\n"
       "              for each recipient, at most 64: any of them opens the envelope\n"
       "  -i IN, IN   the data to seal (default: standard input)\n"
       "  -o OUT      the envelope (default: standard output)\n"
       "  --armor     write the envelope as text: base64 between BEGIN and END lines\n"
       "  --quiet     no progress line\n"
       "  --force     replace OUT even when it holds a private key\n",
       "qrsa seal -k alice-public.dfm -k bob-public.pem -i report.pdf -o report.pdf.qenv"},
      {"open",
       {"qrsa open -k KEYFILE [-i IN | IN] [-o OUT] [--quiet] [--force]", {"-k", "-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
       Open, "open an envelope made by seal; any damage is detected",
       "  -k KEYFILE  a recipient's key file with the private key\n"
       "  -i IN, IN   the envelope, as bytes or armoured text (default: standard input)\n"
       "  -o OUT      the data, written only when the whole envelope authenticated (default: standard\n"
       "              output, which receives each chunk once it authenticated; exit 3 if the end is missing)\n"
       "  --quiet     no progress line\n"
       "  --force     replace OUT even when it holds a private key\n",
       "qrsa open -k alice.dfm -i report.pdf.qenv -o report.pdf"},
  };
  commands.insert(commands.end(), others.begin(), others.end());
  return commands;
}

}  // namespace Qrsa
