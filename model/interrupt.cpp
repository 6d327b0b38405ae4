#include "model/interrupt.h"

#include "model/errors.h"

namespace model {

namespace {

thread_local InterruptPoll* current = nullptr;

} // namespace

InterruptPoll::InterruptPoll(std::function<bool()> poll)
    : poll_(std::move(poll)), last_(std::chrono::steady_clock::now()), outer_(current)
{
    current = this;
}

InterruptPoll::~InterruptPoll() { current = outer_; }

void CheckInterrupt()
{
    InterruptPoll* p = current;
    if (!p)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - p->last_ < std::chrono::milliseconds(20))
        return;
    p->last_ = now;
    if (p->poll_())
        throw Cancelled();
}

} // namespace model
