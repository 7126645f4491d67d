// The tool's heap wipes every block it takes back: whatever a freed block held (a key text, a session
// key in hex, decrypted data, a string that grew and moved) is overwritten before the memory is reused
// or the process ends, so no copy of a secret lives on in freed memory. Every operator delete of the
// program is replaced, and operator new with it, so that both sides are malloc and free (a sanitizer
// would take free() of a block from the library's operator new for a mismatch).
// Wiping costs about as much as copying the block once, small beside what the tool does with it.
#include <malloc.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// malloc, or aligned_alloc for an alignment beyond malloc's, with the new-handler loop operator new has.
void* Allocate(std::size_t size, std::size_t alignment) noexcept {
  if (size == 0) size = 1;
  for (;;) {
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
      block = std::malloc(size);
    } else {
      block = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    }
    if (block != nullptr) return block;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) return nullptr;
    handler();
  }
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* block = Allocate(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void WipeAndFree(void* block) noexcept {
  if (block == nullptr) return;
  explicit_bzero(block, malloc_usable_size(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size, 0); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, std::size_t(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return Allocate(size, std::size_t(a)); }

void operator delete(void* block) noexcept { WipeAndFree(block); }
void operator delete[](void* block) noexcept { WipeAndFree(block); }
void operator delete(void* block, std::size_t) noexcept { WipeAndFree(block); }
void operator delete[](void* block, std::size_t) noexcept { WipeAndFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { WipeAndFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { WipeAndFree(block); }
void operator delete(void* block, std::align_val_t) noexcept { WipeAndFree(block); }
void operator delete[](void* block, std::align_val_t) noexcept { WipeAndFree(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { WipeAndFree(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { WipeAndFree(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { WipeAndFree(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { WipeAndFree(block); }
