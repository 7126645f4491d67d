// The one place that decides which Montgomery kernels this process uses: the best the processor offers,
// unless the environment variable QARVEX_KERNEL forces a family (for tests and benchmarks). A forced
// family that the processor or the build lacks falls back to the best available one.
#include <cstdlib>
#include <cstring>

#include "bignum/MontgomeryIfma.h"
#include "bignum/MontgomeryInternal.h"

namespace Rsa {

namespace {

bool AdxAvailable() {
#if QARVEX_HAVE_ADX_KERNELS
  static const bool available = MontDetail::ProcessorHasAdx();
  return available;
#else
  return false;
#endif
}

// The IFMA family runs the scalar products on the ADX kernels, so it needs both (every processor with
// IFMA has ADX).
bool IfmaUsable() { return IfmaAvailable() && AdxAvailable(); }

MontKernel BestAvailable() {
  if (IfmaUsable()) return MontKernel::Ifma;
  return AdxAvailable() ? MontKernel::Adx : MontKernel::Portable;
}

MontKernel ChooseKernel() {
  const char* forced = std::getenv("QARVEX_KERNEL");
  if (forced != nullptr) {
    if (std::strcmp(forced, "portable") == 0) return MontKernel::Portable;
    if (std::strcmp(forced, "adx") == 0 && AdxAvailable()) return MontKernel::Adx;
    if (std::strcmp(forced, "ifma") == 0 && IfmaUsable()) return MontKernel::Ifma;
  }
  return BestAvailable();
}

}  // namespace

MontKernel SelectedMontKernel() {
  static const MontKernel kernel = ChooseKernel();
  return kernel;
}

}  // namespace Rsa
