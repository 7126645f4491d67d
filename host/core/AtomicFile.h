// Files that appear whole or not at all. The data go to a fresh temporary file beside the target: an
// unnamed one (O_TMPFILE) where the file system has them, which no directory shows and which vanishes
// with the process however it ends, even by SIGKILL; else a named one created exclusively (never
// through a link planted there). The data are synced to disk, the temporary is given a name (if it had
// none) and renamed over the target only once everything is written, and the directory is synced after
// the rename. A failure or an abandoned write leaves the target as it was and removes the temporary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/core/SysUtils.h"

namespace Sysutils {

// A file could not be created, written or put in place; the message names the file and the reason.
class EFileWriteError : public Exception {
 public:
  using Exception::Exception;
};

// Who may read the finished file.
enum class TFileAccess {
  Keep,       // an existing target's permission bits, else the usual mode under the umask
  OwnerOnly,  // read and write for the owner only (0600), whatever the target had
};

// Which temporary to write to.
enum class TTemporary {
  Unnamed,  // O_TMPFILE, linked in at Commit; a named one where the file system or /proc cannot do that
  Named,    // always a named one (for file systems whose unnamed files misbehave, and for tests)
};

// One atomic write in progress. The path itself is replaced: when it is a symbolic link, the link is
// replaced by the new file, the file it named stays untouched (callers that mean to write through a
// link resolve it first).
class TAtomicFile {
 public:
  // Creates the temporary file; raises EFileWriteError when it cannot.
  TAtomicFile(const std::string& path, TFileAccess access, TTemporary temporary = TTemporary::Unnamed);
  // Removes the temporary unless Commit succeeded.
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  void Write(const void* data, std::size_t size);
  void Write(std::string_view data) { Write(data.data(), data.size()); }
  // Syncs the data, renames the temporary over the target and syncs the directory.
  void Commit();
  // Removes the temporary; the target stays as it was. Safe to call more than once.
  void Discard() noexcept;

  const std::string& Path() const { return FPath; }
  // The temporary's path, for callers that clean up on signals: empty for an unnamed temporary (which
  // gets a name only inside Commit, until its rename) and once committed or discarded.
  const std::string& TempPath() const { return FTempPath; }
  bool Unnamed() const { return FUnnamed; }

 private:
  [[noreturn]] void Fail(const std::string& what, int error);
  std::string FPath;
  std::string FTempPath;
  int FFd = -1;
  bool FUnnamed = false;
};

// Writes the whole of data to path through a TAtomicFile.
void WriteFileAtomic(const std::string& path, std::string_view data, TFileAccess access);

}  // namespace Sysutils
