#pragma once

#include "platform/FluidSynthEngine.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _fluid_audio_driver_t fluid_audio_driver_t;

namespace sonavel {

// The built-in synthesizer as a device: a FluidSynthEngine with a General MIDI
// SoundFont, found once and kept for the whole run, and an audio driver that
// feeds the sound server while the device is open.
class FluidSynthOutput {
public:
    struct Options {
        // Tried first, in order: the system's chosen GM SoundFont.
        std::vector<std::string> SoundFontFiles{"/usr/share/sounds/sf2/default-GM.sf2"};
        // Then these names in each folder, in order; then any .sf2 or .sf3 file
        // in the folders, by name.
        std::vector<std::string> SoundFontNames{"FluidR3_GM.sf2", "TimGM6mb.sf2"};
        std::vector<std::string> SoundFontFolders{"/usr/share/sounds/sf2", "/usr/share/sounds/sf3",
                                                  "/usr/share/soundfonts"};
        // FluidSynth's audio drivers, tried in order; the first that opens is used.
        std::vector<std::string> AudioDrivers{"pipewire", "pulseaudio", "alsa", "jack"};
        // Where FluidSynth's "file" driver writes, when it is in the list.
        std::string AudioFile;
        FluidSynthEngine::Options Engine;
    };

    FluidSynthOutput();
    explicit FluidSynthOutput(Options options);
    ~FluidSynthOutput();
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    // Finds and loads the SoundFont unless that is done. Safe from any thread; a
    // caller that comes while another loads waits for it. A failed search is
    // made again at the next call.
    bool Load();
    bool IsLoaded() const;
    // Loads if needed and starts feeding the sound server. Returns false with
    // the reason in LastError(); IsLoaded() then tells which step failed.
    bool Start();
    // Stops feeding the sound server; the SoundFont stays loaded.
    void Stop();
    bool IsRunning() const;
    // The audio driver that Start opened, empty when stopped.
    std::string DriverName() const;

    void Send(uint32_t message);

    // "Built-in synthesizer (FluidR3_GM)": the SoundFont's file name, followed
    // through links, without its extension.
    std::string Name() const;
    std::string LastError() const;
    // The SoundFont files the search finds, best first.
    std::vector<std::string> FindSoundFonts() const;
    // Null until Load succeeded; the engine lives as long as this object.
    FluidSynthEngine* Engine() const;

private:
    bool LoadLocked();
    std::string SearchedPlaces() const;

    const Options m_options;
    mutable std::mutex m_mutex;
    std::unique_ptr<FluidSynthEngine> m_engine;
    fluid_audio_driver_t* m_driver = nullptr;
    std::string m_driverName;
    std::string m_lastError;
};

} // namespace sonavel
