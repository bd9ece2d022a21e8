#pragma once

#include "MainWindowHarness.h"
#include "platform/SystemMidiOutput.h"

#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sonavel::uitest {

// Helpers that drive the real window with the real MIDI output into faults of
// the sound path and out of them again.

inline const char* const GmSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// The built-in synthesizer finds SoundFonts only in soundFonts and plays
// through FluidSynth's drivers in order; the "file" driver needs no sound card.
inline SystemMidiOutput::Options SynthIn(const std::filesystem::path& soundFonts,
                                         std::vector<std::string> drivers,
                                         const std::filesystem::path& audioFile) {
    SystemMidiOutput::Options options;
    options.Synth.SoundFontFiles.clear();
    options.Synth.SoundFontFolders = {soundFonts.string()};
    options.Synth.AudioDrivers = std::move(drivers);
    options.Synth.AudioFile = audioFile.string();
    options.UseAlsa = options.UseJack = false;
    return options;
}

// Distinct channels and instruments, so that each program change can be told
// where it went.
inline void TwoVoices(clsSettings& settings) {
    settings.SetMIDIChannelKR(1);
    settings.SetMIDIInstrumentKR(19);
    settings.SetMIDIChannelRN(2);
    settings.SetMIDIInstrumentRN(40);
    settings.SetMIDIRandomInstrumentKR(false);
    settings.SetMIDIRandomInstrumentRN(false);
}

// Tools, MIDI setup: picks the device with this number (none when cancel) and
// presses OK, or Cancel. False when the dialog did not list the device.
inline bool ChooseDevice(MainWindowHarness& h, int32_t device, bool cancel = false) {
    bool listed = false;
    QTimer::singleShot(0, h.Window.get(), [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr)
            return;
        auto* devices = dialog->findChild<QComboBox*>(QStringLiteral("cboDevice"));
        const int index = devices->findData(device);
        if (index >= 0)
            devices->setCurrentIndex(index);
        listed = index >= 0;
        dialog->findChild<QPushButton*>(cancel ? "cmdCancel" : "cmdOK")->click();
    });
    h.Trigger(QStringLiteral("mnuToolsMidiSetup"));
    return listed;
}

// A failed open reports the device's reason (naming each of named) under
// step and code, "Cannot open MIDI device." and the handler on top.
inline void ExpectCannotOpen(const fakes::RecordingPresenter::Report& report,
                             const std::string& step, int code, std::vector<std::string> named,
                             const std::string& handler) {
    named.push_back("Source: " + step + "\r\nCode  : " + std::to_string(code) + "\r\n");
    named.push_back("Source: clsMidi::Initialize()\r\nCode  : " + std::to_string(code) +
                    "\r\nString: Cannot open MIDI device.");
    named.push_back("Source: " + handler);
    for (const std::string& text : named)
        EXPECT_NE(report.Details.find(text), std::string::npos) << text << " in " << report.Details;
}

// The most voices the built-in synthesizer had sounding at any wait of the
// playback: more than 0 means it was heard.
class VoiceWatch {
public:
    VoiceWatch(MainWindowHarness& h, SystemMidiOutput& output) {
        h.Clock.OnSleep = [this, &output] {
            if (const FluidSynthEngine* engine = output.Synth().Engine())
                Most = std::max(Most, fluid_synth_get_active_voice_count(engine->Synth()));
        };
    }
    int Most = 0;
};

} // namespace sonavel::uitest
