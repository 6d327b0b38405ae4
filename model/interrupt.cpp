#include "model/interrupt.h"

#include "model/errors.h"

#include <atomic>

namespace model {

namespace {

std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace

void RequestInterrupt() { requested.store(true, std::memory_order_relaxed); }

void ClearInterrupt() { requested.store(false, std::memory_order_relaxed); }

void CheckInterrupt()
{
    if (requested.load(std::memory_order_relaxed))
        throw Cancelled();
}

} // namespace model
