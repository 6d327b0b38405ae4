// The plain one-dot-at-a-time loops the tests compare whole pictures with,
// now in their own small library (reference/), which the benchmarks use too.
#pragma once

#include "reference/plain_loops.h"
