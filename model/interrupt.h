// Stopping a long computation on request (Ctrl-C in an interpreter): the
// analyses call CheckInterrupt between small steps of work, on whatever
// thread runs them; whoever can be interrupted requests the stop, from a
// signal handler if need be.
#pragma once

namespace model {

// Asks every running computation to stop at its next check. Safe in a
// signal handler.
void RequestInterrupt();
// Withdraws the request, before a computation that may be interrupted starts
// and once the stop has been reported.
void ClearInterrupt();

// Throws Cancelled when a stop is requested; cheap enough to call once per
// orbit, per Newton search or per row.
void CheckInterrupt();

} // namespace model
