#include "ui/AccessKeyButton.h"

#include <QShortcutEvent>

namespace sonavel {

bool AccessKeyButton::event(QEvent* event) {
    // A button only receives the shortcut events of its own access key. An
    // ambiguous key moves the focus between its owners, as on any button.
    if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        if (isEnabled())
            click();
        return true;
    }
    return QPushButton::event(event);
}

} // namespace sonavel
