#include "ui/frmMain.h"

#include "history/HistoryDb.h"
#include "midi/frmMIDISetup.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/MessageBoxes.h"
#include "platform/qt/Artwork.h"
#include "platform/qt/HelpLocation.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"
#include "ui/DegreeKeys.h"
#include "ui/frmAbout.h"
#include "ui/frmMidiKeyboard.h"
#include "ui/frmStatistics.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMetaObject>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QToolButton>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

namespace sonavel {

namespace {

constexpr int16_t SlowestTempo = 40;
constexpr int16_t FastestTempo = 200;
constexpr const char* DefaultTempoText = "100";

const char* const IdleStatus =
    "You may change program settings if you want. Then press the Start button and listen "
    "carefully.";
const char* const AnsweringStatus = "Select the correct answers from the lists. Press Stop to "
                                    "cancel this question or press Play Again to repeat the "
                                    "question.";
const char* const KeyReferenceStatus = "Listen to the key reference... (establish the tonality)";
const char* const TwoNotesStatus =
    "Listen to the 2 notes... (hear how they fit in the current key)";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Reads a tempo typed by the user: a decimal number with an optional sign,
// fraction and exponent, surrounded by blanks. A number too large for a double
// reads as an infinity of its sign, so that it still clamps to the fastest
// tempo.
bool ReadNumber(const QString& text, double& value) {
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*([+-]?)((?:\d+\.?\d*|\.\d+)(?:[eE]([+-]?)\d+)?)\s*$)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return false;
    const std::string digits = match.captured(2).toStdString();
    const bool negative = match.captured(1) == QLatin1String("-");
    double magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error == std::errc::result_out_of_range)
        magnitude = match.captured(3) == QLatin1String("-") ? 0.0 : HUGE_VAL;
    else if (error != std::errc() || end != digits.data() + digits.size())
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

int16_t SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? int16_t(-1) : static_cast<int16_t>(list->row(selected.first()));
}

void ClearSelection(QListWidget* list) {
    list->clearSelection();
    list->setCurrentRow(-1);
}

void Fill(QComboBox* combo, const std::vector<std::string>& entries, int selected) {
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const std::string& entry : entries)
        combo->addItem(Q(entry));
    combo->setCurrentIndex(selected);
}

// Restores a saved choice: no handler runs, nothing is written.
void Restore(QAbstractButton* button, bool checked) {
    const QSignalBlocker quiet(button);
    button->setChecked(checked);
}

void SetColour(QLabel* label, const frmMainControls::ThemeColour& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(colour.On(palette.color(QPalette::Window))));
    label->setPalette(palette);
}

} // namespace

template <class Body> void frmMain::Handler(const char* src, Body&& body) {
    try {
        body();
    } catch (...) {
        m_errors.Show(src, std::current_exception());
    }
}

template <class Body> void frmMain::Procedure(const char* src, Body&& body) {
    try {
        body();
    } catch (...) {
        m_errors.Rethrow(src, std::current_exception());
    }
}

frmMain::frmMain(clsSettings& settings, clsErrorHandler& errors, MidiOutput& output, Clock& clock,
                 MessageBoxes& boxes, Desktop& desktop, std::string settingsPath, QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_errors(errors), m_output(output), m_boxes(boxes),
      m_desktop(desktop), m_settingsPath(std::move(settingsPath)),
      m_programFolder(QCoreApplication::applicationDirPath().toStdString()), m_clock(clock),
      m_engine(output, clock), m_c(this) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(ProgramIcon());
    m_sessionStartMs = NowUtcMs();
    ConnectHandlers();
    Form_Load();
}

void frmMain::SetHistory(HistoryDb* history) {
    m_history = history;
    m_log = QuestionLog(history);
    m_keyboard.SetHistory(history);
    m_drill.SetHistory(history);
}

frmMain::~frmMain() {
    m_engine.RequestStop();
    m_playback.Join();
}

