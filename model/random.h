// The program's one random generator: uniform single-precision values in
// [0, 1). It starts from the same state at every program start and is never
// reseeded, so the same commands give the same pictures after every start.
#pragma once

#include <cstdint>

namespace model {

// A 64-bit counter-based generator (SplitMix64); the top 24 bits of each
// output, times 2^-24, give a float in [0, 1) with every value exact.
class RandomGenerator {
public:
    // The generator's whole state; copy it to go back to a position.
    struct State {
        uint64_t counter = kStartState;
        friend bool operator==(const State&, const State&) = default;
    };

    static constexpr uint64_t kStartState = 0x5EED0F2BAD5EEDull;

    float next();
    // Draws and discards count values.
    void skip(uint64_t count);

    State state() const { return state_; }
    void restore(const State& s) { state_ = s; }

private:
    State state_;
};

// The process-wide generator every command draws from.
RandomGenerator& Random();

// Next value of the process-wide generator.
inline float Rnd() { return Random().next(); }

// Puts the process-wide generator back to its start state, as at program
// start. For tests only: the program itself never reseeds.
void ResetRandomForTests();

} // namespace model
