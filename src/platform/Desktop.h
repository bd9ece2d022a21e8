#pragma once

#include <string>

namespace sonavel {

// What the program asks of the desktop: show a file in the user's text editor,
// show a help page, ask where to save a file. Paths are passed as they are, never through a shell.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Opens the file in the user's editor without waiting; false when nothing
    // could be started.
    virtual bool OpenInEditor(const std::string& path) = 0;
    // Shows the help page. While the help window of an earlier call is still
    // open, it is brought forward instead of opening another.
    virtual void ShowHelpPage(const std::string& path) = 0;
    // Asks where to save a new file, starting from suggested; empty when the
    // user cancels.
    virtual std::string ChooseSaveFile(const std::string& title, const std::string& suggested) = 0;
};

} // namespace sonavel
