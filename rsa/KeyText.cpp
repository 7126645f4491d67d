// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
void TRSA::PutPublicKey(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
void TRSA::PutPrivateKey(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
void TRSA::PutSignature(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
