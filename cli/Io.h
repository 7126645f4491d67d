// Input and output of the tool: binary-safe standard streams and files, and outputs that appear
// whole or not at all.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace Sysutils {
class TAtomicFile;
}

namespace Qrsa {

bool IsStandardStream(const std::string& path);

// The whole content of a file, or of standard input when path is empty or "-". Every byte is kept.
// A file is read into a buffer of its size, so no partial copies of it are left behind in freed
// memory (the caller wipes the result when it holds key material).
std::string ReadInput(const std::string& path);

// What an output holds, which decides where it may go and who may read it.
enum class OutputKind {
  Public,  // may go to a device or a pipe; a new file gets the usual mode, a replaced one keeps its own
  Secret,  // a private key, a session key or decrypted data: only to standard output or a regular file,
           // never through a symbolic link, created readable by its owner only
};

// One output: standard output when path is empty or "-"; a device or a pipe written directly (public
// outputs only); otherwise a temporary file beside the target, renamed over it by Commit. Until then
// nothing is visible at the target, and the temporary is removed if the output is abandoned or the
// tool is stopped by SIGINT, SIGTERM or SIGHUP. An existing file holding a private key is replaced
// only when `force` is set.
class Output {
 public:
  Output(const std::string& path, OutputKind kind, bool force);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void Write(std::string_view data);
  void Commit();
  bool IsStandardOutput() const { return FStandard; }

 private:
  std::string FPath;
  bool FStandard = false;
  int FDirect = -1;  // an open device or pipe
  std::unique_ptr<Sysutils::TAtomicFile> FFile;
};

// Writes data as one whole output.
void WriteOutput(const std::string& path, std::string_view data, OutputKind kind = OutputKind::Public,
                 bool force = false);

// Removes the temporaries of unfinished outputs when SIGINT, SIGTERM or SIGHUP arrives, then dies of
// the signal as usual.
void InstallSignalCleanup();

// A text input with trailing white space and line breaks removed.
std::string TrimText(std::string text);

// Text followed by one line break, as the tool prints every text.
inline std::string Line(std::string_view text) { return std::string(text) + '\n'; }

}  // namespace Qrsa