void frmMain::ConnectHandlers() {
    auto whenChosen = [this](QRadioButton* option, auto handler) {
        connect(option, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked)
                handler();
        });
    };
    for (QRadioButton* option : m_c.optKey)
        whenChosen(option, [this] { optKey_Click(); });
    for (QRadioButton* option : m_c.optKeyType)
        whenChosen(option, [this] { optKeyType_Click(); });
    for (int i = 0; i < int(m_c.optReference.size()); ++i)
        whenChosen(m_c.optReference[i], [this, i] { optReference_Click(i); });

    connect(m_c.cboKey, &QComboBox::activated, this, &frmMain::cboKey_Click);
    connect(m_c.cboKeyType, &QComboBox::activated, this, &frmMain::cboKeyType_Click);
    connect(m_c.cboKeyReference, &QComboBox::activated, this, &frmMain::cboKeyReference_Click);
    connect(m_c.cboNoteDuration, &QComboBox::activated, this, &frmMain::cboNoteDuration_Click);

    m_c.txtBPM->installEventFilter(this);
    connect(m_c.txtBPM, &QLineEdit::returnPressed, this, &frmMain::txtBPM_LostFocus);
    connect(m_c.updBMPUp, &QToolButton::clicked, this, [this] { updBMP_Change(+1); });
    connect(m_c.updBMPDown, &QToolButton::clicked, this, [this] { updBMP_Change(-1); });

    for (int i = 0; i < frmMainControls::IntervalRows; ++i) {
        connect(m_c.chkAscInt[i], &QCheckBox::toggled, this, [this, i] { chkAscInt_Click(i); });
        connect(m_c.chkDescInt[i], &QCheckBox::toggled, this, [this, i] { chkDescInt_Click(i); });
        connect(m_c.chkHarmInt[i], &QCheckBox::toggled, this, [this, i] { chkHarmInt_Click(i); });
        m_c.lblInterval[i]->installEventFilter(this);
    }
    for (int k = 0; k < int(m_c.chkSelectAll.size()); ++k)
        connect(m_c.chkSelectAll[k], &QCheckBox::toggled, this,
                [this, k] { chkSelectAll_Click(k); });

    connect(m_c.cmdStart, &QPushButton::clicked, this, &frmMain::cmdStart_Click);
    connect(m_c.cmdPlayAgain, &QPushButton::clicked, this, &frmMain::cmdPlayAgain_Click);
    connect(m_c.cmdShowAnswer, &QPushButton::clicked, this, &frmMain::cmdShowAnswer_Click);
    connect(m_c.cmdStop, &QPushButton::clicked, this, &frmMain::cmdStop_Click);
    connect(m_c.cmdValidate, &QPushButton::clicked, this, &frmMain::cmdValidate_Click);
    connect(m_c.cmdReset, &QPushButton::clicked, this, &frmMain::cmdReset_Click);
    connect(m_c.imgHelp, &QToolButton::clicked, this, &frmMain::imgHelp_Click);

    for (int i = 0; i < int(m_c.mnuViewNotes.size()); ++i)
        connect(m_c.mnuViewNotes[i], &QAction::triggered, this,
                [this, i] { mnuViewNotes_Click(i); });
    for (int i = 0; i < int(m_c.mnuViewCheatMode.size()); ++i)
        connect(m_c.mnuViewCheatMode[i], &QAction::triggered, this,
                [this, i] { mnuViewCheatMode_Click(i); });
    connect(m_c.mnuViewStatistics, &QAction::triggered, this, &frmMain::mnuViewStatistics_Click);
    connect(m_c.mnuFileOpen, &QAction::triggered, this, &frmMain::mnuFileOpen_Click);
    connect(m_c.mnuFileExit, &QAction::triggered, this, &frmMain::mnuFileExit_Click);
    connect(m_c.mnuToolsMidiSetup, &QAction::triggered, this, &frmMain::mnuToolsMidiSetup_Click);
    connect(m_c.mnuToolsMidiKeyboard, &QAction::triggered, this,
            &frmMain::mnuToolsMidiKeyboard_Click);
    for (QListWidget* list : m_c.lstNoteAnswer)
        new DegreeKeys(list);
    connect(m_c.mnuHelpContents, &QAction::triggered, this, &frmMain::mnuHelpContents_Click);
    connect(m_c.mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
}

void frmMain::Form_Load() {
    Handler("frmMain::Form_Load()", [&] {
        setWindowTitle(QString::fromLatin1(ProductName));
        m_engine.SetErrorHandler(&m_errors);
        m_engine.objSettings = &m_playSettings;
        // Raised on the playback thread; handled on the window's.
        m_engine.Feedback = [this](int32_t& code) {
            QMetaObject::invokeMethod(
                this,
                [this, code] {
                    int32_t raised = code;
                    objEngine_Feedback(raised);
                },
                Qt::QueuedConnection);
        };
        GetKeySettings();
        GetKeyTypeSettings();
        GetIntervalSettings();
        GetKeyRefSettings();
        GetTempo();
        // Without a settings file nothing has named the notes yet; name them
        // for the current key so the answer lists are never blank.
        if (m_settings.NotesArray.empty())
            m_settings.SetNoteDisplayMode(m_settings.NoteDisplayMode());
        GetNoteNames();
        GetCheatMode();
        GetViewMode();
        SetQuestionState(Idle);
    });
}

