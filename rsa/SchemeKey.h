// The key store as the standard schemes use it (internal to rsa/): the component's entry checks and
// failure reporting, and its raw RSA operations on big-endian octet strings of k bytes. TRSA names
// this class its friend; nothing else reaches the key store's private members.
#pragma once

#include <cstddef>

#include "rsa/RSA.h"

namespace Rsa {

class TSchemeKey {
 public:
  enum class TUse : unsigned char { Public, Private };

  // Makes the component's checks for the key the use needs (RequireKey), reporting a failure as the
  // component does.
  TSchemeKey(TRSA& Rsa, TUse Use);

  // k, the modulus's length in bytes (the component's K), and the modulus's length in bits
  // (8k - 7 to 8k).
  std::size_t Bytes() const { return FBytes; }
  std::size_t ModulusBits() const { return FModulusBits; }

  // Sets Status, fires OnStatusUpdate, then throws E with the message.
  template <class E>
  [[noreturn]] void Fail(const System::AnsiString& Message) {
    FRsa.Fail<E>(Message);
  }

  // Whether the k-byte string is below n. Variable time: for public values only.
  bool BelowModulusVarTime(const unsigned char* Octets) const;
  // Out := In^e mod n over k-byte strings, In below n. Variable time: for public values only.
  void Public(const unsigned char* In, unsigned char* Out);
  // Out := In^d mod n over k-byte strings, In below n, by the component's private path (the Chinese
  // remainder theorem, checked with e). Constant time in In, Out and the key; Out may be In.
  void Private(const unsigned char* In, unsigned char* Out);

 private:
  TRSA& FRsa;
  std::size_t FBytes;
  std::size_t FModulusBits;
};

// The k-byte big-endian string of x, and x from one. Constant time (addresses depend on k alone).
void NumberToOctets(const BigNum& x, unsigned char* Octets, std::size_t Bytes);
void OctetsToNumber(BigNum& x, const unsigned char* Octets, std::size_t Bytes);

}  // namespace Rsa
