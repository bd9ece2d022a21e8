#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace sonavel::fakes {

// YIN's pitch estimate: the lag where the signal best repeats itself, refined
// between samples by a parabola through the neighbouring lags.
inline double EstimatePitch(const std::vector<float>& signal, size_t start, size_t window,
                            double rate) {
    const size_t maxLag = static_cast<size_t>(rate / 40);
    const size_t minLag = static_cast<size_t>(rate / 2500);
    if (start + window + maxLag + 1 > signal.size())
        return 0;
    std::vector<double> diff(maxLag + 2, 0.0);
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        double sum = 0;
        for (size_t i = 0; i < window; ++i) {
            const double d = signal[start + i] - signal[start + i + lag];
            sum += d * d;
        }
        diff[lag] = sum;
    }
    std::vector<double> normalized(maxLag + 2, 1.0);
    double running = 0;
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        running += diff[lag];
        normalized[lag] = running > 0 ? diff[lag] * static_cast<double>(lag) / running : 1.0;
    }
    size_t best = 0;
    for (size_t lag = minLag; lag <= maxLag; ++lag) {
        if (normalized[lag] < 0.15) {
            while (lag < maxLag && normalized[lag + 1] < normalized[lag])
                ++lag;
            best = lag;
            break;
        }
    }
    if (best == 0)
        best = static_cast<size_t>(
            std::min_element(normalized.begin() + minLag, normalized.begin() + maxLag + 1) -
            normalized.begin());
    const double a = normalized[best - 1];
    const double b = normalized[best];
    const double c = normalized[best + 1];
    const double denominator = a - 2 * b + c;
    const double shift = denominator != 0 ? 0.5 * (a - c) / denominator : 0;
    return rate / (static_cast<double>(best) + shift);
}

inline double Cents(double frequency, double reference) {
    return 1200 * std::log2(frequency / reference);
}

} // namespace sonavel::fakes
