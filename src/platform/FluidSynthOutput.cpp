#include "platform/FluidSynthOutput.h"

#include "platform/FluidLogCapture.h"
#include "platform/SteadyClock.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fluidsynth.h>
#include <set>

namespace sonavel {

namespace fs = std::filesystem;

namespace {

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty())
            text += separator;
        text += item;
    }
    return text;
}

bool IsSoundFontFile(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".sf2" || extension == ".sf3";
}

} // namespace

FluidSynthOutput::FluidSynthOutput() : FluidSynthOutput(Options{}) {}

FluidSynthOutput::FluidSynthOutput(Options options) : m_options(std::move(options)) {
    m_play = [this](uint32_t message, int64_t frame) {
        if (frame < 0)
            m_engine->Send(message);
        else
            m_engine->SendAt(message, frame);
    };
    // Without this, trying FluidSynth's JACK driver starts a JACK server of its
    // own, which takes seconds and may seize the sound card from the desktop.
    setenv("JACK_NO_START_SERVER", "1", 0);
    if (!m_options.TraceFile.empty())
        m_trace = std::fopen(m_options.TraceFile.c_str(), "a");
}

FluidSynthOutput::~FluidSynthOutput() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_idleWake.notify_all();
    if (m_idleWatch.joinable())
        m_idleWatch.join();
    Stop();
    if (m_trace != nullptr)
        std::fclose(m_trace);
}

std::string FluidSynthOutput::TraceFileFromEnvironment() {
    const char* path = std::getenv("SONAVEL_TRACE_MIDI");
    return path != nullptr ? path : "";
}

bool FluidSynthOutput::Load() {
    std::lock_guard lock(m_mutex);
    return LoadLocked();
}

bool FluidSynthOutput::Prepare() {
    std::lock_guard lock(m_mutex);
    if (!LoadLocked())
        return false;
    const std::vector<std::string>& outputs = m_options.AudioDrivers;
    if (m_driverName.empty() && !outputs.empty() && outputs.front() == StreamDriver) {
        // Not reported: Start tries again, and says why it fails.
        std::string reason;
        ConnectStreamLocked(reason);
    }
    return true;
}

bool FluidSynthOutput::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_engine != nullptr;
}

bool FluidSynthOutput::LoadLocked() {
    if (m_engine)
        return true;
    const std::vector<std::string> candidates = FindSoundFonts();
    if (candidates.empty()) {
        m_lastError = "No SoundFont was found for the built-in synthesizer. Searched " +
                      SearchedPlaces() +
                      ". Install a General MIDI SoundFont such as the package fluid-soundfont-gm.";
        return false;
    }
    std::unique_ptr<FluidSynthEngine> engine;
    try {
        engine = std::make_unique<FluidSynthEngine>(m_options.Engine);
    } catch (const std::exception& e) {
        m_lastError = e.what();
        return false;
    }
    std::vector<std::string> failures;
    for (const std::string& path : candidates) {
        std::string error;
        if (engine->LoadSoundFont(path, error)) {
            m_engine = std::move(engine);
            return true;
        }
        failures.push_back(path + " (" + error + ")");
    }
    m_lastError = "No SoundFont could be loaded for the built-in synthesizer. Tried " +
                  Join(failures, ", ") + ".";
    return false;
}

bool FluidSynthOutput::Start() {
    std::lock_guard lock(m_mutex);
    if (!LoadLocked())
        return false;
    if (m_driver != nullptr || (m_stream && !m_stream->IsPaused() && !m_stream->HasFailed()))
        return true;
    return StartDriverLocked();
}

