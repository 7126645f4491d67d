// Input and output of the tool: binary-safe standard streams and files, and outputs that appear
// whole or not at all.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Sysutils {
class TAtomicFile;
}

namespace Qrsa {

bool IsStandardStream(const std::string& path);

// The whole content of a file, or of standard input when path is empty or "-". Every byte is kept.
// A file is read into a buffer of its size, so no partial copies of it are left behind in freed
// memory (the caller wipes the result when it holds key material).
std::string ReadInput(const std::string& path);

// The most bytes a small input may have: signature files, wrapped-key texts, session keys in hex.
inline constexpr std::uint64_t SmallInputLimit = std::uint64_t(1) << 20;

// As above, for an input that cannot be larger than limit bytes: a larger one is refused from its size,
// or once limit + 1 bytes are read from a pipe, so memory stays small ("FILE is too large for `what`
// (1 MiB at most)"; what: "a signature").
std::string ReadInput(const std::string& path, std::uint64_t limit, const std::string& what);

// What an output holds, which decides where it may go and who may read it.
enum class OutputKind {
  Public,  // may go to a device or a pipe; a new file gets the usual mode, a replaced one keeps its own
  Secret,  // a private key, a session key or decrypted data: only to standard output or a regular file,
           // never through a symbolic link, created readable by its owner only
};

// What an output's bytes are. Binary output is refused on a terminal unless -o names it (OutputRefused).
enum class OutputForm { Text, Binary };

// One output: standard output when path is empty or "-", or when it names the tool's own standard
// output (/dev/stdout, /dev/fd/1, /proc/self/fd/1, or the same file as descriptor 1), so that a file
// standard output appends to is appended to, never replaced; a device or a pipe written directly
// (public outputs only); otherwise a temporary file beside the target, renamed over it by Commit. Until
// then nothing is visible at the target, and the temporary is removed if the output is abandoned or the
// tool is stopped by a terminating signal. An existing file holding a private key is replaced only when
// `force` is set.
class Output {
 public:
  Output(const std::string& path, OutputKind kind, bool force, OutputForm form = OutputForm::Text);
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
                 bool force = false, OutputForm form = OutputForm::Text);

// Refuses (UsageError with `usage`) an output path that names the same file as one of the inputs a
// command still needs, by name or through a link (same device and inode): each input is an option
// ("-k") and its value, when given. Standard streams never clash.
void RequireOutputApart(const std::optional<std::string>& output,
                        const std::vector<std::pair<std::string, std::optional<std::string>>>& inputs,
                        const std::string& usage);

// Removes the temporaries of unfinished outputs when a terminating signal arrives (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE), then dies of the signal as usual.
void InstallSignalCleanup();

// A text input with trailing white space and line breaks removed.
std::string TrimText(std::string text);

// Text followed by one line break, as the tool prints every text.
inline std::string Line(std::string_view text) { return std::string(text) + '\n'; }

}  // namespace Qrsa
