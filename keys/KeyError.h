// The key library's one exception: a key that cannot be read, written or used, with the reason in the
// user's words (naming the file and the format that was recognised).
#pragma once

#include <stdexcept>
#include <string>

namespace Qarvex::Keys {

class KeyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace Qarvex::Keys
