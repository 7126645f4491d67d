// Signatures over short byte blocks: the data, filled up with random bytes below the top digit of the
// key size, raised to d modulo n. No digest is taken, so the data must fit in one block.
#include <cstdint>

#include "host/core/Random.h"
#include "rsa/ByteImage.h"
#include "rsa/RSA.h"
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

// Why Len cannot be used with Data (DataHigh + 1 elements), or null when it can. A Len of 0 or less
// reads nothing. Any larger Len must lie within Data and within the image of one BigNum.
const char* DataLengthFault(const unsigned char* Data, int DataHigh, int Len) {
  if (Len <= 0) return nullptr;
  if (std::int64_t(Len) > std::int64_t(DataHigh) + 1) return "Data length exceeds the data given";
  if (Len > BigNumImageBytes) return "Data length exceeds the 528-byte block";
  if (Data == nullptr) return "No data given";
  return nullptr;
}

}  // namespace

void TRSA::Sign(const unsigned char* Data, const int DataHigh, const int Len) {
  RequireBlockKey(TKeyUse::Private);
  if (const char* fault = DataLengthFault(Data, DataHigh, Len)) Fail<Sysutils::ERangeError>(fault);
  const int K = 4 * FPrecision;

  // Block: the data, random bytes up to byte K-5, and a zero top digit, so that a block of at most K-4
  // data bytes is below the modulus. The generator is drawn K-4 times whatever Len is. A longer Len is
  // signed as it stands; the exponentiation reduces that block modulo n.
  BigNum m, s;
  BNAssignZero(m, BigNumDigits);
  BNAssignZero(s, BigNumDigits);
  unsigned char padding[BigNumImageBytes];
  System::RandBytes(padding, std::size_t(K - 4));
  BytesToImage(m, padding, K - 4);
  BNWipe(padding, 0, sizeof padding);
  if (Len > 0) BytesToImage(m, Data, Len);

  PrivateBlock(s, m);
  BNWipe(&m, 0, sizeof m);

  // Build the text before changing anything, so that the value, the flag and the text change together.
  System::AnsiString text = SignatureText(s, FPrecision);
  BNAssign(FSigValue, s, BigNumDigits);
  FSignatureLoaded = true;
  FSignature = text;
}

bool TRSA::Verify(const unsigned char* Data, const int DataHigh, const int Len) {
  RequireBlockKey(TKeyUse::PublicWithSignature);
  if (const char* fault = DataLengthFault(Data, DataHigh, Len)) Fail<Sysutils::ERangeError>(fault);

  // Only the first Len bytes of the recovered block are compared; its random fill and zero top digit
  // are not looked at.
  BigNum r;
  BNAssignZero(r, BigNumDigits);
  PublicBlock(r, FSigValue);
  for (int i = 0; i < Len; ++i)
    if (Data[i] != ImageByte(r, i)) return false;
  return true;
}

}  // namespace Rsa
