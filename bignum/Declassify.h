// Marks for values that are public by design although they were computed from secrets: the outcome of
// a check that the caller acts on openly (a candidate is prime or not, an exponent candidate is
// coprime or not), a length fixed by the key size. Code that works on secrets passes such a value
// through Declassify before it branches on it, which documents the decision at the place it is made.
//
// In a normal run Declassify does nothing. A constant-time checker (valgrind memcheck, with the secrets
// marked undefined) installs a hook that marks the value defined, so only undeclared dependencies on
// secrets are reported.
#pragma once

#include <cstddef>

namespace Rsa::ConstantTime {

using DeclassifyHook = void (*)(const void* area, std::size_t size);

// Installs the hook (null: none) and returns the previous one. Meant for test programs, set once before
// any work starts.
DeclassifyHook SetDeclassifyHook(DeclassifyHook hook);

// Marks size bytes at area as public.
void DeclassifyArea(const void* area, std::size_t size);

// Returns x, marked as public.
template <typename T>
T Declassify(T x) {
  DeclassifyArea(&x, sizeof x);
  return x;
}

}  // namespace Rsa::ConstantTime
