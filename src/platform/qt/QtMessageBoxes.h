#pragma once

#include "platform/MessageBoxes.h"

class QWidget;

namespace sonavel {

// Message boxes as QMessageBox dialogs, modal to the application.
class QtMessageBoxes : public MessageBoxes {
public:
    // parent: the window the boxes belong to; not owned. Without one a box
    // belongs to the active window.
    explicit QtMessageBoxes(QWidget* parent = nullptr) : m_parent(parent) {}

    void Show(const std::string& title, const std::string& text, MsgIcon icon) override;
    bool Ask(const std::string& title, const std::string& text) override;

private:
    QWidget* m_parent;
};

} // namespace sonavel
