#include "BenchOperands.h"

#include <map>

namespace Bench {

BigNum RandomDigits(std::mt19937_64& engine, unsigned bits, bool odd) {
  BigNum x{};
  const unsigned digits = (bits + 31) / 32;
  for (unsigned i = 0; i < digits; ++i) x.Digits[i] = static_cast<Digit>(engine());
  const unsigned topBits = bits - 32 * (digits - 1);
  if (topBits < 32) x.Digits[digits - 1] &= (Digit{1} << topBits) - 1;
  x.Digits[digits - 1] |= Digit{1} << (topBits - 1);
  if (odd) x.Digits[0] |= 1;
  return x;
}

BIGNUM* ToOpenSsl(const BigNum& x) {
  return BN_lebin2bn(reinterpret_cast<const unsigned char*>(x.Digits), sizeof x.Digits, nullptr);
}

BigNum FromOpenSsl(const BIGNUM* x) {
  BigNum r{};
  BN_bn2lebinpad(x, reinterpret_cast<unsigned char*>(r.Digits), sizeof r.Digits);
  return r;
}

const ModExpOperands& OperandsFor(unsigned bits) {
  static std::map<unsigned, ModExpOperands> cache;
  auto found = cache.find(bits);
  if (found != cache.end()) return found->second;
  std::mt19937_64 engine(0x5EED0000u + bits);
  ModExpOperands ops;
  ops.modulus = RandomDigits(engine, bits, true);
  ops.exponent = RandomDigits(engine, bits, false);
  ops.base = RandomDigits(engine, bits - 1, false);  // below the modulus
  return cache.emplace(bits, ops).first->second;
}

}  // namespace Bench
