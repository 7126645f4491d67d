// The process-wide pseudo-random generator of the host.
//
// The system's own source draws from the operating system's entropy (getrandom), buffered so that
// thousands of draws stay cheap. It is safe to draw from several threads at once; no two draws ever
// return the same buffered bytes. Tests may install a deterministic source to script and count draws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace System {

// RandInt(range): a value below range for a positive range (range 256 gives one random byte); for a
// range of 0 or less (the component passes -1) a full 32-bit value, used whole as one digit.
std::uint32_t RandInt(std::int32_t range);
// RandBytes(out, count): count random bytes, each what RandInt(256) gives. The system's source takes
// its lock once for all of them (padding blocks draw hundreds at a time); a replacement source is asked
// once per byte, so scripted draws and their counts are those of count RandInt(256) calls.
void RandBytes(unsigned char* out, std::size_t count);
// Reseeds the generator: the system's source discards its buffered bytes.
void Randomize();

// A replacement source, for tests.
class TRandomSource {
 public:
  virtual ~TRandomSource() = default;
  virtual std::uint32_t RandInt(std::int32_t range) = 0;
  virtual void Randomize() = 0;
};

// Installs a source (null restores the system's own) and returns the one it replaces (null for the
// system's own). The caller keeps ownership and must restore before the source is destroyed.
TRandomSource* SetRandomSource(TRandomSource* source);

}  // namespace System
