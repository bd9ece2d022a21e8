#include "engine/modGeneral.h"

#include "startup/clsErrorHandler.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

namespace sonavel {

namespace {

struct Generator {
    std::mt19937 engine;
    bool seeded = false;
};

Generator& TheGenerator() {
    static Generator generator;
    return generator;
}

uint32_t SeedFromClock() {
    const auto wall = std::chrono::system_clock::now().time_since_epoch().count();
    const auto mono = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto mixed = static_cast<uint64_t>(wall) ^ (static_cast<uint64_t>(mono) << 1);
    return static_cast<uint32_t>(mixed ^ (mixed >> 32));
}

// 24 random bits scaled by 2^-24: every value is exact in single precision and
// the largest is 1 - 2^-24, so r is never 1.
float NextFraction() {
    Generator& g = TheGenerator();
    if (!g.seeded)
        SeedRandomNumbersFromClock();
    return static_cast<float>(g.engine() >> 8) * 0x1p-24f;
}

} // namespace

void SeedRandomNumbers(uint32_t seed) {
    Generator& g = TheGenerator();
    g.engine.seed(seed);
    g.seeded = true;
}

void SeedRandomNumbersFromClock() {
    SeedRandomNumbers(SeedFromClock());
}

int16_t ScaleRandomFraction(float r, int16_t lower, int16_t upper) {
    const int32_t span = int32_t(upper) - int32_t(lower) + 1;
    if (span > std::numeric_limits<int16_t>::max() || span < std::numeric_limits<int16_t>::min())
        throw std::overflow_error("random range " + std::to_string(lower) + ".." +
                                  std::to_string(upper) + " does not fit 16 bits");
    const float scaled = static_cast<float>(span) * r + static_cast<float>(lower);
    int32_t value = static_cast<int32_t>(std::floor(scaled));
    // Adding lower can round a product just below span up to upper + 1.
    if (span > 0 && value > upper)
        value = upper;
    return static_cast<int16_t>(value);
}

int16_t GetRandomNumber(int16_t lower, int16_t upper) {
    return ScaleRandomFraction(NextFraction(), lower, upper);
}

void PassOnFailure(clsErrorHandler* handler, const std::string& src, std::exception_ptr failure) {
    if (handler)
        handler->Rethrow(src, failure);
    std::rethrow_exception(failure);
}

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

} // namespace sonavel
