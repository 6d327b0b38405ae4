// Arrays with one entry per dot of a plane, which at 800 x 800 dots run to
// tens of megabytes, first touched by the analyses that fill them. Such an
// array is placed on 2 MiB boundaries and offered to the kernel for 2 MiB
// pages (transparent huge pages, where the system grants them on request):
// its first touches then cost a few dozen page faults rather than ten
// thousand. Smaller arrays, and systems without such pages, take ordinary
// memory; nothing else changes.
#pragma once

#include <cstddef>
#include <vector>

namespace render {

void* AllocateDotArray(std::size_t bytes);
void FreeDotArray(void* p, std::size_t bytes) noexcept;

template <class T>
struct DotArrayAllocator {
    using value_type = T;
    DotArrayAllocator() = default;
    template <class U>
    DotArrayAllocator(const DotArrayAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n) { return static_cast<T*>(AllocateDotArray(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { FreeDotArray(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const DotArrayAllocator<U>&) const noexcept
    {
        return true;
    }
};

template <class T>
using DotArray = std::vector<T, DotArrayAllocator<T>>;

} // namespace render
