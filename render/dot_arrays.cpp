#include "render/dot_arrays.h"

#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace render {

namespace {

constexpr std::size_t kPage = std::size_t{2} << 20;
// Below this an array takes ordinary memory: the rounding up to whole large
// pages would waste too much of it.
constexpr std::size_t kLarge = 4 * kPage;

} // namespace

void* AllocateDotArray(std::size_t bytes)
{
    if (bytes < kLarge)
        return ::operator new(bytes);
    const std::size_t size = (bytes + kPage - 1) / kPage * kPage;
    void* p = std::aligned_alloc(kPage, size);
    if (!p)
        throw std::bad_alloc();
    madvise(p, size, MADV_HUGEPAGE); // a request: refused where not offered, which is harmless
    return p;
}

void FreeDotArray(void* p, std::size_t bytes) noexcept
{
    if (bytes < kLarge)
        ::operator delete(p);
    else
        std::free(p);
}

} // namespace render