// The fill procedures restore the saved choices without running the handlers,
// so that loading neither writes a setting nor switches a panel to its fixed
// option.

void frmMain::GetKeySettings() {
    Procedure("frmMain::GetKeySettings()", [&] {
        Fill(m_c.cboKey, m_settings.KeyArray, m_settings.CurrentKey());
        Restore(m_c.optKey.at(m_settings.RandomKey() ? 1 : 0), true);
    });
}

void frmMain::GetKeyTypeSettings() {
    Procedure("frmMain::GetKeyTypeSettings()", [&] {
        Fill(m_c.cboKeyType, m_settings.KeyTypeArray, m_settings.CurrentKeyType());
        Restore(m_c.optKeyType.at(m_settings.RandomKeyType() ? 1 : 0), true);
    });
}

void frmMain::GetIntervalSettings() {
    Procedure("frmMain::GetIntervalSettings()", [&] {
        m_c.lstIntervalAnswer->clear();
        for (size_t i = 0; i < m_settings.IntervalArray.size(); ++i) {
            const QString name = Q(m_settings.IntervalArray[i]);
            m_c.lblInterval.at(i)->setText(name);
            m_c.lblInterval.at(i)->setAccessibleName(name);
            m_c.lstIntervalAnswer->addItem(name);
            Restore(m_c.chkAscInt.at(i), m_settings.SelIntervalsAsc.at(i));
            Restore(m_c.chkDescInt.at(i), m_settings.SelIntervalsDesc.at(i));
            Restore(m_c.chkHarmInt.at(i), m_settings.SelIntervalsHarm.at(i));
            m_c.chkAscInt[i]->setAccessibleName(tr("Ascending %1").arg(name));
            m_c.chkDescInt[i]->setAccessibleName(tr("Descending %1").arg(name));
            m_c.chkHarmInt[i]->setAccessibleName(tr("Harmonic %1").arg(name));
        }
    });
}

void frmMain::GetKeyRefSettings() {
    Procedure("frmMain::GetKeyRefSettings()", [&] {
        Fill(m_c.cboKeyReference, m_settings.KeyRefArray, m_settings.CurrentKeyReference());
        Restore(m_c.optReference.at(m_settings.KeyReferenceSettings()), true);
    });
}

void frmMain::GetTempo() {
    Procedure("frmMain::GetTempo()", [&] {
        m_c.txtBPM->setText(QString::number(m_settings.PlaybackSpeed()));
        Fill(m_c.cboNoteDuration, m_settings.NoteDurationArray, m_settings.CurrentNoteDuration());
    });
}

void frmMain::GetNoteNames() {
    Procedure("frmMain::GetNoteNames()", [&] {
        for (QListWidget* list : m_c.lstNoteAnswer)
            list->clear();
        for (const std::string& note : m_settings.NotesArray) {
            m_c.lstNoteAnswer[0]->addItem(Q(note));
            m_c.lstNoteAnswer[1]->addItem(Q(note));
        }
    });
}

void frmMain::GetCheatMode() {
    Procedure("frmMain::GetCheatMode()", [&] {
        const int32_t mode = m_settings.CheatMode();
        for (int i = 0; i < int(m_c.mnuViewCheatMode.size()); ++i)
            m_c.mnuViewCheatMode[i]->setChecked(i == mode);
        bool first = true, second = true, interval = true;
        switch (mode) {
        case 0:
            first = false;
            break;
        case 1:
            second = false;
            break;
        case 2:
            first = second = false;
            break;
        case 3:
            interval = false;
            break;
        case 5:
            break;
        default:
            return;
        }
        m_c.lblNoteAnswer[0]->setEnabled(first);
        m_c.lstNoteAnswer[0]->setEnabled(first);
        m_c.lblNoteAnswer[1]->setEnabled(second);
        m_c.lstNoteAnswer[1]->setEnabled(second);
        m_c.lblIntervalAnswer->setEnabled(interval);
        m_c.lstIntervalAnswer->setEnabled(interval);
    });
}

void frmMain::GetViewMode() {
    Procedure("frmMain::GetViewMode()", [&] {
        for (int i = 0; i < int(m_c.mnuViewNotes.size()); ++i)
            m_c.mnuViewNotes[i]->setChecked(i == m_settings.NoteDisplayMode());
    });
}

