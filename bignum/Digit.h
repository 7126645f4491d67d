// The digit type of the arithmetic: the one piece of it that the component's public interface shows
// (key store numbers are arrays of these digits). The routines themselves stay internal in BigNum.h.
#pragma once

#include <cstdint>

namespace Rsa {

using Digit = std::uint32_t;

}  // namespace Rsa
