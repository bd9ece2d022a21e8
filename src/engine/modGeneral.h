#pragma once

#include <cstdint>

namespace sonavel {

// Uniform random integer in [lower, upper], both ends included, from the one
// generator of the program.
int16_t GetRandomNumber(int16_t lower, int16_t upper);
// Seeds that generator: from the clock at start-up, with a fixed value in tests.
void SeedRandomNumbers(uint32_t seed);
void SeedRandomNumbersFromClock();

} // namespace sonavel
