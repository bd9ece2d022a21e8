#pragma once

#include "engine/clsDrill.h"

#include <QObject>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;

namespace sonavel {

class HistoryDb;

// View, "Drill my mistakes": the switch (off by default, kept as the
// preference "drill" of the history, never in the settings file), the number
// of items due beside the status text while it is on, and the drill that new
// questions are drawn from.
class DrillMode : public QObject {
    Q_OBJECT
public:
    // Adds the menu entry mnuViewDrill to view and the label lblDrillDue to status.
    DrillMode(QMenu* view, QStatusBar* status);

    // Where the switch and the schedule are kept; null keeps them for this run only.
    void SetHistory(HistoryDb* history);
    bool On() const;

    // Before a new question: the drill to draw it from, brought up to date
    // with the history, or null while the mode is off. The engine only reads
    // it, from the question's thread, until the next Prepare.
    const clsDrill* Prepare();
    // The first complete answer to a question drawn from Prepare's drill.
    void Answered(const DrillItem& asked, bool right, bool noteMissed);

private:
    void mnuViewDrill_Click(bool on);
    void ShowDue();

    QAction* m_menu;
    QLabel* m_due;
    HistoryDb* m_history = nullptr;
    clsDrill m_drill;
    clsDrill m_playDrill; // what the question in play reads
};

} // namespace sonavel
