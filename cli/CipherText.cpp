#include "cli/CipherText.h"

#include <optional>
#include <string>
#include <vector>

#include "cli/Failure.h"
#include "cli/Secret.h"
#include "envelope/Envelope.h"

namespace Qrsa {

namespace {

// Bytes read at a time.
constexpr std::size_t PieceBytes = 64 * 1024;
// Room for what the decryptor appends after one piece (at most the piece and 17 KiB during the text,
// and at most 80 KiB of held-back bytes at its end), with a margin.
constexpr std::size_t DecryptedRoom = PieceBytes + 128 * 1024;

constexpr const char* Spaces = " \t\r\n\v\f";

// Reads until the buffer is full or the input ends.
std::size_t ReadFull(const ReadFn& in, char* data, std::size_t size) {
  std::size_t have = 0;
  while (have < size) {
    const std::size_t got = in(data + have, size - have);
    if (got == 0) break;
    have += got;
  }
  return have;
}

// Checks decrypted bytes by encrypting them again and comparing the result with the cipher text as it
// was read. The re-encryption gives its text three blocks at a time, so the comparison trails the
// decryption by a few blocks (and by what the decryptor holds back); decrypted bytes wait here until
// the blocks holding them compared equal.
class Checker {
 public:
  Checker(Rsa::TRSA& rsa, const WriteFn& out)
      : FEncryptor(rsa), FOut(out), FKeyBytes(std::uint64_t(4 * rsa.GetPrecision())), FWaiting(2 * DecryptedRoom) {}

  // The next piece of the cipher text, as given to the decryptor.
  void Text(std::string_view piece) { FText.append(piece); }

  // The next decrypted bytes.
  void Plain(const std::string& plain) {
    FEncryptor.Update(plain.data(), plain.size(), FAgain);
    FWaiting.Bytes().append(plain);
    Compare();
    // Whole runs of three blocks have compared equal: their plain bytes may go.
    const std::uint64_t blocks = FCompared / (4 * FKeyBytes) * 3;
    const std::uint64_t checked = blocks * (FKeyBytes - 1);
    Release(std::size_t(checked - FReleased));
  }

  // The text has ended: everything left must compare equal, to the last character.
  void Finish() {
    FEncryptor.Finish(FAgain);
    Compare();
    if (!FText.empty()) Mismatch();
    Release(FWaiting.Bytes().size());
  }

 private:
  [[noreturn]] static void Mismatch() { throw Failure("the cipher text was not made for this key, or it is damaged"); }

  void Compare() {
    if (FAgain.size() > FText.size() || FText.compare(0, FAgain.size(), FAgain) != 0) Mismatch();
    FText.erase(0, FAgain.size());
    FCompared += FAgain.size();
    FAgain.clear();
  }

  void Release(std::size_t count) {
    FOut(std::string_view(FWaiting.Bytes()).substr(0, count));
    FWaiting.Consume(count);
    FReleased += count;
  }

  Rsa::TStringEncryptor FEncryptor;
  const WriteFn& FOut;
  std::uint64_t FKeyBytes;
  std::string FText;   // cipher text read and not compared yet
  std::string FAgain;  // cipher text made again and not compared yet
  std::uint64_t FCompared = 0, FReleased = 0;
  SecretBuffer FWaiting;  // decrypted bytes not checked yet
};

}  // namespace

void EncryptText(Rsa::TRSA& rsa, const ReadFn& in, const WriteFn& out, const ReadProgressFn& progress) {
  Rsa::TStringEncryptor encryptor(rsa);
  SecretBuffer plain(PieceBytes);
  plain.Bytes().resize(PieceBytes);
  std::string text;
  std::uint64_t done = 0;
  for (;;) {
    const std::size_t got = in(plain.Bytes().data(), PieceBytes);
    if (got == 0) break;
    encryptor.Update(plain.Bytes().data(), got, text);
    out(text);
    text.clear();
    done += got;
    progress(done);
  }
  encryptor.Finish(text);
  text += '\n';
  out(text);
}

void DecryptText(Rsa::TRSA& rsa, bool check, const ReadFn& in, const WriteFn& out, const ReadProgressFn& progress) {
  Rsa::TStringDecryptor decryptor(rsa);
  std::optional<Checker> checker;
  if (check) checker.emplace(rsa, out);
  SecretBuffer plain(DecryptedRoom);
  const auto pass = [&] {
    if (checker)
      checker->Plain(plain.Bytes());
    else
      out(plain.Bytes());
    plain.Clear();
  };
  const auto feed = [&](std::string_view text) {
    decryptor.Update(text, plain.Bytes());
    if (checker) checker->Text(text);
    pass();
  };

  // White space at the end is dropped; white space followed by more text is fed like any character,
  // which the decryptor refuses. A run of it is counted, not kept, since any one of its characters
  // gives that refusal.
  std::vector<char> buffer(PieceBytes);
  std::uint64_t done = 0, spaces = 0;
  char firstSpace = ' ';
  for (bool first = true;; first = false) {
    const std::size_t got = ReadFull(in, buffer.data(), buffer.size());
    if (got == 0) break;
    const std::string_view piece(buffer.data(), got);
    if (first && piece.starts_with(Qarvex::Envelope::FormatName))
      throw Failure("the input is a sealed envelope: open it with 'qrsa open'");
    done += got;
    progress(done);
    const std::size_t last = piece.find_last_not_of(Spaces);
    if (last == std::string_view::npos) {
      if (spaces == 0) firstSpace = piece[0];
      spaces += got;
      continue;
    }
    if (spaces > 0) feed(std::string_view(&firstSpace, 1));
    feed(piece.substr(0, last + 1));
    spaces = got - (last + 1);
    if (spaces > 0) firstSpace = piece[last + 1];
  }
  decryptor.Finish(plain.Bytes());
  pass();
  if (checker) checker->Finish();
}

}  // namespace Qrsa
