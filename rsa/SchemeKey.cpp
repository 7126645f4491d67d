// The standard schemes' access to the key store: octet strings in and out of the component's numbers.
#include "rsa/SchemeKey.h"

#include "rsa/ByteImage.h"

namespace Rsa {

void NumberToOctets(const BigNum& x, unsigned char* Octets, std::size_t Bytes) {
  for (std::size_t j = 0; j < Bytes; ++j) Octets[j] = ImageByte(x, int(Bytes - 1 - j));
}

void OctetsToNumber(BigNum& x, const unsigned char* Octets, std::size_t Bytes) {
  BNAssignZero(x, BigNumDigits);
  for (std::size_t j = 0; j < Bytes; ++j) SetImageByte(x, int(Bytes - 1 - j), Octets[j]);
}

TSchemeKey::TSchemeKey(TRSA& Rsa, TUse Use) : FRsa(Rsa) {
  Rsa.RequireKey(Use == TUse::Public ? TRSA::TKeyUse::Public : TRSA::TKeyUse::Private);
  // RequireKey has checked that the modulus is exactly K bytes.
  FBytes = 4 * std::size_t(Rsa.FPrecision);
  FModulusBits = BNBits(Rsa.FModulus, BigNumDigits);
}

bool TSchemeKey::BelowModulusVarTime(const unsigned char* Octets) const {
  BigNum x;
  OctetsToNumber(x, Octets, FBytes);
  return BNCmp(x, FRsa.FModulus, BigNumDigits) < 0;
}

void TSchemeKey::Public(const unsigned char* In, unsigned char* Out) {
  BigNum x, y;
  OctetsToNumber(x, In, FBytes);
  BNAssignZero(y, BigNumDigits);
  FRsa.PublicBlock(y, x);
  NumberToOctets(y, Out, FBytes);
}

void TSchemeKey::Private(const unsigned char* In, unsigned char* Out) {
  BigNum x, y;
  OctetsToNumber(x, In, FBytes);
  BNAssignZero(y, BigNumDigits);
  FRsa.PrivateBlock(y, x);
  NumberToOctets(y, Out, FBytes);
  BNWipe(&x, 0, sizeof x);
  BNWipe(&y, 0, sizeof y);
}

}  // namespace Rsa