void frmMain::optKey_Click() {
    Handler("frmMain::optKey_Click()",
            [&] { m_settings.SetRandomKey(m_c.optKey[1]->isChecked()); });
}

void frmMain::cboKey_Click() {
    Handler("frmMain::cboKey_Click()", [&] {
        // While a question plays the box shows the question's key; the user's
        // fixed or random choice stays.
        if (m_state != Playing)
            m_c.optKey[0]->setChecked(true);
        m_settings.SetCurrentKey(static_cast<int16_t>(m_c.cboKey->currentIndex()));
        if (m_settings.NoteDisplayMode() == 0)
            GetNoteNames();
    });
}

void frmMain::optKeyType_Click() {
    Handler("frmMain::optKeyType_Click()",
            [&] { m_settings.SetRandomKeyType(m_c.optKeyType[1]->isChecked()); });
}

void frmMain::cboKeyType_Click() {
    Handler("frmMain::cboKeyType_Click()", [&] {
        if (m_state != Playing)
            m_c.optKeyType[0]->setChecked(true);
        m_settings.SetCurrentKeyType(m_c.cboKeyType->currentIndex());
        GetNoteNames();
    });
}

void frmMain::optReference_Click(int index) {
    Handler("frmMain::optReference_Click()", [&] { m_settings.SetKeyReferenceSettings(index); });
}

void frmMain::cboKeyReference_Click() {
    Handler("frmMain::cboKeyReference_Click()", [&] {
        if (m_state != Playing)
            m_c.optReference[0]->setChecked(true);
        m_settings.SetCurrentKeyReference(m_c.cboKeyReference->currentIndex());
    });
}

void frmMain::cboNoteDuration_Click() {
    Handler("frmMain::cboNoteDuration_Click()",
            [&] { m_settings.SetCurrentNoteDuration(m_c.cboNoteDuration->currentIndex()); });
}

void frmMain::txtBPM_LostFocus() {
    Handler("frmMain::txtBPM_LostFocus()", [&] {
        double value = 0;
        if (!ReadNumber(m_c.txtBPM->text(), value)) {
            m_c.txtBPM->setText(QString::fromLatin1(DefaultTempoText));
        } else {
            const double whole = std::nearbyint(value);
            if (whole > FastestTempo)
                m_c.txtBPM->setText(QString::number(FastestTempo));
            else if (whole < SlowestTempo)
                m_c.txtBPM->setText(QString::number(SlowestTempo));
        }
        ReadNumber(m_c.txtBPM->text(), value);
        m_settings.SetPlaybackSpeed(static_cast<int16_t>(std::nearbyint(value)));
    });
}

// The arrows step the tempo that is in force and write it at once, rather than
// leaving the new number unapplied until the box loses the focus.
void frmMain::updBMP_Change(int step) {
    Handler("frmMain::updBMP_Change()", [&] {
        txtBPM_LostFocus();
        const int tempo =
            std::clamp(m_settings.PlaybackSpeed() + step, int(SlowestTempo), int(FastestTempo));
        m_c.txtBPM->setText(QString::number(tempo));
        txtBPM_LostFocus();
    });
}

void frmMain::chkAscInt_Click(int index) {
    Handler("frmMain::chkAscInt_Click()",
            [&] { m_settings.SetAsc(int16_t(index), m_c.chkAscInt[index]->isChecked()); });
}

void frmMain::chkDescInt_Click(int index) {
    Handler("frmMain::chkDescInt_Click()",
            [&] { m_settings.SetDesc(int16_t(index), m_c.chkDescInt[index]->isChecked()); });
}

void frmMain::chkHarmInt_Click(int index) {
    Handler("frmMain::chkHarmInt_Click()",
            [&] { m_settings.SetHarm(int16_t(index), m_c.chkHarmInt[index]->isChecked()); });
}

std::array<QCheckBox*, frmMainControls::IntervalRows>& frmMain::Column(int index) {
    switch (index) {
    case 0:
        return m_c.chkAscInt;
    case 1:
        return m_c.chkDescInt;
    default:
        return m_c.chkHarmInt;
    }
}

// A full column is cleared, any other ticked completely; the box then shows
// whether its column is all ticked. Setting the box by program runs this
// handler again, which the flag turns into a no-op.
void frmMain::chkSelectAll_Click(int index) {
    Handler("frmMain::chkSelectAll_Click()", [&] {
        if (m_ignoreSelectAllClick) {
            m_ignoreSelectAllClick = false;
            return;
        }
        auto& column = Column(index);
        const auto ticked = std::count_if(column.begin(), column.end(),
                                          [](const QCheckBox* box) { return box->isChecked(); });
        const bool value = ticked != frmMainControls::IntervalRows;
        for (QCheckBox* box : column)
            box->setChecked(value);
        QCheckBox* selectAll = m_c.chkSelectAll.at(index);
        if (selectAll->isChecked() != value) {
            m_ignoreSelectAllClick = true;
            selectAll->setChecked(value);
        }
    });
}

