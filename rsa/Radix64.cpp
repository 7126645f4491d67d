// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
System::AnsiString TRSA::EncodeString(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
System::AnsiString TRSA::DecodeString(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
