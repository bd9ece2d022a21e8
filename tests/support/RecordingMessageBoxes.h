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
    std::vector<Box> Boxes;
};

} // namespace sonavel::fakes
