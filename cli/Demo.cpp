// The walk-through: a new user's first commands, then a session-key exchange between two components,
// told step by step.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/Args.h"
#include "cli/Commands.h"
#include "cli/Failure.h"
#include "cli/Hex.h"
#include "cli/Io.h"
#include "cli/Keys.h"
#include "host/core/Random.h"

namespace Qrsa {

namespace {

using System::AnsiString;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A long text shown by its two ends and its length.
std::string Abbreviated(std::string_view text) {
  const std::string length = "  (" + std::to_string(text.size()) + " characters)";
  if (text.size() <= 64) return std::string(text) + length;
  return std::string(text.substr(0, 40)) + "..." + std::string(text.substr(text.size() - 12)) + length;
}

// Hex with a space between bytes, for short byte strings.
std::string SpacedHex(std::string_view bytes) {
  const std::string hex = HexEncode(bytes);
  std::string spaced;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i != 0) spaced += ' ';
    spaced.append(hex, i, 2);
  }
  return spaced;
}

// The checks of the walk-through, for the summary.
class Checks {
 public:
  bool Record(const std::string& what, bool passed) {
    FResults.push_back({what, passed});
    std::printf("  %s: %s\n", what.c_str(), passed ? "yes" : "NO");
    return passed;
  }
  bool AllPassed() const {
    for (const auto& [what, passed] : FResults)
      if (!passed) return false;
    return true;
  }
  void PrintSummary() const {
    for (const auto& [what, passed] : FResults) std::printf("  [%s] %s\n", passed ? "ok" : "FAILED", what.c_str());
  }

 private:
  std::vector<std::pair<std::string, bool>> FResults;
};

// A scratch directory for the form file, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qrsa-demo-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw Failure("cannot create a scratch directory for the demo");
    FPath = pattern;
  }
  ~ScratchDir() {
    for (const std::string& file : FFiles) ::unlink(file.c_str());
    ::rmdir(FPath.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) {
    const std::string path = FPath + "/" + name;
    if (std::find(FFiles.begin(), FFiles.end(), path) == FFiles.end()) FFiles.push_back(path);
    return path;
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  std::vector<std::string> FFiles;
};

void Heading(int step, const char* title) { std::printf("\nStep %d. %s\n", step, title); }

// Runs one command line of the tool in this process, in the scratch directory, as a user would type it.
bool RunCommandLine(const std::vector<std::string>& words) {
  std::string line = "qrsa";
  for (const std::string& word : words) line += " " + word;
  std::printf("  $ %s\n", line.c_str());
  std::fflush(stdout);
  for (const Command& command : Commands()) {
    if (words[0] != command.Name) continue;
    try {
      const int status = command.Run(ParsedArgs(std::vector<std::string>(words.begin() + 1, words.end()), command.Syntax));
      std::fflush(stdout);
      return status == ExitOk;
    } catch (const std::exception& error) {  // the component's exceptions as well
      std::printf("  qrsa: %s\n", error.what());
      return false;
    }
  }
  return false;
}

// The working directory for a while, restored when the object goes.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path) : FOld(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (FOld < 0 || ::chdir(path.c_str()) != 0) throw Failure("cannot enter the demo's scratch directory");
  }
  ~WorkingDirectory() {
    if (::fchdir(FOld) != 0) std::fprintf(stderr, "qrsa: cannot return to the working directory\n");
    ::close(FOld);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  int FOld;
};

// The README's first six commands: a key pair, its public half, a file sealed and opened, a signature
// made and verified.
void FirstCommands(Checks& checks) {
  std::printf(
      "\nFirst, what a new user types (the README's first six commands), run here in a scratch directory\n"
      "on a small report.txt:\n");
  ScratchDir scratch;
  for (const char* name : {"alice.dfm", "alice-public.dfm", "report.txt", "report.qenv", "report-opened.txt", "report.sig"})
    scratch.File(name);
  const std::string report = "Quarterly report: all figures as agreed.\n";
  WriteOutput(scratch.File("report.txt"), report);
  const WorkingDirectory inside(scratch.Path());
  const std::vector<std::vector<std::string>> lines = {
      {"keygen", "-o", "alice.dfm"},
      {"pubkey", "-k", "alice.dfm", "-o", "alice-public.dfm"},
      {"seal", "-k", "alice-public.dfm", "-o", "report.qenv", "report.txt"},
      {"open", "-k", "alice.dfm", "-o", "report-opened.txt", "report.qenv"},
      {"sign", "-k", "alice.dfm", "-o", "report.sig", "report.txt"},
      {"verify", "-k", "alice-public.dfm", "-s", "report.sig", "report.txt"},
  };
  bool allRan = true;
  for (const auto& words : lines) allRan = RunCommandLine(words) && allRan;
  checks.Record("the six first commands ran", allRan);
  checks.Record("the opened file equals the sealed one", allRan && ReadInput("report-opened.txt") == report);
}

}  // namespace

