// A growable byte buffer whose resize() leaves new bytes as they are
// instead of zero-filling them: a file read straight into it is written
// once, not twice.
#ifndef MODREG_PLATFORM_BYTES_H_
#define MODREG_PLATFORM_BYTES_H_

#include <memory>
#include <new>
#include <vector>

// std::allocator, except that a value constructed with no arguments is
// default-initialised: for char, left as it is. With arguments,
// std::allocator_traits constructs it as std::allocator would.
template <class T>
struct NoInitAllocator : std::allocator<T> {
  using std::allocator<T>::allocator;
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
};

using ByteBuffer = std::vector<char, NoInitAllocator<char>>;

// Resizes |buffer| to |size| bytes; a size beyond what the address space
// can hold is out of memory (std::bad_alloc), like any failed allocation.
inline void ResizeBuffer(ByteBuffer* buffer, unsigned long long size) {
  if (size > buffer->max_size()) throw std::bad_alloc();
  buffer->resize(static_cast<size_t>(size));
}

#endif  // MODREG_PLATFORM_BYTES_H_
