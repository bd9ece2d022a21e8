#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace sonavel {

class clsErrorHandler;

// Uniform random integer in [lower, upper], both ends included, from the one
// generator of the program. An upper - lower + 1 outside 16 bits is an
// overflow error.
int16_t GetRandomNumber(int16_t lower, int16_t upper);
// Seeds that generator: from the clock at start-up, with a fixed value in tests.
// A generator nobody seeded seeds itself from the clock on its first draw.
void SeedRandomNumbers(uint32_t seed);
void SeedRandomNumbersFromClock();

// The mapping behind GetRandomNumber for a given single-precision fraction r in
// [0, 1): floor((upper - lower + 1) * r + lower), never above upper.
int16_t ScaleRandomFraction(float r, int16_t lower, int16_t upper);

// The failure path of a called procedure: records the failure in flight under
// src and throws the internal error, or, with no handler to record it, passes
// the failure on unchanged.
[[noreturn]] void PassOnFailure(clsErrorHandler* handler, const std::string& src,
                                std::exception_ptr failure);

// Rounds to the nearest integer, an exact half to the even neighbour, whatever
// the floating-point rounding mode.
double RoundHalfEven(double value);

} // namespace sonavel