int RunDemo(const ParsedArgs&) {
  Checks checks;
  const auto demoStart = Clock::now();
  std::printf("Qarvex RSA walk-through: a new user's first commands, then two components at work\n");
  FirstCommands(checks);
  std::printf(
      "\n"
      "Then the component itself: a sender and a receiver exchange a session key.\n"
      "\n"
      "Two TRSA components take part, each on a form of its own: the receiver, who owns a key pair, and\n"
      "the sender, who only ever sees the receiver's public key. Every key, signature and cipher text\n"
      "crosses between them as printable radix-64 text.\n");

  // ---- Step 1 ----
  Heading(1, "The receiver generates a 1024-bit key pair");
  KeyHolder receiverForm;
  Rsa::TRSA& receiver = receiverForm.Rsa();
  const auto genStart = Clock::now();
  receiver.SetOnStatusUpdate([&receiver, genStart](System::TObject*) {
    std::printf("    [%6.2fs] %s\n", Seconds(Clock::now() - genStart), receiver.Status().c_str());
    std::fflush(stdout);
  });
  std::printf("  receiver.SetKeyBits(kb1024); receiver.MakeKeyPair(seed1, seed2). OnStatusUpdate reports:\n");
  receiver.SetKeyBits(Rsa::kb1024);
  const Rsa::BigNum seed1 = ParseHexNumber("5eed0001c0ffee", 16, "seed1");
  const Rsa::BigNum seed2 = ParseHexNumber("5eed0002decade", 16, "seed2");
  receiver.MakeKeyPair(seed1, seed2);
  const double genSeconds = Seconds(Clock::now() - genStart);
  receiver.SetOnStatusUpdate(nullptr);
  std::printf("  The seeds are mixed with the component's random generator, so every run gives a new pair.\n");
  std::printf("  PublicKey  (e:n) %s\n", Abbreviated(receiver.PublicKey()).c_str());
  std::printf("  PrivateKey (n:d) %s\n", Abbreviated(receiver.PrivateKey()).c_str());
  checks.Record("key pair generated, Status reads \"Idle\"", receiver.Status() == "Idle");

  // ---- Step 2 ----
  Heading(2, "The public key text crosses to the sender");
  KeyHolder senderForm;
  Rsa::TRSA& sender = senderForm.Rsa();
  sender.SetKeyBits(Rsa::kb1024);
  const AnsiString publicKeyText = receiver.PublicKey();  // what travels: one line of text
  sender.PutPublicKey(publicKeyText);
  std::printf("  sender.SetKeyBits(kb1024); sender.PutPublicKey(text)\n");
  std::printf("  sender.Status: %s\n", sender.Status().c_str());
  checks.Record("the sender holds the receiver's public key", sender.PublicKey() == receiver.PublicKey());

  // ---- Step 3 ----
  Heading(3, "A random 32-byte session key is wrapped by the sender and unwrapped by the receiver");
  Rsa::TSymKey sessionKey{};
  for (unsigned char& b : sessionKey) b = static_cast<unsigned char>(System::RandInt(256));
  const std::string_view sessionBytes(reinterpret_cast<const char*>(sessionKey), sizeof sessionKey);
  sender.SetSymKeyLength(Rsa::sk256);
  receiver.SetSymKeyLength(Rsa::sk256);
  std::printf("  session key (sender):        %s\n", HexEncode(sessionBytes).c_str());
  const AnsiString wrapped = sender.EncryptKey(sessionKey);
  std::printf("  sender.EncryptKey(key):      %s\n", Abbreviated(wrapped).c_str());
  Rsa::TSymKey unwrapped{};
  receiver.DecryptKey(wrapped, unwrapped);
  const std::string_view unwrappedBytes(reinterpret_cast<const char*>(unwrapped), sizeof unwrapped);
  std::printf("  receiver.DecryptKey(text):   %s\n", HexEncode(unwrappedBytes).c_str());
  checks.Record("the unwrapped session key equals the sender's", unwrappedBytes == sessionBytes);

  // ---- Step 4 ----
  Heading(4, "The receiver signs a message; the sender verifies it with the public key");
  const std::string message = "Session key sent at 12:00. -- the receiver";
  const auto* messageBytes = reinterpret_cast<const unsigned char*>(message.data());
  std::printf("  message: \"%s\" (%zu bytes; a 1024-bit key signs up to 124)\n", message.c_str(), message.size());
  receiver.Sign(messageBytes, int(message.size()) - 1, int(message.size()));
  std::printf("  receiver.Sign -> Signature %s\n", Abbreviated(receiver.Signature()).c_str());
  sender.PutSignature(receiver.Signature());
  const bool valid = sender.Verify(messageBytes, int(message.size()) - 1, int(message.size()));
  std::printf("  sender.PutSignature(text); sender.Verify(message) -> %s\n", valid ? "valid" : "invalid");
  checks.Record("the signed message verifies", valid);
  std::string tampered = message;
  tampered.replace(tampered.find("12:00"), 5, "13:00");
  const bool tamperedValid = sender.Verify(reinterpret_cast<const unsigned char*>(tampered.data()),
                                           int(tampered.size()) - 1, int(tampered.size()));
  std::printf("  tampered:  \"%s\" -> %s\n", tampered.c_str(), tamperedValid ? "valid" : "invalid");
  checks.Record("the tampered message fails", !tamperedValid);

  // ---- Step 5 ----
  Heading(5, "A string holding zero bytes and bytes above 127 is encrypted and decrypted");
  const std::string plain("Zero \x00 bytes, high \x80\xa9\xff bytes\x00", 27);
  std::printf("  plain (%zu bytes):  %s\n", plain.size(), SpacedHex(plain).c_str());
  AnsiString cipher;
  sender.EncryptString(plain, cipher);
  std::printf("  sender.EncryptString:     %s\n", Abbreviated(cipher).c_str());
  AnsiString decrypted;
  receiver.DecryptString(cipher, decrypted);
  std::printf("  receiver.DecryptString:   %s\n", SpacedHex(decrypted).c_str());
  checks.Record("the decrypted bytes equal the plain bytes", decrypted.str() == plain);

  // ---- Step 6 ----
  Heading(6, "The receiver is saved to a form file and read back");
  ScratchDir scratch;
  const std::string formPath = scratch.File("receiver.dfm");
  const std::string formText = KeyFileText(receiverForm);
  WriteOutput(formPath, formText, OutputKind::Secret);
  std::printf("  written to %s:\n", formPath.c_str());
  for (std::size_t start = 0; start < formText.size();) {
    const std::size_t end = std::min(formText.find('\n', start), formText.size());
    const std::string line = formText.substr(start, end - start);
    std::printf("    %s\n", line.size() > 96 ? (line.substr(0, 80) + "...'").c_str() : line.c_str());
    start = end + 1;
  }
  const auto readBack = LoadKeyFile(formPath);
  Rsa::TRSA& restored = readBack->Rsa();
  std::printf("  read back: KeyBits %d, SymKeyLength %d bits, Status '%s'\n", KeyBitsNumber(restored.KeyBits()),
              8 * restored.GetSymKeyBytes(), restored.Status().c_str());
  checks.Record("the read-back component holds the same key texts",
                restored.PublicKey() == receiver.PublicKey() && restored.PrivateKey() == receiver.PrivateKey());
  Rsa::TSymKey again{};
  restored.DecryptKey(wrapped, again);
  checks.Record("the read-back component unwraps the session key of step 3",
                std::string_view(reinterpret_cast<const char*>(again), sizeof again) == sessionBytes);

  // ---- Summary ----
  std::printf("\nSummary (key generation %.2fs, whole walk-through %.2fs)\n", genSeconds,
              Seconds(Clock::now() - demoStart));
  checks.PrintSummary();
  if (!checks.AllPassed()) {
    std::fflush(stdout);
    throw Failure("the walk-through found a fault (see the summary)");
  }
  std::printf("All steps passed.\n");
  return ExitOk;
}

}  // namespace Qrsa
