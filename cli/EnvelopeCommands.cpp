// The envelope commands: seal a file for a key's owner, and open it again.
#include <string>
#include <string_view>

#include "cli/Commands.h"
#include "cli/Failure.h"
#include "cli/InputStream.h"
#include "cli/Io.h"
#include "cli/KeyCommands.h"
#include "cli/Progress.h"
#include "envelope/Envelope.h"

namespace Qrsa {

namespace {

std::unique_ptr<KeyHolder> LoadKey(const ParsedArgs& args) { return LoadKeyArgument(args); }
std::string OutputPath(const ParsedArgs& args) { return args.Value("-o").value_or(""); }
std::string InputPath(const ParsedArgs& args) { return args.Value("-i").value_or(""); }
bool Force(const ParsedArgs& args) { return args.Flag("--force"); }

int Seal(const ParsedArgs& args) {
  RequireOneStandardInput(args, {{"-k", false}, {"-i", true}});
  const auto holder = LoadKey(args);
  if (!holder->HasPublicKey()) throw Failure(args.Required("-k") + " holds no public key to seal for");
  InputStream in(InputPath(args));
  Output output(OutputPath(args), OutputKind::Public, Force(args), OutputForm::Binary);
  Progress progress(in.Size(), args.Flag("--quiet"));
  Qarvex::Envelope::Seal(
      holder->Rsa(), [&](void* data, std::size_t size) { return in.Read(data, size); },
      [&](const void* data, std::size_t size) { output.Write(std::string_view(static_cast<const char*>(data), size)); },
      [&](std::uint64_t done) { progress.Update(done); });
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
    std::string message = error.what();
    if (message.find("does not start with") != std::string::npos)
      message += "; a cipher text of 'qrsa encrypt' is read by 'qrsa decrypt'";
    throw Failure(message);
  }
  progress.Finish();
  output.Commit();  // a file appears only once every chunk authenticated
  return ExitOk;
}

}  // namespace

std::vector<Command> WithEnvelopeCommands(std::vector<Command> others) {
  std::vector<Command> commands = {
      {"seal",
       {"qrsa seal -k KEYFILE [-i IN | IN] [-o OUT] [--quiet] [--force]", {"-k", "-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
       Seal, "encrypt a file of any size for the key's owner (AES-256-GCM envelope)",
       "  -k KEYFILE  the recipient's key file (the public key is enough)\n"
       "  -i IN, IN   the data to seal (default: standard input)\n"
       "  -o OUT      the envelope (default: standard output)\n"
       "  --quiet     no progress line\n"
       "  --force     replace OUT even when it holds a private key\n",
       "qrsa seal -k alice-public.dfm -i report.pdf -o report.pdf.qenv"},
      {"open",
       {"qrsa open -k KEYFILE [-i IN | IN] [-o OUT] [--quiet] [--force]", {"-k", "-i", "-o"}, {"--quiet", "--force"}, 0, 0, true},
       Open, "open an envelope made by seal; any damage is detected",
       "  -k KEYFILE  the recipient's key file with the private key\n"
       "  -i IN, IN   the envelope (default: standard input)\n"
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
