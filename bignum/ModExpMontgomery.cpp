// Modular exponentiation for odd moduli in Montgomery form, by fixed windows, in constant time.
//
// The exponent is read from its top in windows of w bits. Every window costs w squarings, one read of
// the whole power table under masks and one product, whatever its bits, including the zero windows
// above the exponent's top bit within its top digit. Timing therefore follows the modulus's significant
// length and the exponent's significant digit count (32-bit digits) and nothing else: not the bits of
// the exponent, not the base. Scanning only the significant digits matters for speed: callers hold
// exponents of half the modulus length, or less, in arrays of full length. The digit count of a secret
// exponent is no secret in practice: an RSA private exponent fills the modulus's digits except with
// probability 2^-32, and a prime test's exponent has the length of the number tested.
#include "bignum/BigNumInternal.h"
#include "bignum/ConstantTime.h"
#include "bignum/Montgomery.h"

namespace Rsa {

namespace {

constexpr unsigned MaxWindowBits = 5;
constexpr unsigned MaxTableEntries = 1u << MaxWindowBits;

// The window size for an exponent of this many bits: a window of w bits costs 2^w table products once
// and a read of all 2^w entries at every window, against bits/w window products. The thresholds are
// measured: 4 bits is best up to 512-bit exponents, 4 and 5 tie at 1024, 5 wins at 2048, and 6 would
// gain about one percent there for twice the table.
unsigned WindowBits(unsigned exponentBits) {
  if (exponentBits <= 64) return 2;
  if (exponentBits <= 160) return 3;
  if (exponentBits <= 512) return 4;
  return 5;
}

// Bits pos .. pos + width - 1 of the exponent (width <= 32). Which digits are read depends on pos alone.
Limb WindowValue(const Digit* c, unsigned cDigits, unsigned pos, unsigned width) {
  const unsigned i = pos / 32;
  Limb x = c[i];
  if (i + 1 < cDigits) x |= static_cast<Limb>(c[i + 1]) << 32;
  return (x >> (pos % 32)) & ((Limb{1} << width) - 1);
}

// r := table entry number index, reading every entry and keeping the one whose number matches.
void SelectEntry(Limb* r, const Limb* table, unsigned entries, unsigned n, Limb index) {
  for (unsigned j = 0; j < n; ++j) r[j] = 0;
  for (unsigned e = 0; e < entries; ++e) {
    const Limb mask = ConstantTime::MaskEqual<Limb>(e, index);
    const Limb* entry = table + e * n;
    for (unsigned j = 0; j < n; ++j) r[j] |= entry[j] & mask;
  }
}

// Every value of one exponentiation, wiped as one block at the end.
struct ExpWorkArea {
  MontModulus mod;
  Limb table[MaxTableEntries * MontLimbs];  // Montgomery forms of b^0 .. b^(2^w - 1), n limbs apart
  Limb power[MontLimbs];                    // the running power
  Limb entry[MontLimbs];                    // the table entry picked for this window
  Limb q[2 * MontLimbs];                    // work area of one product
  Limb scratch[3 * MontLimbs];              // conversions in and out
};

// The product kernels keep their running columns in registers, and the compiler may spill some of them
// to the stack, where they would outlive the call. This frame lies where the kernels' frames lay, below
// the caller's, and its wipe overwrites whatever they left there. On 32-bit machines, where every limb
// takes two registers, the kernels spill more and their frames reach past 2 KB.
[[gnu::noinline]] void WipeKernelFrames() {
  unsigned char area[4096];
  BNWipe(area, 0, sizeof area);
}

}  // namespace

void BNModExpMontgomery(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                        unsigned dDigits) {
  const unsigned exponentDigits = BNDigits(c, cDigits);
  if (exponentDigits == 0) {  // b^0 = 1, not reduced
    BNAssignZero(a, dDigits);
    a[0] = 1;
    return;
  }

  ExpWorkArea w;
  MontModulus& mod = w.mod;
  MontSetupVarTime(mod, d, dDigits);
  const unsigned n = mod.limbs;
  const unsigned bits = 32 * exponentDigits;
  const unsigned window = WindowBits(bits);
  const unsigned entries = 1u << window;

  Limb* table = w.table;
  for (unsigned j = 0; j < n; ++j) table[j] = mod.one[j];
  MontToForm(table + n, b, dDigits, mod, w.scratch);
  for (unsigned e = 2; e < entries; ++e) {
    if (e % 2 == 0)
      MontSquare(table + e * n, table + e / 2 * n, mod, w.q);
    else
      MontProduct(table + e * n, table + (e - 1) * n, table + n, mod, w.q);
  }

  // The top window takes what is left over when the bits are cut into whole windows from the bottom.
  unsigned pos = bits - (bits % window == 0 ? window : bits % window);
  SelectEntry(w.power, table, entries, n, WindowValue(c, exponentDigits, pos, bits - pos));
  while (pos > 0) {
    pos -= window;
    for (unsigned s = 0; s < window; ++s) MontSquare(w.power, w.power, mod, w.q);
    SelectEntry(w.entry, table, entries, n, WindowValue(c, exponentDigits, pos, window));
    MontProduct(w.power, w.power, w.entry, mod, w.q);
  }

  // The exponent and the base have been read; a may be either of them, or the modulus.
  MontFromForm(a, dDigits, w.power, mod, w.scratch);
  BNWipe(&w, 0, sizeof w);
  WipeKernelFrames();
}

}  // namespace Rsa
