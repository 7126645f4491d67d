#include "bignum/Declassify.h"

#include <atomic>

namespace Rsa::ConstantTime {

namespace {
std::atomic<DeclassifyHook> gHook{nullptr};
}  // namespace

DeclassifyHook SetDeclassifyHook(DeclassifyHook hook) { return gHook.exchange(hook); }

void DeclassifyArea(const void* area, std::size_t size) {
  if (DeclassifyHook hook = gHook.load(std::memory_order_acquire)) hook(area, size);
}

}  // namespace Rsa::ConstantTime
