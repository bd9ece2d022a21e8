#include "ui/DrillMode.h"

#include "history/HistoryDb.h"
#include "history/modDrillStore.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

namespace sonavel {

namespace {
constexpr const char* Preference = "drill";
}

DrillMode::DrillMode(QMenu* view, QStatusBar* status) : m_menu(nullptr), m_due(new QLabel(status)) {
    view->addSeparator();
    m_menu = view->addAction(tr("D&rill my mistakes"));
    m_menu->setObjectName(QStringLiteral("mnuViewDrill"));
    m_menu->setCheckable(true);
    m_due->setObjectName(QStringLiteral("lblDrillDue"));
    m_due->setAccessibleName(tr("Items due in the drill"));
    // At the right end, beside the status text, so that nothing else moves.
    status->addPermanentWidget(m_due);
    m_due->hide();
    connect(m_menu, &QAction::triggered, this, &DrillMode::mnuViewDrill_Click);
}

void DrillMode::SetHistory(HistoryDb* history) {
    m_history = history;
    m_menu->setChecked(history && history->Preference(Preference).value_or("0") == "1");
    if (On() && m_history)
        LoadDrill(*m_history, m_drill);
    ShowDue();
}

bool DrillMode::On() const {
    return m_menu->isChecked();
}

void DrillMode::mnuViewDrill_Click(bool on) {
    if (m_history) {
        m_history->SetPreference(Preference, on ? "1" : "0");
        if (on)
            LoadDrill(*m_history, m_drill);
    }
    ShowDue();
}

const clsDrill* DrillMode::Prepare() {
    if (!On())
        return nullptr;
    if (m_history)
        LoadDrill(*m_history, m_drill);
    ShowDue();
    m_playDrill = m_drill;
    return &m_playDrill;
}

void DrillMode::Answered(const DrillItem& asked, bool right, bool noteMissed) {
    m_drill.Answered(asked, right, noteMissed);
    if (m_history)
        SaveDrill(*m_history, m_drill);
    ShowDue();
}

void DrillMode::ShowDue() {
    m_due->setVisible(On());
    m_due->setText(tr("Drill: %1 due").arg(m_drill.DueCount()));
}

} // namespace sonavel
