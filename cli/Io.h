// Input and output of the tool: binary-safe standard streams and files, and outputs that appear
// whole or not at all.
#pragma once

#include <string>
#include <string_view>

namespace Qrsa {

// The whole content of a file, or of standard input when path is empty or "-". Every byte is kept.
std::string ReadInput(const std::string& path);

// Writes data to standard output when path is empty or "-". Otherwise the data go to a temporary file
// beside the target, which is renamed over the target only once everything is written, so a failure
// never leaves a partial file behind. A secret output (a private key) is readable by its owner only;
// any other output keeps the mode of the file it replaces.
void WriteOutput(const std::string& path, std::string_view data, bool secret = false);

// A text input with trailing white space and line breaks removed.
std::string TrimText(std::string text);

// Text followed by one line break, as the tool prints every text.
inline std::string Line(std::string_view text) { return std::string(text) + '\n'; }

}  // namespace Qrsa
