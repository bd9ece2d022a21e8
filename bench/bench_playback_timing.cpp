// Plays whole questions on the real clock into a device that stamps each
// message with the monotonic time it arrived, and prints how late every
// message came against the time the question's timeline planned for it.
//
//   bench_playback_timing [questions=2] [feedback work in ms=0]
//
// The feedback work stands in for the window repainting between chords.

#include "engine/clsEngine.h"
#include "engine/modGeneral.h"
#include "platform/Clock.h"
#include "platform/MidiOutput.h"
#include "platform/SteadyClock.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace sonavel;

namespace {

// Forwards to the real clock and adds up the requested sleeps: the time each
// message would be sent if sending and the feedback took no time at all,
// counted from the start of the question's first sleep, where the real clock
// anchors its timeline.
class PlanningClock : public Clock {
public:
    explicit PlanningClock(SteadyClock& real) : m_real(real) {}
    int64_t NowMicros() override { return m_real.NowMicros(); }
    void SleepMs(int32_t ms) override {
        if (m_originMicros < 0)
            m_originMicros = m_real.NowMicros();
        m_plannedMicros += int64_t(ms) * 1000;
        m_real.SleepMs(ms);
    }
    int64_t PlannedMicros() const { return m_plannedMicros; }
    int64_t OriginMicros() const { return m_originMicros; }
    void StartQuestion() {
        m_plannedMicros = 0;
        m_originMicros = -1;
    }

private:
    SteadyClock& m_real;
    int64_t m_plannedMicros = 0;
    int64_t m_originMicros = -1;
};

class StampingOutput : public MidiOutput {
public:
    struct Sent {
        int64_t PlannedMicros;
        int64_t ActualMicros;
        uint32_t Message;
    };

    explicit StampingOutput(PlanningClock& clock) : m_clock(clock) {}

    std::vector<MidiDeviceInfo> Devices() override { return {{0, "Stamping output"}}; }
    int32_t Open(int32_t, uint32_t& handle) override {
        handle = 1;
        return 0;
    }
    int32_t ShortMsg(uint32_t, uint32_t message) override {
        Sent.push_back({m_clock.PlannedMicros(), m_clock.NowMicros(), message});
        return 0;
    }
    void Close(uint32_t) override {}
    std::string LastError() const override { return {}; }

    std::vector<struct Sent> Sent; // ActualMicros on the clock's own scale

private:
    PlanningClock& m_clock;
};

void SpinFor(int ms, SteadyClock& clock) {
    const int64_t until = clock.NowMicros() + int64_t(ms) * 1000;
    while (clock.NowMicros() < until) {
    }
}

} // namespace

int main(int argc, char** argv) {
    const int questions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    const int feedbackWorkMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;

    SeedRandomNumbersFromClock();
    clsErrorHandler err;
    clsSettings settings;
    settings.MyErr = &err;
    settings.SetCurrentKey(3);
    settings.SetCurrentKeyType(1);
    settings.SetRandomKey(true);
    settings.SetMIDIChannelRN(2);
    settings.SetMIDIInstrumentRN(40);

    SteadyClock real;
    PlanningClock clock(real);
    StampingOutput output(clock);
    clsEngine engine(output, clock);
    engine.SetErrorHandler(&err);
    engine.objSettings = &settings;
    engine.Feedback = [&](int32_t&) { SpinFor(feedbackWorkMs, real); };

    std::printf("%d question(s), tempo %d, cadence, feedback work %d ms\n", questions,
                settings.PlaybackSpeed(), feedbackWorkMs);
    std::vector<double> lateness;
    for (int q = 0; q < questions; ++q) {
        output.Sent.clear();
        clock.StartQuestion();
        try {
            engine.NewQuestion();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "question failed: %s\n%s\n", e.what(), err.ErrorDetails().c_str());
            return 1;
        }
        std::printf("\nquestion %d\n  planned ms   actual ms   late ms   message\n", q + 1);
        for (auto& s : output.Sent) {
            // Messages before the first sleep go out a few microseconds
            // ahead of the origin and show as slightly early.
            s.ActualMicros -= clock.OriginMicros();
            const double late = (s.ActualMicros - s.PlannedMicros) / 1000.0;
            lateness.push_back(late);
            std::printf("  %10.1f  %10.3f  %8.3f   %02X %3u %3u\n", s.PlannedMicros / 1000.0,
                        s.ActualMicros / 1000.0, late, s.Message & 0xFF, (s.Message >> 8) & 0xFF,
                        (s.Message >> 16) & 0xFF);
        }
        // The user answering: time passes without the clock, so the next
        // question starts a timeline of its own.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    std::sort(lateness.begin(), lateness.end());
    const double median = lateness[lateness.size() / 2];
    std::printf("\n%zu messages: lateness median %.3f ms, max %.3f ms (goal: below 2 ms)\n",
                lateness.size(), median, lateness.back());
    return 0;
}
