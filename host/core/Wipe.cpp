// Wiping memory that held secrets.
#include <cstring>

#include "host/core/System.h"

namespace System {

namespace {

// Reached through a volatile pointer: the compiler must load it at each call and cannot know what it
// calls, so neither the call nor its stores can be dropped, even into memory that dies right after.
void* (*const volatile FillBytes)(void*, int, std::size_t) = std::memset;

}  // namespace

void WipeBytes(void* area, std::size_t count) noexcept {
  if (count > 0) FillBytes(area, 0, count);
}

}  // namespace System
