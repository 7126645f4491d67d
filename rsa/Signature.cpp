// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
void TRSA::Sign(const unsigned char*, const int, const int)  { throw Sysutils::Exception("not built yet"); }
bool TRSA::Verify(const unsigned char*, const int, const int)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