void frmMain::lblInterval_MouseDown(int index) {
    Handler("frmMain::lblInterval_MouseDown()", [&] {
        const bool clear =
            m_c.chkAscInt.at(index)->isChecked() && m_c.chkDescInt[index]->isChecked();
        m_c.chkAscInt[index]->setChecked(!clear);
        m_c.chkDescInt[index]->setChecked(!clear);
        m_c.chkHarmInt[index]->setChecked(!clear);
    });
}

void frmMain::SetQuestionState(QuestionState state) {
    m_state = state;
    m_keyboard.Restart();
    switch (state) {
    // The score frame stays enabled so that its counters stay readable while
    // practising; only its Reset button follows the frame's availability.
    case Idle:
        m_c.fraAnswers->setEnabled(false);
        for (QGroupBox* frame :
             {m_c.fraCadence, m_c.fraIntervalChoices, m_c.fraKey, m_c.fraKeyType, m_c.fraTempo})
            frame->setEnabled(true);
        m_c.cmdReset->setEnabled(true);
        m_c.cmdPlayAgain->setEnabled(false);
        m_c.cmdStart->setEnabled(true);
        m_c.cmdStop->setEnabled(false);
        m_c.cmdShowAnswer->setEnabled(false);
        m_c.cmdStart->setFocus(Qt::OtherFocusReason);
        ShowStatus(QString::fromLatin1(IdleStatus));
        break;
    case Playing:
        for (QGroupBox* frame : {m_c.fraAnswers, m_c.fraCadence, m_c.fraIntervalChoices, m_c.fraKey,
                                 m_c.fraKeyType, m_c.fraTempo})
            frame->setEnabled(false);
        for (QPushButton* button :
             {m_c.cmdReset, m_c.cmdPlayAgain, m_c.cmdStart, m_c.cmdStop, m_c.cmdShowAnswer})
            button->setEnabled(false);
        break;
    case Answering:
        m_c.fraAnswers->setEnabled(true);
        m_c.cmdPlayAgain->setEnabled(true);
        m_c.cmdStop->setEnabled(true);
        m_c.cmdShowAnswer->setEnabled(true);
        for (QListWidget* list :
             {m_c.lstNoteAnswer[0], m_c.lstNoteAnswer[1], m_c.lstIntervalAnswer})
            if (list->isEnabled()) {
                list->setFocus(Qt::OtherFocusReason);
                break;
            }
        ShowStatus(QString::fromLatin1(AnsweringStatus));
        break;
    }
}

void frmMain::ShowStatus(const QString& text) {
    m_c.stbStatusText->setText(text);
}

void frmMain::cmdStart_Click() {
    try {
        bool ticked = false;
        for (int i = 0; i < frmMainControls::IntervalRows && !ticked; ++i)
            ticked = m_c.chkAscInt[i]->isChecked() || m_c.chkDescInt[i]->isChecked() ||
                     m_c.chkHarmInt[i]->isChecked();
        if (!ticked) {
            m_boxes.Show(ProductName,
                         "Select at least one ascending, descending or harmonic interval.",
                         MsgIcon::Critical);
            return;
        }
        // Busy, not waiting: the window stays usable while the question plays.
        setCursor(Qt::BusyCursor);
        SetQuestionState(Playing);
        ClearSelection(m_c.lstIntervalAnswer);
        ClearSelection(m_c.lstNoteAnswer[0]);
        ClearSelection(m_c.lstNoteAnswer[1]);
        m_missed = false;
        m_engine.Drill = m_drill.Prepare();
        m_drillQuestion = m_engine.Drill != nullptr;
        StartPlayback("frmMain::cmdStart_Click()", Idle, &clsEngine::NewQuestion);
    } catch (...) {
        m_errors.Show("frmMain::cmdStart_Click()", std::current_exception());
        RecoverFromPlayback(Idle);
    }
}

void frmMain::cmdPlayAgain_Click() {
    try {
        setCursor(Qt::BusyCursor);
        SetQuestionState(Playing);
        m_log.PlayedAgain();
        StartPlayback("frmMain::cmdPlayAgain_Click()", Answering, &clsEngine::PlayAgain);
    } catch (...) {
        m_errors.Show("frmMain::cmdPlayAgain_Click()", std::current_exception());
        RecoverFromPlayback(Answering);
    }
}

