// Chooses the kernel behind every Montgomery product and square. Where the selected family is ADX or
// IFMA (KernelChoice.cpp): the fixed-size ADX/BMI2 kernels at 8 and 16 limbs, the ADX/BMI2 rows from 17
// limbs, where they beat the portable columns (measured); the portable columns everywhere else. The
// choice depends on the processor, the forced kernel family and the limb count, never on the values.
#include "bignum/MontgomeryInternal.h"

namespace Rsa {

namespace {

#if QARVEX_HAVE_ADX_KERNELS
// From this many limbs on, the row kernel beats the column kernel (measured: clearly for products of
// 16 limbs, for squares only above that, where the column kernel is no longer laid out in full). At 8
// and 16 limbs the fixed-size kernels beat both.
constexpr unsigned RowProductLimbs = 16;
constexpr unsigned RowSquareLimbs = 17;

bool UseAdx() {
  static const bool adx = SelectedMontKernel() != MontKernel::Portable;
  return adx;
}
#endif

}  // namespace

void MontProduct(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) {
#if QARVEX_HAVE_ADX_KERNELS
  if (UseAdx()) {
    if (mod.limbs == 8) return MontDetail::ProductAdx8(r, a, b, mod);
    if (mod.limbs == 16) return MontDetail::ProductAdx16(r, a, b, mod);
    if (mod.limbs >= RowProductLimbs) return MontDetail::ProductAdx(r, a, b, mod, q);
  }
#endif
  MontProductPortable(r, a, b, mod, q);
}

void MontSquare(Limb* r, const Limb* a, const MontModulus& mod, Limb* q) {
#if QARVEX_HAVE_ADX_KERNELS
  if (UseAdx()) {
    if (mod.limbs == 8) return MontDetail::SquareAdx8(r, a, mod, q);
    if (mod.limbs == 16) return MontDetail::SquareAdx16(r, a, mod);
    if (mod.limbs >= RowSquareLimbs) return MontDetail::SquareAdx(r, a, mod, q);
  }
#endif
  MontSquarePortable(r, a, mod, q);
}

}  // namespace Rsa
