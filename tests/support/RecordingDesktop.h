#pragma once

#include "platform/Desktop.h"

#include <string>
#include <vector>

namespace sonavel::fakes {

// Records the help pages the program asked the desktop to show.
class RecordingDesktop : public Desktop {
public:
    bool OpenInEditor(const std::string&) override { return EditorStarts; }
    void ShowHelpPage(const std::string& path) override { HelpPages.push_back(path); }
    std::string ChooseSaveFile(const std::string&, const std::string&) override { return SaveAs; }

    bool EditorStarts = true; // what OpenInEditor answers
    std::vector<std::string> HelpPages;
    std::string SaveAs; // what ChooseSaveFile answers: empty as a cancel
};

} // namespace sonavel::fakes
