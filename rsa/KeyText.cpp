// Placeholder until this part of the component is built.
#include "rsa/RSA.h"

namespace Rsa {
void TRSA::PutPublicKey(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
void TRSA::PutPrivateKey(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
void TRSA::PutSignature(const System::AnsiString)  { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
#include "rsa/TextFormats.h"
namespace Rsa {
unsigned char DecodeChar(char) { throw Sysutils::Exception("not built yet"); }
System::AnsiString Radix64Encode(const System::AnsiString&) { throw Sysutils::Exception("not built yet"); }
System::AnsiString Radix64Decode(const System::AnsiString&) { throw Sysutils::Exception("not built yet"); }
System::AnsiString KeyFieldText(const BigNum&) { throw Sysutils::Exception("not built yet"); }
System::AnsiString KeyFieldText(const BigNum&, int) { throw Sysutils::Exception("not built yet"); }
System::AnsiString SignatureText(const BigNum&, int) { throw Sysutils::Exception("not built yet"); }
}  // namespace Rsa
