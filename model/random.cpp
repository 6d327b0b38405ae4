#include "model/random.h"

namespace model {

namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

float RandomGenerator::next()
{
    state_.counter += kGolden;
    // 24 bits fit a float's significand exactly, so the value is < 1.
    return static_cast<float>(mix(state_.counter) >> 40) * 0x1p-24f;
}

void RandomGenerator::skip(uint64_t count)
{
    state_.counter += kGolden * count; // the counter just steps; wrap-around is intended
}

RandomGenerator& Random()
{
    static RandomGenerator generator;
    return generator;
}

void ResetRandomForTests() { Random().restore(RandomGenerator::State{}); }

} // namespace model
