// Key files as form files: a form owning one TRSA, written and read by the host's form streaming.
#include <memory>

#include "keys/KeyError.h"
#include "keys/KeyFile.h"
#include "host/forms/FormFile.h"

namespace Qarvex::Keys {

std::string KeyFileText(KeyHolder& holder) { return Classes::WriteComponentRes(holder.Form()); }

std::unique_ptr<KeyHolder> ReadKeyForm(const std::string& text, const std::string& path) {
  // Errors of the form text name the key file and the line.
  std::unique_ptr<Classes::TComponent> root(Classes::ReadComponentRes(text, nullptr, path));
  if (auto* rsa = dynamic_cast<Rsa::TRSA*>(root.get())) return std::make_unique<KeyHolder>(std::move(root), rsa);
  Rsa::TRSA* found = nullptr;
  int count = 0;
  for (int i = 0; i < root->ComponentCount(); ++i) {
    if (auto* rsa = dynamic_cast<Rsa::TRSA*>(root->Components(i))) {
      found = rsa;
      ++count;
    }
  }
  if (count != 1)
    throw KeyError(path + (count == 0 ? " holds no TRSA component" : " holds " + std::to_string(count) +
                                                                       " TRSA components; a key file holds one"));
  return std::make_unique<KeyHolder>(std::move(root), found);
}

}  // namespace Qarvex::Keys
