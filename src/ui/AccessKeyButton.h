#pragma once

#include <QPushButton>

namespace sonavel {

// A push button whose access key (Alt+S for "&Start") clicks it at once. A
// plain button animates the press for a tenth of a second first, which holds
// back the key reference by as much.
class AccessKeyButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    bool event(QEvent* event) override;
};

} // namespace sonavel
