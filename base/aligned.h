// Byte buffers that start on a page boundary, for reads. The kernel copies a read into
// a buffer several times faster when the buffer's address agrees with the
// file offset in its low bits (as a page-aligned buffer does for reads at
// cluster offsets); what malloc returns for a large block is 16 bytes off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace vt {

template <class T>
struct CPageAlignedAllocator {
  using value_type = T;
  static constexpr std::size_t kAlignment = 4096;
  CPageAlignedAllocator() = default;
  template <class U>
  CPageAlignedAllocator(const CPageAlignedAllocator<U>&) {}
  T* allocate(std::size_t n) {
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kAlignment)));
  }
  void deallocate(T* p, std::size_t) { ::operator delete(p, std::align_val_t(kAlignment)); }
  // Growing leaves the new bytes as they are: they are read into next, and
  // zeroing them would cost as much as the read.
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const CPageAlignedAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const CPageAlignedAllocator<U>&) const {
    return false;
  }
};

using CAlignedBytes = std::vector<uint8_t, CPageAlignedAllocator<uint8_t>>;

}  // namespace vt
