#pragma once

#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace sonavel {

// Reaches the private procedures of clsSettings that no public call can drive
// into their failure paths.
struct SettingsTestAccess {
    static void LoadScales(clsSettings& settings) { settings.LoadScales(); }
    static std::size_t CatalogueSize(const clsSettings& settings, int32_t keyType) {
        return settings.CatalogueOf(keyType).size();
    }
};

namespace settingstest {

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string DefaultFixture() {
    return ReadBytes(std::filesystem::path(SONAVEL_FIXTURES) / "settings" / "default.dat");
}

// The fixture's lines without their CR LF; element 0 is line 1.
inline std::vector<std::string> FixtureLines() {
    std::vector<std::string> lines;
    const std::string text = DefaultFixture();
    std::size_t start = 0;
    for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

inline std::string Join(const std::vector<std::string>& lines, const std::string& ending) {
    std::string text;
    for (const auto& line : lines)
        text += line + ending;
    return text;
}

// One report entry as the error handler writes it.
inline std::string Entry(const std::string& src, int code, const std::string& text) {
    return "Source: " + src + "\r\nCode  : " + std::to_string(code) + "\r\nString: " + text;
}

inline std::string Chain(const std::vector<std::string>& entries) {
    std::string chain;
    for (const auto& entry : entries)
        chain += (chain.empty() ? "" : "\r\n\r\n") + entry;
    return chain;
}

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sonavel-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path m_path;
};

// Every value the settings object exposes, one "Name=value" per entry, so that
// two objects can be compared and a difference is shown by name.
inline std::vector<std::string> Snapshot(const clsSettings& s) {
    auto list = [](const std::vector<std::string>& items) {
        std::string joined;
        for (const auto& item : items)
            joined += item + "|";
        return joined;
    };
    auto flags = [](const std::vector<bool>& items) {
        std::string joined;
        for (bool item : items)
            joined += item ? '1' : '0';
        return joined;
    };
    auto n = [](long v) { return std::to_string(v); };
    return {
        "KeyArray=" + list(s.KeyArray),
        "KeyTypeArray=" + list(s.KeyTypeArray),
        "KeyRefArray=" + list(s.KeyRefArray),
        "IntervalArray=" + list(s.IntervalArray),
        "NotesArray=" + list(s.NotesArray),
        "NoteDurationArray=" + list(s.NoteDurationArray),
        "SelIntervalsAsc=" + flags(s.SelIntervalsAsc),
        "SelIntervalsDesc=" + flags(s.SelIntervalsDesc),
        "SelIntervalsHarm=" + flags(s.SelIntervalsHarm),
        "CurrentKeyMIDIRoot=" + n(s.CurrentKeyMIDIRoot),
        "CurrentKey=" + n(s.CurrentKey()),
        "RandomKey=" + n(s.RandomKey()),
        "CurrentKeyType=" + n(s.CurrentKeyType()),
        "RandomKeyType=" + n(s.RandomKeyType()),
        "PlaybackSpeed=" + n(s.PlaybackSpeed()),
        "CurrentNoteDuration=" + n(s.CurrentNoteDuration()),
        "CurrentKeyReference=" + n(s.CurrentKeyReference()),
        "KeyReferenceSettings=" + n(s.KeyReferenceSettings()),
        "NoteDisplayMode=" + n(s.NoteDisplayMode()),
        "CheatMode=" + n(s.CheatMode()),
        "MIDIDevice=" + n(s.MIDIDevice()),
        "MIDIChannelKR=" + n(s.MIDIChannelKR()),
        "MIDIChannelRN=" + n(s.MIDIChannelRN()),
        "MIDIVolumeKR=" + n(s.MIDIVolumeKR()),
        "MIDIVolumeRN=" + n(s.MIDIVolumeRN()),
        "MIDIInstrumentKR=" + n(s.MIDIInstrumentKR()),
        "MIDIInstrumentRN=" + n(s.MIDIInstrumentRN()),
        "MIDIRandomInstrumentKR=" + n(s.MIDIRandomInstrumentKR()),
        "MIDIRandomInstrumentRN=" + n(s.MIDIRandomInstrumentRN()),
        "MajSolfaArray=" + list(s.SolfaArray(0)),
        "MinSolfaArray=" + list(s.SolfaArray(1)),
        "HMinSolfaArray=" + list(s.SolfaArray(2)),
        "MMinSolfaArray=" + list(s.SolfaArray(3)),
    };
}

} // namespace settingstest
} // namespace sonavel