void frmMain::StartPlayback(const char* src, QuestionState back, void (clsEngine::*play)()) {
    m_playSettings = m_settings;
    m_inEngine = true;
    m_playback.Start(
        this, [this, play] { (m_engine.*play)(); },
        [this, src, back](std::exception_ptr failure) { PlaybackEnded(src, back, failure); });
}

void frmMain::PlaybackEnded(const char* src, QuestionState back, std::exception_ptr failure) {
    m_playback.Join();
    m_inEngine = false;
    try {
        if (failure)
            std::rethrow_exception(failure);
        SetQuestionState(Answering);
        m_log.NotesEnded(m_clock.NowMicros());
        unsetCursor();
    } catch (...) {
        m_errors.Show(src, std::current_exception());
        RecoverFromPlayback(back);
    }
    CloseChangedDevice();
    CompletePendingClose();
}

// The user can then fix the MIDI setup and try again, instead of facing a
// window whose every button is disabled.
void frmMain::RecoverFromPlayback(QuestionState back) {
    m_inEngine = false;
    if (m_state == Playing) {
        try {
            SetQuestionState(back);
        } catch (...) {
            m_errors.Show("frmMain::SetQuestionState()", std::current_exception());
        }
    }
    unsetCursor();
}

void frmMain::CompletePendingClose() {
    if (!m_closePending || m_inEngine)
        return;
    m_closePending = false;
    unsetCursor();
    close();
}

void frmMain::cmdShowAnswer_Click() {
    Handler("frmMain::cmdShowAnswer_Click()", [&] {
        m_c.lstIntervalAnswer->setCurrentRow(m_engine.CurrentInterval());
        m_c.lstNoteAnswer[0]->setCurrentRow(m_engine.FirstNote());
        m_c.lstNoteAnswer[1]->setCurrentRow(m_engine.SecondNote());
        m_missed = true;
        m_log.AnswerShown();
    });
}

void frmMain::cmdStop_Click() {
    Handler("frmMain::cmdStop_Click()", [&] { SetQuestionState(Idle); });
}

void frmMain::ChooseEntry(QComboBox* combo, int index, void (frmMain::*handler)()) {
    {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(index);
    }
    (this->*handler)();
}

void frmMain::objEngine_Feedback(int32_t& code) {
    Handler("frmMain::objEngine_Feedback()", [&] {
        switch (code) {
        case 0: {
            UpdateAnswerLabels();
            // The question's random choices become the settings: its
            // instruments here, its key, key type and reference through their
            // boxes, whose handlers refill the note lists for them.
            m_settings.SetMIDIInstrumentKR(m_playSettings.MIDIInstrumentKR());
            m_settings.SetMIDIInstrumentRN(m_playSettings.MIDIInstrumentRN());
            ChooseEntry(m_c.cboKeyReference, m_playSettings.CurrentKeyReference(),
                        &frmMain::cboKeyReference_Click);
            ChooseEntry(m_c.cboKey, m_playSettings.CurrentKey(), &frmMain::cboKey_Click);
            ChooseEntry(m_c.cboKeyType, m_playSettings.CurrentKeyType(),
                        &frmMain::cboKeyType_Click);
            AnswerRecord question;
            question.Key = m_playSettings.CurrentKey();
            question.KeyType = m_playSettings.CurrentKeyType();
            question.KeyReference = m_playSettings.CurrentKeyReference();
            question.IntervalType = m_engine.CurrentIntervalType();
            question.Interval = m_engine.CurrentInterval();
            question.FirstDegree = m_engine.FirstNote();
            question.SecondDegree = m_engine.SecondNote();
            question.FirstMidiNote = m_engine.FirstMidiNote();
            question.SecondMidiNote = m_engine.SecondMidiNote();
            m_log.Asked(question);
            ShowStatus(QString::fromLatin1(KeyReferenceStatus));
            break;
        }
        case 5:
            m_c.lblFeedback->clear();
            ShowStatus(QString::fromLatin1(TwoNotesStatus));
            break;
        default:
            break;
        }
    });
}

void frmMain::UpdateAnswerLabels() {
    Procedure("frmMain::UpdateAnswerLabels()", [&] {
        const bool harmonic = m_engine.CurrentIntervalType() == 2;
        m_c.lblNoteAnswer[0]->setText(harmonic ? tr("1. What was the lowest note?")
                                               : tr("1. What was the first note?"));
        m_c.lblNoteAnswer[1]->setText(harmonic ? tr("2. What was the highest note?")
                                               : tr("2. What was the second note?"));
    });
}

