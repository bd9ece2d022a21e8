#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

namespace sonavel::soundtest {

inline uint32_t Pack(int status, int data1, int data2) {
    return static_cast<uint32_t>(status | (data1 << 8) | (data2 << 16));
}

// Real time, for the drivers' own threads: up to 10 s.
template <typename Condition> bool WaitFor(Condition condition) {
    for (int i = 0; i < 1000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

inline float Peak(const std::vector<float>& sound, size_t from = 0) {
    float peak = 0;
    for (size_t i = from; i < sound.size(); ++i)
        peak = std::max(peak, std::fabs(sound[i]));
    return peak;
}

// YIN's pitch estimate, in cents from hertz, of window samples from start: the
// first lag where the signal repeats itself well (the cumulative mean
// normalized difference dips under 0.15, else the best lag), refined between
// samples by a parabola. Far off when the signal is too short.
inline double CentsFrom(double hertz, const std::vector<float>& signal, size_t start, size_t window,
                        double rate) {
    const size_t maxLag = static_cast<size_t>(rate / 40), minLag = static_cast<size_t>(rate / 2500);
    if (start + window + maxLag + 1 > signal.size())
        return 1e9;
    std::vector<double> d(maxLag + 2, 1.0);
    double running = 0;
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        double sum = 0;
        for (size_t i = start; i < start + window; ++i)
            sum += (signal[i] - signal[i + lag]) * (signal[i] - signal[i + lag]);
        running += sum;
        d[lag] = running > 0 ? sum * static_cast<double>(lag) / running : 1.0;
    }
    size_t best = std::min_element(d.begin() + minLag, d.begin() + maxLag + 1) - d.begin();
    for (size_t lag = minLag; lag <= maxLag; ++lag)
        if (d[lag] < 0.15) {
            for (best = lag; best < maxLag && d[best + 1] < d[best];)
                ++best;
            break;
        }
    const double curve = d[best - 1] - 2 * d[best] + d[best + 1];
    const double shift = curve != 0 ? 0.5 * (d[best - 1] - d[best + 1]) / curve : 0;
    return 1200 * std::log2(rate / (static_cast<double>(best) + shift) / hertz);
}

} // namespace sonavel::soundtest
