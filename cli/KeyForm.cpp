// Key files as form files: waiting for the form-file reader and writer.
#include "cli/Failure.h"
#include "cli/KeyFile.h"

namespace Qrsa {

std::string KeyFileText(KeyHolder&) { throw Failure("form files are not available in this build"); }

std::unique_ptr<KeyHolder> ReadKeyForm(const std::string&, const std::string&) {
  throw Failure("form files are not available in this build");
}

}  // namespace Qrsa
