#pragma once

#include "platform/MessageBoxes.h"

#include <string>
#include <vector>

namespace sonavel::fakes {

// Records the message boxes that would have been shown; each returns at once,
// as if the user had pressed OK.
class RecordingMessageBoxes : public MessageBoxes {
public:
    struct Box {
        std::string Title;
        std::string Text;
    };
    void Show(const std::string& title, const std::string& text, MsgIcon) override {
        Boxes.push_back({title, text});
    }
    bool Ask(const std::string& t, const std::string& s) override { return Show(t, s, {}), Yes; }
    bool Yes = true; // what Ask answers
    std::vector<Box> Boxes;
};

} // namespace sonavel::fakes
