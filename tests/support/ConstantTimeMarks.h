// The one constant-time harness of the tests: secret marks for valgrind memcheck. Under memcheck
// (scripts/ct-check, CTest label constant-time), a region marked secret is undefined memory: every
// conditional jump and every memory address computed from it is reported. Values that are public by
// design are marked public again, by the test (results handed to the caller) or by the component's own
// Declassify points, which this harness connects to memcheck. Outside valgrind every mark does nothing,
// and the tests are ordinary functional tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "host/core/Random.h"

namespace Testing::ConstantTime {

// True when running under valgrind.
bool UnderValgrind();
// Marks size bytes at area as secret.
void Poison(const void* area, std::size_t size);
// Marks size bytes at area as public.
void Declassify(const void* area, std::size_t size);
template <typename T>
void DeclassifyValue(const T& x) { Declassify(&x, sizeof x); }

// Connects the component's Declassify points to memcheck while it lives.
class DeclassifyPoints {
 public:
  DeclassifyPoints();
  ~DeclassifyPoints();
  DeclassifyPoints(const DeclassifyPoints&) = delete;
  DeclassifyPoints& operator=(const DeclassifyPoints&) = delete;
};

// A seeded random source (installed while it lives) whose every value is secret: key generation's
// draws then carry the mark into everything computed from them.
class SecretRandom : public System::TRandomSource {
 public:
  explicit SecretRandom(std::uint64_t seed);
  ~SecretRandom() override;
  SecretRandom(const SecretRandom&) = delete;
  SecretRandom& operator=(const SecretRandom&) = delete;
  std::uint32_t RandInt(std::int32_t range) override;
  void Randomize() override {}

 private:
  std::mt19937_64 FEngine;
  System::TRandomSource* FPrevious;
};

}  // namespace Testing::ConstantTime
