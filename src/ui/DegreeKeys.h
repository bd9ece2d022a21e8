#pragma once

#include <QObject>

class QListWidget;

namespace sonavel {

// The digits 1 to 7 in a note answer list choose the scale degree of that
// number, the list's row, whatever the list names the notes by. Without it a
// digit would search the names, which finds nothing when they are note names
// or syllables.
class DegreeKeys : public QObject {
    Q_OBJECT
public:
    // Watches list; owned by it.
    explicit DegreeKeys(QListWidget* list);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidget* m_list;
};

} // namespace sonavel