bool FluidSynthOutput::StartDriverLocked() {
    if (m_stream && m_stream->HasFailed())
        DeleteDriverLocked(); // the sound server went away: connect again
    if (!m_stream) {
        if (m_options.AudioDrivers.empty()) {
            m_lastError = "No audio output is set up for the built-in synthesizer.";
            return false;
        }
        if (!m_options.AudioFile.empty())
            fluid_settings_setstr(m_engine->FluidSettings(), "audio.file.name",
                                  m_options.AudioFile.c_str());
        std::vector<std::string> tried;
        for (const std::string& name : m_options.AudioDrivers) {
            std::string reason;
            if (name == StreamDriver ? ConnectStreamLocked(reason) : OpenDriverLocked(name, reason))
                break;
            tried.push_back(reason.empty() ? name : name + " (" + reason + ")");
        }
        if (m_driverName.empty()) {
            m_lastError = "No audio output could be opened for the built-in synthesizer. Tried " +
                          Join(tried, ", ") + ".";
            return false;
        }
    }
    if (m_stream) {
        // A new run of the stream's clock, from its first request on. What
        // may be rendered ahead is the largest request of the run before: one
        // late request only costs the next run.
        m_delayFrames =
            DelayBeyond(std::max(m_stream->RequestFrames(), m_stream->LargestRequestFrames()),
                        m_options.StreamJitterAllowanceMs);
        m_timeline->Restart(m_delayFrames);
        m_stream->Resume();
    }
    m_suspended = false;
    m_lastActivity = SteadyClock::MonotonicNanos();
    m_runStart = m_lastActivity;
    if (IdleStopMsLocked() > 0 && !m_idleWatch.joinable())
        m_idleWatch = std::thread([this] { WatchIdle(); });
    m_idleWake.notify_all();
    return true;
}

bool FluidSynthOutput::ConnectStreamLocked(std::string& reason) {
    const double rate = m_engine->SampleRate();
    PulseStream::Options options;
    options.SampleRate = rate;
    options.BufferFrames = m_options.StreamBufferFrames;
    options.MaxBufferFrames = m_options.StreamMaxBufferFrames;
    options.Busy = m_options.Busy;
    options.OnGrown = [this](int frames) {
        TraceNote("stream buffer +" + std::to_string(frames) + " frames after an underrun");
    };
    options.OnPriority = [this](const std::string& got) { TraceNote("render thread: " + got); };
    options.OnBusyStart = [this](const std::string& why) {
        TraceNote("largest stream buffer: " + why);
    };
    std::unique_ptr<PulseStream> stream = PulseStream::Open(
        options, [this](float* out, int frames) { RenderStream(out, frames); }, reason);
    if (!stream)
        return false;
    // After a resume the server asks for a whole buffer at once, then for
    // one request at a time at a steady pace: the line starts at the second.
    const double allowance = m_options.StreamJitterAllowanceMs;
    m_timeline = std::make_unique<StreamTimeline>(rate, std::llround(allowance * 1e6),
                                                  SampleClock::Settling{0, 1, true});
    m_timed = true;
    m_stream = std::move(stream);
    m_driverName = StreamDriver;
    return true;
}

bool FluidSynthOutput::OpenDriverLocked(const std::string& name, std::string& reason) {
    fluid_settings_t* settings = m_engine->FluidSettings();
    const double rate = m_engine->SampleRate();
    m_timeline = std::make_unique<StreamTimeline>(
        rate, std::llround(m_options.JitterAllowanceMs * 1e6),
        SampleClock::Settling{std::llround(m_options.WarmUpMs * 1e6)});
    // The driver renders a period ahead.
    int periodSize = 0;
    fluid_settings_getint(settings, "audio.period-size", &periodSize);
    m_delayFrames = DelayBeyond(periodSize, m_options.JitterAllowanceMs);
    m_timeline->Restart(m_delayFrames);
    FluidLogCapture log;
    fluid_settings_setstr(settings, "audio.driver", name.c_str());
    // A driver that calls back lets messages go on the sample clock; the
    // others (the file driver) render on their own and play messages at once.
    m_driver = new_fluid_audio_driver2(settings, &FluidSynthOutput::Render, this);
    m_timed = m_driver != nullptr;
    if (m_driver == nullptr)
        m_driver = new_fluid_audio_driver(settings, m_engine->Synth());
    if (m_driver != nullptr) {
        m_driverName = name;
        return true;
    }
    reason = log.Take();
    return false;
}

