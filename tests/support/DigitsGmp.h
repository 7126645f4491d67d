// Test helpers for the arithmetic: the tests' one GMP integer wrapper (Mpz), with conversion from and to
// digit arrays, seeded operand generation in shapes that stress carries and estimates, and result
// arrays fenced by guard digits.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bignum/BigNum.h"

namespace Testing {

using Rsa::Digit;
using Digits = std::vector<Digit>;

// An owned GMP integer.
class Mpz {
 public:
  Mpz() { mpz_init(FValue); }
  explicit Mpz(unsigned long v) { mpz_init_set_ui(FValue, v); }
  // From hexadecimal digits, most significant first.
  // (A string rather than a character pointer, so that Mpz(0) stays the number.)
  explicit Mpz(const std::string& hex) { mpz_init_set_str(FValue, hex.c_str(), 16); }
  Mpz(const Digit* a, unsigned digits);
  explicit Mpz(const Digits& a) : Mpz(a.data(), static_cast<unsigned>(a.size())) {}
  Mpz(const Mpz& other) { mpz_init_set(FValue, other.FValue); }
  Mpz& operator=(const Mpz& other) {
    mpz_set(FValue, other.FValue);
    return *this;
  }
  ~Mpz() { mpz_clear(FValue); }

  mpz_ptr get() { return FValue; }
  mpz_srcptr get() const { return FValue; }
  operator mpz_ptr() { return FValue; }
  operator mpz_srcptr() const { return FValue; }

  // The low digits digits of the value (which must be non-negative).
  Digits ToDigits(unsigned digits) const;
  // True when the value is non-negative and fits in digits digits.
  bool FitsIn(unsigned digits) const;
  std::string Hex() const;
  int Sign() const { return mpz_sgn(FValue); }
  // Number of significant bits; 0 for zero.
  std::size_t Bits() const { return Sign() == 0 ? 0 : mpz_sizeinbase(FValue, 2); }

 private:
  mpz_t FValue;
};

bool operator==(const Mpz& x, const Mpz& y);
inline bool operator!=(const Mpz& x, const Mpz& y) { return !(x == y); }

// Hexadecimal text of a digit array, most significant digit first, for failure messages.
std::string Hex(const Digit* a, unsigned digits);
inline std::string Hex(const Digits& a) { return Hex(a.data(), static_cast<unsigned>(a.size())); }

// The shapes of operand that the arithmetic finds hardest.
enum class Shape {
  Random,      // uniform digits
  Short,       // uniform value with a random number of leading zero digits
  TopOnes,     // one or more top digits of 2^32 - 1, the rest uniform
  Sparse,      // each digit one of 0, 1, 2^31 - 1, 2^31, 2^32 - 1 or uniform
  AllOnes,     // every digit 2^32 - 1
  Zero,        // every digit zero
};
inline constexpr Shape AllShapes[] = {Shape::Random,  Shape::Short,   Shape::TopOnes,
                                      Shape::Sparse,  Shape::AllOnes, Shape::Zero};
const char* ShapeName(Shape s);

// Seeded source of digits and operands; the same seed gives the same operands on every run.
class OperandSource {
 public:
  explicit OperandSource(std::uint64_t seed) : FEngine(seed) {}
  Digit NextDigit() { return static_cast<Digit>(FEngine()); }
  // Uniform in [lo, hi].
  unsigned Below(unsigned lo, unsigned hi) { return std::uniform_int_distribution<unsigned>(lo, hi)(FEngine); }
  Digits Make(unsigned digits, Shape shape);
  // A random shape, the uniform ones more often than the extremes.
  Shape AnyShape();
  // A digit count in [1, limit] that favours the small counts and the limit itself.
  unsigned AnyCount(unsigned limit);

 private:
  std::mt19937_64 FEngine;
};

// A run of digits that starts inside a larger array, with guard digits before and after it, so that a
// write outside the run shows up.
class Fenced {
 public:
  static constexpr unsigned GuardDigits = 4;
  explicit Fenced(unsigned digits, Digit fill = 0x5EC7E7u);
  Fenced(const Digits& value, unsigned digits);  // value copied in, the rest filled with the fill digit
  Digit* data() { return FStore.data() + GuardDigits; }
  Digits Value() const;  // the run only
  unsigned size() const { return FDigits; }
  bool GuardsIntact() const;

 private:
  unsigned FDigits;
  Digits FStore;
};

}  // namespace Testing