void frmMain::cmdValidate_Click() {
    Handler("frmMain::cmdValidate_Click()", [&] {
        int16_t note1 = SelectedRow(m_c.lstNoteAnswer[0]);
        int16_t note2 = SelectedRow(m_c.lstNoteAnswer[1]);
        int16_t interval = SelectedRow(m_c.lstIntervalAnswer);
        // A skipped question counts as answered correctly.
        const int32_t cheat = m_settings.CheatMode();
        const bool firstGiven = cheat == 0 || cheat == 2;
        const bool secondGiven = cheat == 1 || cheat == 2;
        const bool intervalGiven = cheat == 3;
        if (firstGiven)
            note1 = m_engine.FirstNote();
        if (secondGiven)
            note2 = m_engine.SecondNote();
        if (intervalGiven)
            interval = m_engine.CurrentInterval();
        if (note1 == -1 || note2 == -1 || interval == -1) {
            m_boxes.Show("Incomplete answer",
                         "Please select the correct notes and interval\r\nfrom the corresponding "
                         "lists in the \"Questions\" frame.",
                         MsgIcon::Exclamation);
            return;
        }
        auto asked = [](bool given, int32_t answer) {
            return given ? std::nullopt : std::optional(answer);
        };
        m_log.Validated(asked(firstGiven, note1), asked(secondGiven, note2),
                        asked(intervalGiven, interval), cheat, m_clock.NowMicros(), NowUtcMs());
        const bool notesRight = note1 == m_engine.FirstNote() && note2 == m_engine.SecondNote();
        const bool right = notesRight && interval == m_engine.CurrentInterval();
        if (std::exchange(m_drillQuestion, false))
            m_drill.Answered({m_engine.CurrentIntervalType(), m_engine.CurrentInterval(),
                              m_engine.FirstNote(), m_engine.SecondNote()},
                             right && !m_missed, !notesRight);
        if (const std::string problem = m_history ? m_history->TakeProblem() : ""; !problem.empty())
            m_boxes.Show(ProductName, problem, MsgIcon::Exclamation);
        if (right) {
            SetColour(m_c.lblFeedback, frmMainControls::StartColour);
            m_c.lblFeedback->setText(tr("Correct!"));
            ++m_questions;
            if (!m_missed)
                ++m_correct;
            m_c.lblTotalQ->setText(QString::number(m_questions));
            m_c.lblTotalA->setText(QString::number(m_correct));
            m_c.lblScore->setText(ScoreText(m_correct, m_questions));
            cmdStart_Click();
        } else {
            SetColour(m_c.lblFeedback, frmMainControls::StopColour);
            m_c.lblFeedback->setText(tr("No,\nnot correct."));
            m_missed = true;
        }
    });
}

QString frmMain::ScoreText(int32_t correct, int32_t questions) {
    // Whole tenths of a percent, rounded in integers so that a half is exact.
    const int64_t scaled = int64_t(correct) * 1000;
    int64_t tenths = scaled / questions;
    const int64_t twiceRest = 2 * (scaled % questions);
    if (twiceRest > questions || (twiceRest == questions && tenths % 2 != 0))
        ++tenths;
    QString text = QString::number(tenths / 10);
    if (tenths % 10 != 0)
        text += QLocale().decimalPoint() + QString::number(tenths % 10);
    return text + QLatin1Char('%');
}

void frmMain::cmdReset_Click() {
    Handler("frmMain::cmdReset_Click()", [&] {
        m_questions = 0;
        m_correct = 0;
        m_c.lblTotalQ->setText(QStringLiteral("0"));
        m_c.lblTotalA->setText(QStringLiteral("0"));
        m_c.lblScore->clear();
    });
}

void frmMain::mnuViewCheatMode_Click(int index) {
    Handler("frmMain::mnuViewCheatMode_Click()", [&] {
        m_settings.SetCheatMode(index);
        GetCheatMode();
    });
}

void frmMain::mnuViewNotes_Click(int index) {
    Handler("frmMain::mnuViewNotes_Click()", [&] {
        m_settings.SetNoteDisplayMode(index);
        GetNoteNames();
        GetViewMode();
    });
}

