// Modular exponentiation in Montgomery form: by fixed windows in constant time for secret exponents, by
// plain square-and-multiply for public ones, and BNModExp's path for odd moduli built on the former.
//
// The constant-time method reads the exponent from its top in windows of w bits. Every window costs w
// squarings, one read of the whole power table under masks and one product, whatever its bits,
// including zero windows at the top. Its time follows the modulus's limb count and the number of
// exponent bits it is told to scan, nothing else.
#include "bignum/BigNumInternal.h"
#include "bignum/MontgomeryIfma.h"
#include "bignum/MontgomeryInternal.h"

namespace Rsa {

namespace {

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

// Bits pos .. pos + width - 1 of the exponent (width <= 32) of cDigits digits. Which digits are read
// depends on pos alone.
Limb WindowValue(const Digit* c, unsigned cDigits, unsigned pos, unsigned width) {
  const unsigned i = pos / 32;
  Limb x = c[i];
  if (i + 1 < cDigits) x |= static_cast<Limb>(c[i + 1]) << 32;
  return (x >> (pos % 32)) & ((Limb{1} << width) - 1);
}

// r := entry number index of a table stored limb by limb (limb j of every entry together, so that one
// pass reads them in order). Every entry is read; r is written once per limb.
void SelectEntry(Limb* r, const Limb* columns, unsigned entries, unsigned n, Limb index) {
  Limb mask[MaxWindowEntries];
  for (unsigned e = 0; e < entries; ++e) mask[e] = ConstantTime::MaskEqual<Limb>(e, index);
  for (unsigned j = 0; j < n; ++j) {
    const Limb* column = columns + j * entries;
    Limb value = 0;
    for (unsigned e = 0; e < entries; ++e) value |= column[e] & mask[e];
    r[j] = value;
  }
}

// The powers base^0 .. base^(entries - 1) one after another in powers, then regrouped limb by limb in
// columns for the masked reads. q is a product's work area.
void BuildPowerTable(Limb* powers, Limb* columns, const Limb* base, unsigned entries, const MontModulus& mod,
                     Limb* q) {
  const unsigned n = mod.limbs;
  for (unsigned j = 0; j < n; ++j) {
    powers[j] = mod.one[j];
    powers[n + j] = base[j];
  }
  for (unsigned e = 2; e < entries; ++e) {
    if (e % 2 == 0)
      MontSquare(powers + e * n, powers + e / 2 * n, mod, q);
    else
      MontProduct(powers + e * n, powers + (e - 1) * n, powers + n, mod, q);
  }
  for (unsigned e = 0; e < entries; ++e)
    for (unsigned j = 0; j < n; ++j) columns[j * entries + e] = powers[e * n + j];
}

// The largest halves the lockstep pair takes: the halves of 2048-bit keys. Its tables then fit a small
// work area.
constexpr unsigned LockstepLimbs = 16;

// Two exponentiations of the same length on moduli of the same limb count, step by step side by side:
// each squaring or product of one half is followed by the same step of the other, which does not wait
// for it, so the processor overlaps the end of one with the start of the next (each step's result
// feeds the same half's next step, whose start otherwise waits for the final subtraction). Same
// sequence of operations per half as MontExpScalar, so the same results and the same constant time.
void MontExpPairLockstep(const MontExpJob& first, const MontExpJob& second) {
  const MontExpJob* const jobs[2] = {&first, &second};
  const unsigned n = first.mod->limbs, expBits = first.expBits;
  const unsigned cDigits = (expBits + 31) / 32;
  const unsigned window = WindowBits(expBits);
  const unsigned entries = 1u << window;
  struct Half {
    Limb powers[MaxWindowEntries * LockstepLimbs];
    Limb columns[MaxWindowEntries * LockstepLimbs];
    Limb entry[LockstepLimbs];
    Limb q[2 * LockstepLimbs];
  } h[2];
  // Both tables first: each reads its base, which may be its own result area, before any result is written.
  for (unsigned k = 0; k < 2; ++k) BuildPowerTable(h[k].powers, h[k].columns, jobs[k]->base, entries, *jobs[k]->mod, h[k].q);
  unsigned pos = expBits - (expBits % window == 0 ? window : expBits % window);
  for (unsigned k = 0; k < 2; ++k)
    SelectEntry(jobs[k]->r, h[k].columns, entries, n, WindowValue(jobs[k]->exponent, cDigits, pos, expBits - pos));
  while (pos > 0) {
    pos -= window;
    for (unsigned s = 0; s < window; ++s)
      for (unsigned k = 0; k < 2; ++k) MontSquare(jobs[k]->r, jobs[k]->r, *jobs[k]->mod, h[k].q);
    for (unsigned k = 0; k < 2; ++k)
      SelectEntry(h[k].entry, h[k].columns, entries, n, WindowValue(jobs[k]->exponent, cDigits, pos, window));
    for (unsigned k = 0; k < 2; ++k) MontProduct(jobs[k]->r, jobs[k]->r, h[k].entry, *jobs[k]->mod, h[k].q);
  }
  BNWipe(h, 0, sizeof h);
}

// The product kernels keep their running columns in registers, and the compiler may spill some of them
// to the stack, where they would outlive the call. This frame lies where the kernels' frames lay, below
// the caller's, and its wipe overwrites whatever they left there. On 32-bit machines, where every limb
// takes two registers, the kernels spill more and their frames reach past 2 KB.
[[gnu::noinline]] void WipeBelow() {
  unsigned char area[4096];
  BNWipe(area, 0, sizeof area);
}

}  // namespace

void MontWipeStack() { WipeBelow(); }

void MontExp(Limb* r, const Limb* base, const Digit* c, unsigned expBits, const MontModulus& mod, MontExpWork& w) {
  if (SelectedMontKernel() == MontKernel::Ifma && IfmaSingleSupports(mod)) return MontExpIfma({r, base, c, expBits, &mod});
  MontExpScalar(r, base, c, expBits, mod, w);
}

void MontExpScalar(Limb* r, const Limb* base, const Digit* c, unsigned expBits, const MontModulus& mod,
                   MontExpWork& w) {
  const unsigned n = mod.limbs;
  if (expBits == 0) {
    for (unsigned j = 0; j < n; ++j) r[j] = mod.one[j];
    return;
  }
  const unsigned cDigits = (expBits + 31) / 32;
  const unsigned window = WindowBits(expBits);
  const unsigned entries = 1u << window;

  BuildPowerTable(w.powers, w.columns, base, entries, mod, w.q);

  // The top window takes what is left over when the bits are cut into whole windows from the bottom.
  unsigned pos = expBits - (expBits % window == 0 ? window : expBits % window);
  SelectEntry(r, w.columns, entries, n, WindowValue(c, cDigits, pos, expBits - pos));
  while (pos > 0) {
    pos -= window;
    for (unsigned s = 0; s < window; ++s) MontSquare(r, r, mod, w.q);
    SelectEntry(w.entry, w.columns, entries, n, WindowValue(c, cDigits, pos, window));
    MontProduct(r, r, w.entry, mod, w.q);
  }
}

void MontExpPublicVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod,
                          Limb* q) {
  if (SelectedMontKernel() == MontKernel::Ifma && IfmaSingleSupports(mod))
    return MontExpPublicIfmaVarTime(r, base, c, cDigits, mod);
  MontExpPublicScalarVarTime(r, base, c, cDigits, mod, q);
}

