// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
System::AnsiString TRSA::EncryptKey(const unsigned char*)  { throw Sysutils::Exception("not built yet"); }
void TRSA::DecryptKey(const System::AnsiString, unsigned char*)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