// One Statistics window at a time, beside the main window and read afresh at each opening.
void frmMain::mnuViewStatistics_Click() {
    Handler("frmMain::mnuViewStatistics_Click()", [&] {
        if (m_statistics)
            m_statistics->close();
        auto* window = new frmStatistics(
            m_history, {m_settings.KeyArray, m_settings.KeyTypeArray, m_settings.IntervalArray},
            m_sessionStartMs, m_boxes, m_desktop, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        m_statistics = window;
        window->show();
        window->raise();
        window->activateWindow();
    });
}

void frmMain::mnuFileOpen_Click() {
    Handler("frmMain::mnuFileOpen_Click()", [&] {
        std::error_code error;
        if (std::filesystem::is_regular_file(m_settingsPath, error)) {
            if (!m_desktop.OpenInEditor(m_settingsPath))
                m_boxes.Show(ProductName,
                             "No text editor could be started for the settings file " +
                                 m_settingsPath,
                             MsgIcon::Exclamation);
        } else
            m_boxes.Show(ProductName, "The settings file has not been created yet.",
                         MsgIcon::Exclamation);
    });
}

void frmMain::mnuFileExit_Click() {
    close();
}

// The engine keeps its device open from one question to the next; closing it
// lets the next question open the device just chosen. The menu stays usable
// while a question plays, and that question ends on the device it began on.
void frmMain::mnuToolsMidiSetup_Click() {
    Handler("frmMain::mnuToolsMidiSetup_Click()", [&] {
        frmMIDISetup dialog(m_settings, m_output, m_boxes, m_errors, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        if (m_inEngine)
            m_deviceChanged = true;
        else
            m_engine.StopPlaying();
    });
}

void frmMain::mnuToolsMidiKeyboard_Click() {
    Handler("frmMain::mnuToolsMidiKeyboard_Click()", [&] {
        frmMidiKeyboard dialog(m_keyboard, this);
        dialog.exec();
    });
}

void frmMain::CloseChangedDevice() {
    if (!m_deviceChanged || m_inEngine)
        return;
    m_deviceChanged = false;
    Handler("frmMain::mnuToolsMidiSetup_Click()", [&] { m_engine.StopPlaying(); });
}

void frmMain::mnuHelpContents_Click() {
    Handler("frmMain::mnuHelpContents_Click()", [&] { ShowHelp(); });
}

void frmMain::imgHelp_Click() {
    Handler("frmMain::imgHelp_Click()", [&] { ShowHelp(); });
}

void frmMain::mnuHelpAbout_Click() {
    Handler("frmMain::mnuHelpAbout_Click()", [&] {
        frmAbout dialog(this, &m_errors);
        dialog.exec();
    });
}

void frmMain::ShowHelp() {
    Procedure("frmMain::ShowHelp()", [&] {
        const std::string page = HelpIndexPath(m_programFolder);
        std::error_code error;
        if (std::filesystem::is_regular_file(page, error))
            m_desktop.ShowHelpPage(page);
        else
            m_boxes.Show(ProductName, "Cannot find the help file " + page, MsgIcon::Critical);
    });
}

void frmMain::Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    try {
        m_settings.SaveToDisk(m_settingsPath);
    } catch (...) {
        m_errors.Show("frmMain::Form_Unload()", std::current_exception());
    }
}

// A theme switched while the program runs brings a new palette: the rims
// follow it (a verdict takes the colours of the moment it shows).
void frmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        m_c.ColourRims(palette().color(QPalette::Window));
    QMainWindow::changeEvent(event);
}

// A close while a question plays (the window manager's, Exit from the menu
// that stays usable during playback, or a termination signal) saves at once
// and stops the question at once, its sounding notes stopped; the window
// closes as soon as the playback thread has returned, a moment later.
void frmMain::closeEvent(QCloseEvent* event) {
    Unload();
    if (m_inEngine) {
        m_closePending = true;
        m_engine.RequestStop();
        event->ignore();
        return;
    }
    CloseDialogs();
    event->accept();
}

void frmMain::CloseDialogs() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialog->reject();
}

// The answer lists pass Enter on: it validates, as the default button of the
// answer frame would.
void frmMain::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && m_state == Answering && m_c.cmdValidate->isEnabled()) {
        cmdValidate_Click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        for (int i = 0; i < frmMainControls::IntervalRows; ++i) {
            // Mouse presses reach the filter even while the frame is disabled.
            if (watched == m_c.lblInterval[i] && m_c.lblInterval[i]->isEnabled())
                lblInterval_MouseDown(i);
        }
    } else if (event->type() == QEvent::FocusOut && watched == m_c.txtBPM) {
        txtBPM_LostFocus();
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace sonavel
