#pragma once

#include <string>

namespace sonavel {

enum class MsgIcon { None, Critical, Exclamation, Information };

// Modal message boxes with an OK button, or Yes and No. The window layer shows real ones;
// tests record what would have been shown.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Returns when the user has closed the box.
    virtual void Show(const std::string& title, const std::string& text, MsgIcon icon) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Ask(const std::string& title, const std::string& text) = 0;
};

} // namespace sonavel
