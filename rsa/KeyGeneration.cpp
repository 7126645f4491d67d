// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
void TRSA::MakeKeyPair(const BigNum&, const BigNum&)  { throw Sysutils::Exception("not built yet"); }
void TRSA::RSAMakeKeyPair(const BigNum&, const BigNum&, BigNum&, BigNum&, BigNum&)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
