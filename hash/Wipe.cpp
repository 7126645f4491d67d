#include <cstring>

#include "hash/HashInternal.h"

namespace Hash::Detail {

namespace {

// The fill routine is reached through a volatile pointer: the compiler must read the pointer afresh at
// each call and cannot know what it calls, so it can drop neither the call nor the stores it makes.
void* (*const volatile FillBytes)(void*, int, std::size_t) = std::memset;

}  // namespace

void Wipe(void* Area, std::size_t Size) {
  if (Size > 0) FillBytes(Area, 0, Size);
}

}  // namespace Hash::Detail