void MontPowerPublicVarTime(Digit* out, unsigned outDigits, const Digit* x, unsigned xDigits, const Digit* c,
                            unsigned cDigits, const MontModulus& mod) {
  struct {
    Limb form[MontLimbs];
    Limb q[2 * MontLimbs];
    Limb scratch[3 * MontLimbs];
  } w;
  MontToForm(w.form, x, xDigits, mod, w.scratch);
  if (SelectedMontKernel() == MontKernel::Ifma && IfmaSingleSupports(mod)) {
    // The vector kernel hands back the ordinary value itself.
    MontPowerPublicIfmaVarTime(w.form, w.form, c, cDigits, mod);
    for (unsigned i = 0; i < outDigits; ++i)
      out[i] = i < 2 * mod.limbs ? static_cast<Digit>(w.form[i / 2] >> (32 * (i % 2))) : 0;
  } else {
    MontExpPublicScalarVarTime(w.form, w.form, c, cDigits, mod, w.q);
    MontFromForm(out, outDigits, w.form, mod, w.scratch);
  }
  BNWipe(&w, 0, sizeof w);
}

void MontExpPublicScalarVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits,
                                const MontModulus& mod, Limb* q) {
  const unsigned n = mod.limbs;
  const unsigned bits = BNBits(c, cDigits);
  if (bits == 0) {
    for (unsigned j = 0; j < n; ++j) r[j] = mod.one[j];
    return;
  }
  // r may be base: the base is copied before r is first written.
  Limb b[MontLimbs];
  for (unsigned j = 0; j < n; ++j) b[j] = base[j];
  for (unsigned j = 0; j < n; ++j) r[j] = b[j];
  for (unsigned i = bits - 1; i-- > 0;) {
    MontSquare(r, r, mod, q);
    if ((c[i / 32] >> (i % 32)) & 1) MontProduct(r, r, b, mod, q);
  }
  BNWipe(b, 0, sizeof b);
}

void MontExpPairGeneric(const MontExpJob& first, const MontExpJob& second) {
  if (first.expBits == second.expBits && first.expBits > 0 && first.mod->limbs == second.mod->limbs &&
      first.mod->limbs <= LockstepLimbs)
    return MontExpPairLockstep(first, second);
  MontExpWork w;
  MontExp(first.r, first.base, first.exponent, first.expBits, *first.mod, w);
  MontExp(second.r, second.base, second.exponent, second.expBits, *second.mod, w);
  BNWipe(&w, 0, sizeof w);
}

MontExpPairFn SelectMontExpPair(const MontModulus& first, const MontModulus& second) {
  if (SelectedMontKernel() == MontKernel::Ifma && IfmaPairSupports(first, second)) return &MontExpPairIfma;
  return &MontExpPairGeneric;
}

void BNModExpMontgomery(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                        unsigned dDigits) {
  const unsigned exponentDigits = BNDigits(c, cDigits);
  if (exponentDigits == 0) {  // b^0 = 1, not reduced
    BNAssignZero(a, dDigits);
    a[0] = 1;
    return;
  }

  struct {
    MontModulus mod;
    Limb base[MontLimbs];
    Limb power[MontLimbs];
    Limb scratch[3 * MontLimbs];
    MontExpWork exp;
  } w;
  // The modulus is public here: its significant length sets the limb count.
  MontSetup(w.mod, d, BNDigits(d, dDigits));
  MontToForm(w.base, b, dDigits, w.mod, w.scratch);
  MontExp(w.power, w.base, c, 32 * exponentDigits, w.mod, w.exp);

  // The exponent and the base have been read; a may be either of them, or the modulus.
  MontFromForm(a, dDigits, w.power, w.mod, w.scratch);
  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
}

}  // namespace Rsa
