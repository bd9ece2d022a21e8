#pragma once

#include "MainWindowHarness.h"
#include "platform/SystemMidiOutput.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sonavel::uitest {

// Helpers for driving the real window with the real MIDI output into faults
// of the sound path and out of them again.

inline const char* const GmSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// The built-in synthesizer finds SoundFonts only in soundFonts and plays
// through FluidSynth's drivers in order; the "file" driver writes audioFile
// and needs no sound card. No system ports unless asked for.
inline SystemMidiOutput::Options SynthIn(const std::filesystem::path& soundFonts,
                                         std::vector<std::string> drivers,
                                         const std::filesystem::path& audioFile) {
    SystemMidiOutput::Options options;
    options.Synth.SoundFontFiles.clear();
    options.Synth.SoundFontFolders = {soundFonts.string()};
    options.Synth.AudioDrivers = std::move(drivers);
    options.Synth.AudioFile = audioFile.string();
    options.UseAlsa = false;
    options.UseJack = false;
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

// Tools, MIDI setup: picks the device with this number and presses OK, as a
// user would. False when the dialog did not list the device.
inline bool ChooseDevice(MainWindowHarness& h, int32_t device) {
    bool listed = false;
    QTimer::singleShot(0, h.Window.get(), [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr)
            return;
        auto* devices = dialog->findChild<QComboBox*>(QStringLiteral("cboDevice"));
        const int index = devices ? devices->findData(device) : -1;
        if (index >= 0) {
            devices->setCurrentIndex(index);
            listed = true;
        }
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    h.Trigger(QStringLiteral("mnuToolsMidiSetup"));
    return listed;
}

// The report a failed open leaves: the headline the failure convention gives,
// the device's reason, "Cannot open MIDI device." and the handler on top.
inline void ExpectCannotOpen(const fakes::RecordingPresenter::Report& report, const char* step,
                             int code, const std::vector<std::string>& reasonNames,
                             const char* handler) {
    EXPECT_EQ(report.Text, "Internal Error");
    const std::string& details = report.Details;
    const std::string reasonEntry =
        std::string("Source: ") + step + "\r\nCode  : " + std::to_string(code) + "\r\nString: ";
    const auto reason = details.find(reasonEntry);
    ASSERT_NE(reason, std::string::npos) << details;
    const std::string reasonText = details.substr(
        reason + reasonEntry.size(),
        details.find("\r\n", reason + reasonEntry.size()) - reason - reasonEntry.size());
    for (const std::string& name : reasonNames)
        EXPECT_NE(reasonText.find(name), std::string::npos)
            << "the reason names " << name << ": " << reasonText;
    EXPECT_NE(details.find("Source: clsMidi::Initialize()\r\nCode  : " + std::to_string(code) +
                           "\r\nString: Cannot open MIDI device."),
              std::string::npos)
        << details;
    EXPECT_NE(details.find(std::string("Source: ") + handler), std::string::npos) << details;
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
