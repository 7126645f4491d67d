// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
void TRSA::EncryptString(const System::AnsiString, System::AnsiString&)  { throw Sysutils::Exception("not built yet"); }
void TRSA::DecryptString(const System::AnsiString, System::AnsiString&)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
