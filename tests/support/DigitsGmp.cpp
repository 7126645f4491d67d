#include "support/DigitsGmp.h"

#include <cstdio>

namespace Testing {

namespace {
constexpr Digit GuardDigit = 0xA5C3E1F7u;
}

Mpz::Mpz(const Digit* a, unsigned digits) {
  mpz_init(FValue);
  if (digits > 0) mpz_import(FValue, digits, -1, sizeof(Digit), 0, 0, a);
}

Digits Mpz::ToDigits(unsigned digits) const {
  Digits out(digits, 0);
  Mpz low;
  mpz_fdiv_r_2exp(low, FValue, 32ul * digits);
  std::size_t count = 0;
  if (low.Sign() != 0) {
    Digits all((mpz_sizeinbase(low, 2) + 31) / 32 + 1, 0);
    mpz_export(all.data(), &count, -1, sizeof(Digit), 0, 0, low);
    for (std::size_t i = 0; i < count && i < digits; ++i) out[i] = all[i];
  }
  return out;
}

bool Mpz::FitsIn(unsigned digits) const {
  return Sign() >= 0 && (Sign() == 0 || mpz_sizeinbase(FValue, 2) <= 32ul * digits);
}

std::string Mpz::Hex() const {
  char* text = mpz_get_str(nullptr, 16, FValue);
  std::string s(text);
  void (*freeFn)(void*, std::size_t);
  mp_get_memory_functions(nullptr, nullptr, &freeFn);
  freeFn(text, s.size() + 1);
  return "0x" + s;
}

bool operator==(const Mpz& x, const Mpz& y) { return mpz_cmp(x, y) == 0; }

std::string Hex(const Digit* a, unsigned digits) {
  std::string s = "[";
  char part[16];
  for (unsigned i = digits; i-- > 0;) {
    std::snprintf(part, sizeof part, "%08x", a[i]);
    s += part;
    if (i > 0) s += ' ';
  }
  return s + "]";
}

const char* ShapeName(Shape s) {
  switch (s) {
    case Shape::Random: return "random";
    case Shape::Short: return "short";
    case Shape::TopOnes: return "top-ones";
    case Shape::Sparse: return "sparse";
    case Shape::AllOnes: return "all-ones";
    case Shape::Zero: return "zero";
  }
  return "?";
}

Digits OperandSource::Make(unsigned digits, Shape shape) {
  Digits a(digits, 0);
  switch (shape) {
    case Shape::Random:
      for (auto& x : a) x = NextDigit();
      break;
    case Shape::Short: {
      const unsigned significant = digits == 0 ? 0 : Below(0, digits - 1);
      for (unsigned i = 0; i < significant; ++i) a[i] = NextDigit();
      break;
    }
    case Shape::TopOnes: {
      for (auto& x : a) x = NextDigit();
      const unsigned ones = digits == 0 ? 0 : Below(1, digits < 3 ? digits : 3);
      for (unsigned i = 0; i < ones; ++i) a[digits - 1 - i] = 0xFFFFFFFFu;
      break;
    }
    case Shape::Sparse: {
      static constexpr Digit picks[] = {0, 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
      for (auto& x : a) {
        const unsigned k = Below(0, 5);
        x = k < 5 ? picks[k] : NextDigit();
      }
      break;
    }
    case Shape::AllOnes:
      for (auto& x : a) x = 0xFFFFFFFFu;
      break;
    case Shape::Zero:
      break;
  }
  return a;
}

Shape OperandSource::AnyShape() {
  static constexpr Shape weighted[] = {Shape::Random, Shape::Random, Shape::Random, Shape::Short, Shape::Short,
                                       Shape::TopOnes, Shape::Sparse, Shape::Sparse, Shape::AllOnes, Shape::Zero};
  return weighted[Below(0, 9)];
}

unsigned OperandSource::AnyCount(unsigned limit) {
  switch (Below(0, 5)) {
    case 0: return Below(1, limit < 4 ? limit : 4);
    case 1: return limit;
    default: return Below(1, limit);
  }
}

Fenced::Fenced(unsigned digits, Digit fill) : FDigits(digits), FStore(digits + 2 * GuardDigits, GuardDigit) {
  for (unsigned i = 0; i < digits; ++i) data()[i] = fill;
}

Fenced::Fenced(const Digits& value, unsigned digits) : Fenced(digits) {
  for (unsigned i = 0; i < digits && i < value.size(); ++i) data()[i] = value[i];
}

Digits Fenced::Value() const {
  return Digits(FStore.begin() + GuardDigits, FStore.begin() + GuardDigits + FDigits);
}

bool Fenced::GuardsIntact() const {
  for (unsigned i = 0; i < GuardDigits; ++i)
    if (FStore[i] != GuardDigit || FStore[GuardDigits + FDigits + i] != GuardDigit) return false;
  return true;
}

}  // namespace Testing
