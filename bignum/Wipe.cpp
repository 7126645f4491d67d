#include <cstring>

#include "bignum/BigNum.h"

namespace Rsa {

namespace {

// The fill routine is reached through a volatile pointer. The compiler must read the pointer afresh at
// each call and cannot know what it calls, so it can neither drop the call nor the stores it makes, even
// when the area is a local that dies right after. The fill itself runs at full memory speed, which
// matters because every reduced product wipes several kilobytes of work area.
void* (*const volatile FillBytes)(void*, int, std::size_t) = std::memset;

}  // namespace

void BNWipe(void* area, unsigned char value, std::size_t count) {
  if (count > 0) FillBytes(area, value, count);
}

}  // namespace Rsa
