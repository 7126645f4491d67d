// The component's own key files and bare key texts, for the reader. Internal to the key library.
#pragma once

#include <memory>
#include <string>

#include "keys/KeyFile.h"

namespace Qarvex::Keys::Internal {

// A form file starts with the keyword of its root object.
bool LooksLikeForm(const std::string& text);
// The text without trailing white space and line breaks.
std::string TrimTrailing(std::string text);
// A bare key text "first:second": private (n:d) when the fields are equally long, else public (e:n).
std::unique_ptr<KeyHolder> LoadBareKeyText(const std::string& text, const std::string& path);

}  // namespace Qarvex::Keys::Internal
