// Stopping a long computation on request (Ctrl-C in an interpreter): the
// analyses call CheckInterrupt between small steps of work; a caller that can
// be interrupted installs a poll for as long as it computes.
#pragma once

#include <chrono>
#include <functional>

namespace model {

// While it lives, CheckInterrupt on this thread calls poll every 20 ms at
// most, and throws Cancelled once poll says to stop. Other threads' checks
// do nothing: a parallel loop that this thread takes part in is cancelled
// through this thread's throw.
class InterruptPoll {
public:
    explicit InterruptPoll(std::function<bool()> poll);
    ~InterruptPoll();
    InterruptPoll(const InterruptPoll&) = delete;
    InterruptPoll& operator=(const InterruptPoll&) = delete;

private:
    friend void CheckInterrupt();
    std::function<bool()> poll_;
    std::chrono::steady_clock::time_point last_;
    InterruptPoll* outer_; // the poll this one hides until it ends
};

// Throws Cancelled when the poll of this thread asks to stop; cheap enough
// to call once per orbit, per Newton search or per row.
void CheckInterrupt();

} // namespace model
