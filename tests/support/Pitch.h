#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace sonavel::fakes {

// YIN's pitch estimate, in Hz, of window samples from start: the first lag
// where the signal repeats itself well (the cumulative mean normalized
// difference dips under 0.15, else the best lag), refined between samples by
// a parabola. 0 when the signal is too short.
inline double EstimatePitch(const std::vector<float>& signal, size_t start, size_t window,
                            double rate) {
    const size_t maxLag = static_cast<size_t>(rate / 40);
    const size_t minLag = static_cast<size_t>(rate / 2500);
    if (start + window + maxLag + 1 > signal.size())
        return 0;
    std::vector<double> d(maxLag + 2, 1.0);
    double running = 0;
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        double sum = 0;
        for (size_t i = start; i < start + window; ++i)
            sum += (signal[i] - signal[i + lag]) * (signal[i] - signal[i + lag]);
        running += sum;
        d[lag] = running > 0 ? sum * static_cast<double>(lag) / running : 1.0;
    }
    size_t best = static_cast<size_t>(std::min_element(d.begin() + minLag, d.begin() + maxLag + 1) -
                                      d.begin());
    for (size_t lag = minLag; lag <= maxLag; ++lag)
        if (d[lag] < 0.15) {
            for (best = lag; best < maxLag && d[best + 1] < d[best];)
                ++best;
            break;
        }
    const double curve = d[best - 1] - 2 * d[best] + d[best + 1];
    const double shift = curve != 0 ? 0.5 * (d[best - 1] - d[best + 1]) / curve : 0;
    return rate / (static_cast<double>(best) + shift);
}

inline double Cents(double frequency, double reference) {
    return 1200 * std::log2(frequency / reference);
}

} // namespace sonavel::fakes
