#include "support/ConstantTimeMarks.h"

#include "bignum/Declassify.h"

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#else
#define VALGRIND_MAKE_MEM_UNDEFINED(addr, len) ((void)(addr), (void)(len))
#define VALGRIND_MAKE_MEM_DEFINED(addr, len) ((void)(addr), (void)(len))
#define RUNNING_ON_VALGRIND 0
#endif

namespace Testing::ConstantTime {

bool UnderValgrind() { return RUNNING_ON_VALGRIND != 0; }

void Poison(const void* area, std::size_t size) { VALGRIND_MAKE_MEM_UNDEFINED(area, size); }

void Declassify(const void* area, std::size_t size) { VALGRIND_MAKE_MEM_DEFINED(area, size); }

DeclassifyPoints::DeclassifyPoints() { Rsa::ConstantTime::SetDeclassifyHook(&Declassify); }

DeclassifyPoints::~DeclassifyPoints() { Rsa::ConstantTime::SetDeclassifyHook(nullptr); }

SecretRandom::SecretRandom(std::uint64_t seed) : FEngine(seed), FPrevious(System::SetRandomSource(this)) {}

SecretRandom::~SecretRandom() { System::SetRandomSource(FPrevious); }

std::uint32_t SecretRandom::RandInt(std::int32_t range) {
  std::uint32_t x = static_cast<std::uint32_t>(FEngine());
  if (range > 0) x %= std::uint32_t(range);  // the range is public; the value is marked afterwards
  Poison(&x, sizeof x);
  return x;
}

}  // namespace Testing::ConstantTime
