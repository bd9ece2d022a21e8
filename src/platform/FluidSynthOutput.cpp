#include "platform/FluidSynthOutput.h"

#include "platform/FluidLogCapture.h"

#include <algorithm>
#include <cctype>
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
    // Without this, trying FluidSynth's JACK driver starts a JACK server of its
    // own, which takes seconds and may seize the sound card from the desktop.
    setenv("JACK_NO_START_SERVER", "1", 0);
}

FluidSynthOutput::~FluidSynthOutput() {
    Stop();
}

bool FluidSynthOutput::Load() {
    std::lock_guard lock(m_mutex);
    return LoadLocked();
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
    if (m_driver != nullptr)
        return true;
    if (m_options.AudioDrivers.empty()) {
        m_lastError = "No audio output is set up for the built-in synthesizer.";
        return false;
    }
    fluid_settings_t* settings = m_engine->FluidSettings();
    if (!m_options.AudioFile.empty())
        fluid_settings_setstr(settings, "audio.file.name", m_options.AudioFile.c_str());
    FluidLogCapture log;
    std::vector<std::string> tried;
    for (const std::string& name : m_options.AudioDrivers) {
        fluid_settings_setstr(settings, "audio.driver", name.c_str());
        log.Take();
        m_driver = new_fluid_audio_driver(settings, m_engine->Synth());
        if (m_driver != nullptr) {
            m_driverName = name;
            return true;
        }
        const std::string reason = log.Take();
        tried.push_back(reason.empty() ? name : name + " (" + reason + ")");
    }
    m_lastError = "No audio output could be opened for the built-in synthesizer. Tried " +
                  Join(tried, ", ") + ".";
    return false;
}

void FluidSynthOutput::Stop() {
    std::lock_guard lock(m_mutex);
    if (m_driver == nullptr)
        return;
    delete_fluid_audio_driver(m_driver);
    m_driver = nullptr;
    m_driverName.clear();
    // A note left sounding would otherwise come back at the next open.
    m_engine->SoundsOff();
}

bool FluidSynthOutput::IsRunning() const {
    std::lock_guard lock(m_mutex);
    return m_driver != nullptr;
}

std::string FluidSynthOutput::DriverName() const {
    std::lock_guard lock(m_mutex);
    return m_driverName;
}

void FluidSynthOutput::Send(uint32_t message) {
    if (FluidSynthEngine* engine = Engine())
        engine->Send(message);
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
