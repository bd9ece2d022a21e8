#pragma once

#include "music/clsScale.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sonavel {

class clsErrorHandler;

// Every user choice of the trainer, the fixed name lists the windows show, the
// scale catalogue and the labels of the current key. Writing CurrentKey,
// CurrentKeyType or NoteDisplayMode rebuilds NotesArray and CurrentKeyMIDIRoot;
// no other write has a side effect and none is range-checked (the file reader
// and the windows keep values in range).
class clsSettings {
public:
    clsSettings();

    std::vector<std::string> KeyArray;
    std::vector<std::string> KeyTypeArray;
    std::vector<std::string> KeyRefArray;
    std::vector<std::string> IntervalArray;
    std::vector<std::string> NotesArray;
    std::vector<std::string> NoteDurationArray;
    std::vector<bool> SelIntervalsAsc;
    std::vector<bool> SelIntervalsDesc;
    std::vector<bool> SelIntervalsHarm;
    clsErrorHandler* MyErr = nullptr; // not owned; set by the start-up
    int16_t CurrentKeyMIDIRoot = 0;

    int16_t CurrentKey() const { return m_currentKey; }
    void SetCurrentKey(int16_t value);
    bool RandomKey() const { return m_randomKey; }
    void SetRandomKey(bool value) { m_randomKey = value; }
    int32_t CurrentKeyType() const { return m_currentKeyType; }
    void SetCurrentKeyType(int32_t value);
    bool RandomKeyType() const { return m_randomKeyType; }
    void SetRandomKeyType(bool value) { m_randomKeyType = value; }
    int16_t PlaybackSpeed() const { return m_playbackSpeed; }
    void SetPlaybackSpeed(int16_t value) { m_playbackSpeed = value; }
    int32_t CurrentNoteDuration() const { return m_currentNoteDuration; }
    void SetCurrentNoteDuration(int32_t value) { m_currentNoteDuration = value; }
    int32_t CurrentKeyReference() const { return m_currentKeyReference; }
    void SetCurrentKeyReference(int32_t value) { m_currentKeyReference = value; }
    int32_t KeyReferenceSettings() const { return m_keyReferenceSettings; }
    void SetKeyReferenceSettings(int32_t value) { m_keyReferenceSettings = value; }
    int32_t NoteDisplayMode() const { return m_noteDisplayMode; }
    void SetNoteDisplayMode(int32_t value);
    int32_t CheatMode() const { return m_cheatMode; }
    void SetCheatMode(int32_t value) { m_cheatMode = value; }
    int16_t MIDIDevice() const { return m_midiDevice; }
    void SetMIDIDevice(int16_t value) { m_midiDevice = value; }
    int16_t MIDIChannelKR() const { return m_midiChannelKR; }
    void SetMIDIChannelKR(int16_t value) { m_midiChannelKR = value; }
    int16_t MIDIChannelRN() const { return m_midiChannelRN; }
    void SetMIDIChannelRN(int16_t value) { m_midiChannelRN = value; }
    int16_t MIDIVolumeKR() const { return m_midiVolumeKR; }
    void SetMIDIVolumeKR(int16_t value) { m_midiVolumeKR = value; }
    int16_t MIDIVolumeRN() const { return m_midiVolumeRN; }
    void SetMIDIVolumeRN(int16_t value) { m_midiVolumeRN = value; }
    int16_t MIDIInstrumentKR() const { return m_midiInstrumentKR; }
    void SetMIDIInstrumentKR(int16_t value) { m_midiInstrumentKR = value; }
    int16_t MIDIInstrumentRN() const { return m_midiInstrumentRN; }
    void SetMIDIInstrumentRN(int16_t value) { m_midiInstrumentRN = value; }
    bool MIDIRandomInstrumentKR() const { return m_midiRandomInstrumentKR; }
    void SetMIDIRandomInstrumentKR(bool value) { m_midiRandomInstrumentKR = value; }
    bool MIDIRandomInstrumentRN() const { return m_midiRandomInstrumentRN; }
    void SetMIDIRandomInstrumentRN(bool value) { m_midiRandomInstrumentRN = value; }

    void SetAsc(int16_t index, bool value) { SelIntervalsAsc.at(index) = value; }
    void SetDesc(int16_t index, bool value) { SelIntervalsDesc.at(index) = value; }
    void SetHarm(int16_t index, bool value) { SelIntervalsHarm.at(index) = value; }

    // Reads the settings file; a missing file changes nothing. Rejected lines
    // are reported one by one and then the internal error is thrown.
    void LoadFromDisk(const std::string& path);
    // Writes the whole settings file. The previous file stays intact until the
    // new one is complete.
    void SaveToDisk(const std::string& path) const;

    // The catalogue, read-only: scale of key index 0..12 and key type 0..3, and
    // the key it is stored under ("C_MAJ", "FsHMIN", ...).
    const clsScale& Scale(int32_t keyType, int16_t keyIndex) const;
    const std::string& CatalogueKey(int32_t keyType, int16_t keyIndex) const;
    const std::vector<std::string>& SolfaArray(int32_t keyType) const;

private:
    friend struct SettingsTestAccess; // lets tests drive the private procedures

    using Catalogue = std::vector<std::pair<std::string, clsScale>>;
    enum class LineVerdict { Accepted, Rejected, Unsupported };

    void LoadScales();
    void UpdateNotesArray();
    const Catalogue& CatalogueOf(int32_t keyType) const;
    LineVerdict ApplySetting(const std::string& key, const std::string& value, int16_t lineNo,
                             const std::string& line);
    std::string FileText() const;

    std::vector<std::string> m_majSolfaArray;
    std::vector<std::string> m_minSolfaArray;
    std::vector<std::string> m_hMinSolfaArray;
    std::vector<std::string> m_mMinSolfaArray;
    Catalogue m_majScales;
    Catalogue m_minScales;
    Catalogue m_hMinScales;
    Catalogue m_mMinScales;

    int16_t m_currentKey = 0;
    bool m_randomKey = false;
    int32_t m_currentKeyType = 0;
    bool m_randomKeyType = false;
    int16_t m_playbackSpeed = 0;
    int32_t m_currentNoteDuration = 0;
    int32_t m_currentKeyReference = 0;
    int32_t m_keyReferenceSettings = 0;
    int32_t m_noteDisplayMode = 0;
    int32_t m_cheatMode = 0;
    int16_t m_midiDevice = 0;
    int16_t m_midiChannelKR = 0;
    int16_t m_midiChannelRN = 0;
    int16_t m_midiVolumeKR = 0;
    int16_t m_midiVolumeRN = 0;
    int16_t m_midiInstrumentKR = 0;
    int16_t m_midiInstrumentRN = 0;
    bool m_midiRandomInstrumentKR = false;
    bool m_midiRandomInstrumentRN = false;
};

} // namespace sonavel
