// Growable arrays for the core and the gateway.
#ifndef VARNETS_BUFFER_H
#define VARNETS_BUFFER_H

#include <cstddef>
#include <new>
#include <vector>

namespace varnets {

// std::allocator from GCC 11 on calls std::__throw_bad_array_new_length
// (GLIBCXX_3.4.29), which the libstdc++ of older MATLAB releases lacks, so a
// module built with it would not load there. This allocator does the same
// size check itself and calls plain operator new.
template <class T>
struct plain_allocator {
    using value_type = T;
    plain_allocator() = default;
    template <class U>
    plain_allocator(const plain_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p); }

    friend bool operator==(const plain_allocator&, const plain_allocator&) { return true; }
    friend bool operator!=(const plain_allocator&, const plain_allocator&) { return false; }
};

template <class T>
using buffer = std::vector<T, plain_allocator<T>>;

}  // namespace varnets

#endif