int64_t FluidSynthOutput::DelayBeyond(int64_t renderedAhead, double allowanceMs) const {
    return renderedAhead + std::llround(allowanceMs * m_engine->SampleRate() / 1000) +
           FluidSynthEngine::BlockFrames;
}

int FluidSynthOutput::Render(void* data, int frames, int effectCount, float* effects[],
                             int outCount, float* out[]) {
    auto* self = static_cast<FluidSynthOutput*>(data);
    FluidSynthEngine& engine = *self->m_engine;
    self->m_timeline->Observe(SteadyClock::MonotonicNanos(), engine.RenderedFrames(), frames,
                              self->m_play);
    return engine.Process(frames, effectCount, effects, outCount, out);
}

void FluidSynthOutput::RenderStream(float* out, int frames) {
    if (m_options.BeforeRender)
        m_options.BeforeRender();
    m_timeline->Observe(SteadyClock::MonotonicNanos(), m_engine->RenderedFrames(), frames, m_play);
    m_engine->RenderInterleaved(out, frames);
}

void FluidSynthOutput::DeleteDriverLocked() {
    // Each joins its audio thread, which never takes m_mutex.
    if (m_driver != nullptr)
        delete_fluid_audio_driver(m_driver);
    m_driver = nullptr;
    m_stream.reset();
    m_driverName.clear();
    // What is still held goes to the engine, so that its state (a channel's
    // program, a note's end) is as sent.
    if (m_timed)
        m_timeline->Release(m_play);
}

void FluidSynthOutput::SuspendLocked() {
    if (m_stream) {
        m_stream->Pause();
        m_timeline->Release(m_play);
    } else {
        DeleteDriverLocked();
    }
    m_suspended = true;
}

bool FluidSynthOutput::FeedingLocked() const {
    return m_driver != nullptr || (m_stream && !m_stream->IsPaused());
}

void FluidSynthOutput::Stop() {
    std::lock_guard lock(m_mutex);
    m_suspended = false;
    m_holding = false;
    if (m_driver == nullptr && !m_stream)
        return;
    DeleteDriverLocked();
    // A note left sounding or still to come would otherwise sound at the next open.
    m_engine->DropScheduled();
    m_engine->SoundsOff();
}

void FluidSynthOutput::WatchIdle() {
    using std::chrono::nanoseconds;
    using std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        const int64_t idle = int64_t{IdleStopMsLocked()} * 1'000'000;
        if (!FeedingLocked() || m_holding || idle <= 0) {
            m_idleWake.wait(lock);
            continue;
        }
        const int64_t now = SteadyClock::MonotonicNanos();
        const int64_t due = m_lastActivity + idle;
        if (now < due) {
            // steady_clock is CLOCK_MONOTONIC, the clock of the stamps.
            m_idleWake.wait_until(lock, steady_clock::time_point(nanoseconds(due)));
            continue;
        }
        if (m_engine->ActiveVoices() > 0) {
            // A held note or a long release: look again a little later.
            m_lastActivity = now - idle + idle / 20;
            continue;
        }
        SuspendLocked();
    }
}

int FluidSynthOutput::IdleStopMsLocked() const {
    return m_stream ? m_options.StreamIdleStopMs : m_options.IdleStopMs;
}

void FluidSynthOutput::Hold(bool held) {
    {
        std::lock_guard lock(m_mutex);
        m_holding = held;
        m_lastActivity = SteadyClock::MonotonicNanos();
    }
    m_idleWake.notify_all();
}

bool FluidSynthOutput::IsRunning() const {
    std::lock_guard lock(m_mutex);
    return FeedingLocked();
}

bool FluidSynthOutput::IsSuspended() const {
    std::lock_guard lock(m_mutex);
    return m_suspended;
}

std::string FluidSynthOutput::DriverName() const {
    std::lock_guard lock(m_mutex);
    return m_driverName;
}

int64_t FluidSynthOutput::DelayFrames() const {
    std::lock_guard lock(m_mutex);
    if (!FeedingLocked() || !m_timed)
        return 0;
    return m_delayFrames + m_timeline->ExtraFrames();
}

