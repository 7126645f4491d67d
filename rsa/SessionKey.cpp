// Session-key wrapping: the leading GetSymKeyBytes() bytes of a session key, filled up with random bytes
// to one byte short of the key size, raised to e modulo n and given back as radix-64 text.
#include "host/core/Random.h"
#include "rsa/ByteImage.h"
#include "rsa/RSA.h"
#include "rsa/TextFormats.h"

namespace Rsa {

System::AnsiString TRSA::EncryptKey(const unsigned char* Key) {
  RequireBlockKey(TKeyUse::Public);
  if (Key == nullptr) Fail<Sysutils::ERangeError>("No session key given");
  const int K = 4 * FPrecision;
  const int L = GetSymKeyBytes();

  // Block: key bytes, then random bytes up to byte K-2; byte K-1 and above stay zero, so the block is
  // below the modulus. The generator is drawn K-1 times whatever L is, the key overwriting the first L.
  BigNum m, c;
  BNAssignZero(m, BigNumDigits);
  BNAssignZero(c, BigNumDigits);
  unsigned char padding[BigNumImageBytes];
  System::RandBytes(padding, std::size_t(K - 1));
  BytesToImage(m, padding, K - 1);
  BNWipe(padding, 0, sizeof padding);
  BytesToImage(m, Key, L);

  PublicBlock(c, m);
  BNWipe(&m, 0, sizeof m);

  System::AnsiString wrapped;
  wrapped.SetLength(K);
  ImageToBytes(c, wrapped.bytes(), K);
  return Radix64Encode(wrapped);
}

void TRSA::DecryptKey(const System::AnsiString S, unsigned char* Key) {
  RequireBlockKey(TKeyUse::Private);
  if (Key == nullptr) Fail<Sysutils::ERangeError>("No session key given");
  const int K = 4 * FPrecision;
  const int L = GetSymKeyBytes();

  System::AnsiString wrapped;
  try {
    wrapped = Radix64Decode(S);
  } catch (const Sysutils::Exception&) {
    // The decoder's own message is replaced by the one this operation reports.
    Fail<Sysutils::EConvertError>("String not valid");
  }
  if (wrapped.Length() != K) Fail<Sysutils::EConvertError>("String has incorrect length");

  BigNum c, m;
  BNAssignZero(c, BigNumDigits);
  BNAssignZero(m, BigNumDigits);
  BytesToImage(c, wrapped.bytes(), K);
  PrivateBlock(m, c);

  // Key is written only here, after every check: a failed call leaves it as it was. The padding of
  // the block is not examined, so a wrong key or an altered text gives wrong bytes, not an error.
  for (int i = 0; i < int(sizeof(TSymKey)); ++i) Key[i] = 0;
  ImageToBytes(m, Key, L);
  BNWipe(&m, 0, sizeof m);
}

}  // namespace Rsa
