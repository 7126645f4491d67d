#include "bignum/bignum.h"

namespace Rsa {

void BNWipe(void* area, unsigned char value, std::size_t count) {
  // Volatile stores are observable behaviour: the compiler must perform each one, so a work area is
  // cleared even when it is about to go out of scope.
  volatile unsigned char* p = static_cast<volatile unsigned char*>(area);
  for (std::size_t i = 0; i < count; ++i) p[i] = value;
}

}  // namespace Rsa