bool FluidSynthOutput::Send(uint32_t message, int64_t dueNanos) {
    const int64_t arrival = SteadyClock::MonotonicNanos();
    const int64_t due = dueNanos > 0 ? std::min(dueNanos, arrival) : arrival;
    Trace(arrival, message, due);
    std::lock_guard lock(m_mutex);
    if (!m_engine)
        return true;
    m_lastActivity = arrival;
    if (m_stream && m_stream->HasFailed() && !m_suspended) {
        // Lost while it played: the sender is told, and closes the device,
        // rather than hear nothing while every audio output is tried again at
        // each message. Lost while idle, the wake below connects again.
        m_lastError =
            "The built-in synthesizer has lost its sound: " + m_stream->FailureReason() + ".";
        return false;
    }
    if (m_suspended && !StartDriverLocked())
        return false;
    if (!FeedingLocked() || !m_timed) {
        m_engine->Send(message);
        return true;
    }
    if (!m_timeline->IsSettled() && arrival - m_runStart > int64_t{m_options.StallMs} * 1'000'000)
        m_timeline->Release(m_play);
    m_timeline->Place(due, message, m_play);
    return true;
}

bool FluidSynthOutput::HasFailed() const {
    std::lock_guard lock(m_mutex);
    return m_stream && m_stream->HasFailed();
}

void FluidSynthOutput::Trace(int64_t nanos, uint32_t message, int64_t due) {
    if (m_trace == nullptr)
        return;
    std::lock_guard lock(m_traceMutex);
    std::fprintf(m_trace, "%" PRId64 " %06" PRIx32 " %" PRId64 "\n", nanos, message, due);
    std::fflush(m_trace);
}

void FluidSynthOutput::TraceNote(const std::string& text) {
    if (m_trace == nullptr)
        return;
    std::lock_guard lock(m_traceMutex);
    std::fprintf(m_trace, "# %s\n", text.c_str());
    std::fflush(m_trace);
}

std::string FluidSynthOutput::Name() const {
    std::string path;
    if (FluidSynthEngine* engine = Engine()) {
        path = engine->SoundFontPath();
    } else {
        const std::vector<std::string> candidates = FindSoundFonts();
        if (!candidates.empty())
            path = candidates.front();
    }
    if (path.empty())
        return "Built-in synthesizer (no SoundFont found)";
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return "Built-in synthesizer (" + (ec ? fs::path(path) : real).stem().string() + ")";
}

std::string FluidSynthOutput::LastError() const {
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

std::vector<std::string> FluidSynthOutput::FindSoundFonts() const {
    std::vector<std::string> found;
    std::set<fs::path> seen;
    const auto add = [&](const fs::path& path) {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) // follows links; a dangling one is skipped
            return;
        const fs::path real = fs::canonical(path, ec);
        if (seen.insert(ec ? path : real).second)
            found.push_back(path.string());
    };
    for (const std::string& file : m_options.SoundFontFiles)
        add(file);
    for (const std::string& name : m_options.SoundFontNames)
        for (const std::string& folder : m_options.SoundFontFolders)
            add(fs::path(folder) / name);
    for (const std::string& folder : m_options.SoundFontFolders) {
        std::vector<fs::path> inFolder;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (IsSoundFontFile(it->path()))
                inFolder.push_back(it->path());
        std::sort(inFolder.begin(), inFolder.end());
        for (const fs::path& path : inFolder)
            add(path);
    }
    return found;
}

FluidSynthEngine* FluidSynthOutput::Engine() const {
    std::lock_guard lock(m_mutex);
    return m_engine.get();
}

std::string FluidSynthOutput::SearchedPlaces() const {
    std::vector<std::string> places = m_options.SoundFontFiles;
    for (const std::string& folder : m_options.SoundFontFolders)
        places.push_back(folder + "/");
    return places.empty() ? "nowhere" : Join(places, ", ");
}

} // namespace sonavel
