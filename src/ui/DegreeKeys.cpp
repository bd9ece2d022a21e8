#include "ui/DegreeKeys.h"

#include <QKeyEvent>
#include <QListWidget>

namespace sonavel {

DegreeKeys::DegreeKeys(QListWidget* list) : QObject(list), m_list(list) {
    list->installEventFilter(this);
}

bool DegreeKeys::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int row = key->key() - Qt::Key_1;
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && row >= 0 && row < 7 && row < m_list->count()) {
            m_list->setCurrentRow(row);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sonavel
