#include "settings/clsSettings.h"

#include "engine/modGeneral.h"
#include "music/modScaleTable.h"
#include "settings/modSettingsFile.h"
#include "startup/clsErrorHandler.h"

#include <cerrno>
#include <limits>
#include <optional>
#include <sstream>

namespace sonavel {

namespace {

// A settings file is a few kilobytes; this only keeps a runaway file (or a
// device named by mistake) from filling the memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

const char* const kProductLine = "-- Sonavel - Advanced v1.0";

std::optional<long> IntegerInRange(const std::string& text, double low, double high) {
    double value = 0.0;
    if (!ParseNumber(text, value) || !(low <= value && value <= high))
        return std::nullopt;
    return static_cast<long>(RoundHalfEven(value));
}

} // namespace

clsSettings::clsSettings() {
    LoadScales();

    m_majSolfaArray = {"Do", "Re", "Mi", "Fa", "Sol", "La", "Ti"};
    m_minSolfaArray = {"Do", "Re", "Me", "Fa", "Sol", "Le", "Te"};
    m_hMinSolfaArray = {"Do", "Re", "Me", "Fa", "Sol", "Le", "Ti"};
    m_mMinSolfaArray = {"Do", "Re", "Me", "Fa", "Sol", "La", "Ti"};

    SelIntervalsAsc.assign(13, false);
    SelIntervalsAsc[5] = true;
    SelIntervalsAsc[7] = true;
    SelIntervalsDesc.assign(13, false);
    SelIntervalsHarm.assign(13, false);

    KeyArray.clear();
    for (const auto& [key, scale] : m_majScales)
        KeyArray.push_back(scale.Name);

    KeyTypeArray = {"Major", "Minor (Natural)", "Minor (Harmonic)", "Minor (Melodic)"};
    KeyRefArray = {"I - IV - V - I  cadence", "II - V - I  progression", "I  chord"};
    IntervalArray = {"Unison",      "Minor second",   "Major second",  "Minor third",
                     "Major third", "Perfect fourth", "Tritone",       "Perfect fifth",
                     "Minor sixth", "Major sixth",    "Minor seventh", "Major seventh",
                     "Octave"};

    SetCheatMode(5);

    NoteDurationArray = {"Eight notes", "Quarter notes", "Half notes", "Whole notes"};

    SetPlaybackSpeed(100);
    SetCurrentNoteDuration(1);
    SetMIDIChannelKR(1);
    SetMIDIChannelRN(1);
    SetMIDIDevice(0);
    SetMIDIVolumeKR(127);
    SetMIDIVolumeRN(127);
}

void clsSettings::SetCurrentKey(int16_t value) {
    m_currentKey = value;
    UpdateNotesArray();
}

void clsSettings::SetCurrentKeyType(int32_t value) {
    m_currentKeyType = value;
    UpdateNotesArray();
}

void clsSettings::SetNoteDisplayMode(int32_t value) {
    m_noteDisplayMode = value;
    UpdateNotesArray();
}

const clsSettings::Catalogue& clsSettings::CatalogueOf(int32_t keyType) const {
    switch (keyType) {
    case 0:
        return m_majScales;
    case 1:
        return m_minScales;
    case 2:
        return m_hMinScales;
    case 3:
        return m_mMinScales;
    }
    throw std::out_of_range("key type " + std::to_string(keyType));
}

const clsScale& clsSettings::Scale(int32_t keyType, int16_t keyIndex) const {
    return CatalogueOf(keyType).at(static_cast<std::size_t>(keyIndex)).second;
}

const std::string& clsSettings::CatalogueKey(int32_t keyType, int16_t keyIndex) const {
    return CatalogueOf(keyType).at(static_cast<std::size_t>(keyIndex)).first;
}

const std::vector<std::string>& clsSettings::SolfaArray(int32_t keyType) const {
    switch (keyType) {
    case 0:
        return m_majSolfaArray;
    case 1:
        return m_minSolfaArray;
    case 2:
        return m_hMinSolfaArray;
    case 3:
        return m_mMinSolfaArray;
    }
    throw std::out_of_range("key type " + std::to_string(keyType));
}

void clsSettings::LoadScales() {
    // The handler is usually not attached yet while the object is being built;
    // the failure must still reach the caller as the internal error.
    clsErrorHandler fallback;
    clsErrorHandler& err = MyErr ? *MyErr : fallback;
    try {
        Catalogue* collections[kKeyTypeCount] = {&m_majScales, &m_minScales, &m_hMinScales,
                                                 &m_mMinScales};
        for (int type = 0; type < kKeyTypeCount; ++type) {
            for (const ScaleRecord& record : kScaleRecords[type]) {
                clsScale scale;
                scale.Name = record.Name;
                scale.RootMidiNo = record.RootMidiNo;
                scale.RootOffset = record.RootOffset;
                for (const char* note : record.Notes) {
                    scale.Notes.emplace_back(note);
                    const std::string accidental = scale.Notes.back().substr(1);
                    scale.Formula.push_back(accidental.empty() ? "1" : accidental);
                }
                std::string key = CatalogueKeyFor(scale.Name, type);
                Catalogue& collection = *collections[type];
                for (const auto& entry : collection) {
                    if (entry.first == key)
                        throw AppError(457, "This key is already associated with an element "
                                            "of this collection: " +
                                                key);
                }
                collection.emplace_back(std::move(key), std::move(scale));
            }
        }
    } catch (...) {
        err.Rethrow("clsSettings::LoadScales()", std::current_exception());
    }
}

void clsSettings::UpdateNotesArray() {
    clsErrorHandler fallback;
    clsErrorHandler& err = MyErr ? *MyErr : fallback;
    const bool knownKeyType = m_currentKeyType >= 0 && m_currentKeyType < kKeyTypeCount;
    auto unhandledKeyType = [&] {
        err.Raise("clsSettings::UpdateNotesArray()", 0, "Unhandled CASE key type value");
    };

    switch (m_noteDisplayMode) {
    case 0:
        if (!knownKeyType)
            unhandledKeyType();
        NotesArray =
            CatalogueOf(m_currentKeyType).at(static_cast<std::size_t>(m_currentKey)).second.Notes;
        break;
    case 1:
        if (!knownKeyType)
            unhandledKeyType();
        NotesArray.assign(kDegreeLabels[m_currentKeyType].begin(),
                          kDegreeLabels[m_currentKeyType].end());
        break;
    case 2: {
        // The list is sized before the key type is looked at, so an unknown key
        // type leaves seven empty labels behind.
        NotesArray.assign(7, std::string());
        if (!knownKeyType)
            unhandledKeyType();
        const std::vector<std::string>& solfa = SolfaArray(m_currentKeyType);
        for (std::size_t i = 0; i < 7; ++i)
            NotesArray[i] = solfa.at(i);
        break;
    }
    default:
        err.Raise("clsSettings::UpdateNotesArray()", 0, "Unhandled CASE note display value");
    }

    CurrentKeyMIDIRoot = m_majScales.at(static_cast<std::size_t>(m_currentKey)).second.RootMidiNo;
}

std::string clsSettings::FileText() const {
    std::string text;
    auto line = [&text](const std::string& s) {
        text += s;
        text += "\r\n";
    };
    auto banner = [&line](const std::string& title) {
        line(std::string(title.size(), '-'));
        line(title);
        line(std::string(title.size(), '-'));
    };
    auto number = [](long value) { return std::to_string(value); };
    auto flag = [](bool value) { return std::to_string(BoolToInt(value)); };

    line(std::string(51, '-'));
    line(kProductLine);
    line("-- User Settings File");
    line("-- IT IS NOT RECOMMENDED TO EDIT THIS FILE MANUALLY!");
    line("-- Delete this file to restore program defaults.");
    line("-- ");
    line("-- If you make changes in this file, make sure to ");
    line("-- close SNV - Advanced first!");
    line(std::string(51, '-'));
    line("");
    banner("- Key Settings");
    line("KeyArray=" + JoinList(KeyArray));
    line("CurrentKey=" + number(m_currentKey));
    line("RandomKey=" + flag(m_randomKey));
    line("");
    banner("- Key Type Settings");
    line("KeyTypeArray=" + JoinList(KeyTypeArray));
    line("CurrentKeyType=" + number(m_currentKeyType));
    line("RandomKeyType=" + flag(m_randomKeyType));
    line("");
    banner("- Interval Settings");
    line("IntervalArray=" + JoinList(IntervalArray));
    line("SelIntervalsAsc=" + JoinBools(SelIntervalsAsc));
    line("SelIntervalsDesc=" + JoinBools(SelIntervalsDesc));
    line("SelIntervalsHarm=" + JoinBools(SelIntervalsHarm));
    line("");
    banner("- Key Reference Settings");
    line("KeyRefArray=" + JoinList(KeyRefArray));
    line("CurrentKeyReference=" + number(m_currentKeyReference));
    line("KeyReferenceSettings=" + number(m_keyReferenceSettings));
    line("");
    banner("- Note Naming Settings");
    line("NoteDisplayMode=" + number(m_noteDisplayMode));
    line("");
    banner("- Cheating Settings");
    line("CheatMode=" + number(m_cheatMode));
    line("");
    banner("- Tempo Settings");
    line("PlaybackSpeed=" + number(m_playbackSpeed));
    line("CurrentNoteDuration=" + number(m_currentNoteDuration));
    line("NoteDurationArray=" + JoinList(NoteDurationArray));
    line("");
    banner("- MIDI Settings");
    line("MIDIDevice=" + number(m_midiDevice));
    line("MIDIChannelKR=" + number(m_midiChannelKR));
    line("MIDIChannelRN=" + number(m_midiChannelRN));
    line("MIDIVolumeKR=" + number(m_midiVolumeKR));
    line("MIDIVolumeRN=" + number(m_midiVolumeRN));
    line("MIDIInstrumentKR=" + number(m_midiInstrumentKR));
    line("MIDIInstrumentRN=" + number(m_midiInstrumentRN));
    line("MIDIRandomInstrumentKR=" + flag(m_midiRandomInstrumentKR));
    line("MIDIRandomInstrumentRN=" + flag(m_midiRandomInstrumentRN));
    line("");
    line(std::string(27, '-'));
    line("- Solfeggio Names of");
    line("-   1) Major scale");
    line("-   2) Minor scale");
    line("-   3) Harmonic minor scale");
    line("-   4) Melodic minor scale");
    line(std::string(27, '-'));
    line("MajSolfaArray=" + JoinList(m_majSolfaArray));
    line("MinSolfaArray=" + JoinList(m_minSolfaArray));
    line("HMinSolfaArray=" + JoinList(m_hMinSolfaArray));
    line("MMinSolfaArray=" + JoinList(m_mMinSolfaArray));
    return text;
}

void clsSettings::SaveToDisk(const std::string& path) const {
    clsErrorHandler fallback;
    clsErrorHandler& err = MyErr ? *MyErr : fallback;
    try {
        WriteFileAtomically(path, FileText());
    } catch (...) {
        err.Rethrow("clsSettings::SaveToDisk()", std::current_exception());
    }
}

clsSettings::LineVerdict clsSettings::ApplySetting(const std::string& key, const std::string& value,
                                                   int16_t lineNo, const std::string& line) {
    using V = LineVerdict;
    auto list = [&value](std::vector<std::string>& target, std::size_t count) {
        std::vector<std::string> items = SplitList(value);
        if (items.size() != count)
            return V::Rejected;
        target = std::move(items);
        return V::Accepted;
    };
    auto integer = [&value](double low, double high, auto store) {
        const std::optional<long> number = IntegerInRange(value, low, high);
        if (!number)
            return V::Rejected;
        store(*number);
        return V::Accepted;
    };
    auto boolean = [&integer](bool& target) {
        return integer(0, 1, [&target](long v) { target = IntToBool(static_cast<int16_t>(v)); });
    };
    auto int16 = [&integer](int16_t& target, double low, double high) {
        return integer(low, high, [&target](long v) { target = static_cast<int16_t>(v); });
    };
    auto int32 = [&integer](int32_t& target, double low, double high) {
        return integer(low, high, [&target](long v) { target = static_cast<int32_t>(v); });
    };
    // An element that is no 16-bit number is not a rejected value but a failure:
    // it ends the reading.
    auto selection = [&](std::vector<bool>& target) {
        const std::vector<std::string> items = SplitList(value);
        if (items.size() != 13)
            return V::Rejected;
        std::vector<bool> flags;
        for (const std::string& item : items) {
            int16_t number = 0;
            switch (ToInt16(item, number)) {
            case Int16Conversion::Done:
                break;
            case Int16Conversion::NotANumber:
                throw AppError(13, "Type mismatch on line " + std::to_string(lineNo) + ": " + line);
            case Int16Conversion::Overflow:
                throw AppError(6, "Overflow on line " + std::to_string(lineNo) + ": " + line);
            }
            flags.push_back(IntToBool(number));
        }
        target = std::move(flags);
        return V::Accepted;
    };

    if (key == "KeyArray")
        return list(KeyArray, 13);
    if (key == "CurrentKey")
        return int16(m_currentKey, 0, 12);
    if (key == "RandomKey")
        return boolean(m_randomKey);
    if (key == "KeyTypeArray")
        return list(KeyTypeArray, 4);
    if (key == "CurrentKeyType")
        return int32(m_currentKeyType, 0, 3);
    if (key == "RandomKeyType")
        return boolean(m_randomKeyType);
    if (key == "CheatMode")
        return int32(m_cheatMode, 0, 5);
    if (key == "IntervalArray")
        return list(IntervalArray, 13);
    if (key == "SelIntervalsAsc")
        return selection(SelIntervalsAsc);
    if (key == "SelIntervalsDesc")
        return selection(SelIntervalsDesc);
    if (key == "SelIntervalsHarm")
        return selection(SelIntervalsHarm);
    if (key == "KeyRefArray")
        return list(KeyRefArray, 3);
    if (key == "CurrentKeyReference")
        return int32(m_currentKeyReference, 0, 2);
    if (key == "KeyReferenceSettings")
        return int32(m_keyReferenceSettings, 0, 2);
    if (key == "NotesArray")
        return list(NotesArray, 7);
    if (key == "NoteDisplayMode")
        return int32(m_noteDisplayMode, 0, 2);
    if (key == "PlaybackSpeed")
        return int16(m_playbackSpeed, 10, 200);
    if (key == "NoteDurationArray")
        return list(NoteDurationArray, 4);
    if (key == "CurrentNoteDuration")
        return int32(m_currentNoteDuration, 0, 3);
    if (key == "MIDIDevice")
        return int16(m_midiDevice, -1, 100);
    if (key == "MIDIChannelKR")
        return int16(m_midiChannelKR, 1, 16);
    if (key == "MIDIChannelRN")
        return int16(m_midiChannelRN, 1, 16);
    if (key == "MIDIVolumeKR")
        return int16(m_midiVolumeKR, 1, 127);
    if (key == "MIDIVolumeRN")
        return int16(m_midiVolumeRN, 1, 127);
    if (key == "MIDIInstrumentKR")
        return int16(m_midiInstrumentKR, 0, 127);
    if (key == "MIDIInstrumentRN")
        return int16(m_midiInstrumentRN, 0, 127);
    if (key == "MIDIRandomInstrumentKR")
        return boolean(m_midiRandomInstrumentKR);
    if (key == "MIDIRandomInstrumentRN")
        return boolean(m_midiRandomInstrumentRN);
    if (key == "MajSolfaArray")
        return list(m_majSolfaArray, 7);
    if (key == "MinSolfaArray")
        return list(m_minSolfaArray, 7);
    if (key == "HMinSolfaArray")
        return list(m_hMinSolfaArray, 7);
    if (key == "MMinSolfaArray")
        return list(m_mMinSolfaArray, 7);
    return V::Unsupported;
}

void clsSettings::LoadFromDisk(const std::string& path) {
    const std::string src = "clsSettings::LoadFromDisk()";
    clsErrorHandler fallback;
    clsErrorHandler& err = MyErr ? *MyErr : fallback;
    int16_t errorCount = 0;
    try {
        std::string text;
        if (!ReadWholeFile(path, kMaxFileBytes, text))
            return;
        std::istringstream in(text);
        SettingsLineReader reader(in, kMaxFileBytes);
        int16_t lineNo = 0;
        std::string line;
        std::string key;
        std::string value;
        while (reader.Next(line)) {
            if (lineNo == std::numeric_limits<int16_t>::max())
                throw AppError(6, "Overflow: the settings file has more than 32767 lines");
            ++lineNo;
            // Some editors start a file with a UTF-8 byte order mark.
            if (lineNo == 1 && line.starts_with("\xEF\xBB\xBF"))
                line.erase(0, 3);
            if (!line.empty() && line[0] == '-')
                continue;
            if (TrimBlanks(line).empty())
                continue;

            const std::string number = std::to_string(lineNo);
            std::string message;
            if (!ParseSettingLine(line, key, value)) {
                message = "Syntax Error line " + number + ": " + line;
            } else {
                switch (ApplySetting(key, value, lineNo, line)) {
                case LineVerdict::Accepted:
                    break;
                case LineVerdict::Rejected:
                    message = "Unexpected setting value on line " + number + ": " + line;
                    break;
                case LineVerdict::Unsupported:
                    message = "Unsupported setting on line " + number + ": " + key;
                    break;
                }
            }
            if (!message.empty()) {
                err.PrepareError(src, 1, message);
                ++errorCount;
            }
        }
        UpdateNotesArray();
    } catch (...) {
        err.Rethrow(src, std::current_exception());
    }
    if (errorCount > 0)
        err.Raise(src, err.INTERNAL_ERROR, err.INTERNAL_ERROR_DESC);
}

} // namespace sonavel
