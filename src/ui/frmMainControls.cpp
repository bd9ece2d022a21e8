#include "ui/frmMainControls.h"

#include "ui/AccessKeyButton.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

namespace sonavel {

namespace {

QString Indexed(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

// The caption as a screen reader should say it: without the access-key mark.
QString Spoken(const QString& caption) {
    QString text = caption;
    text.remove(QLatin1Char('&'));
    return text;
}

template <class Widget> Widget* Named(Widget* widget, const QString& name, const QString& spoken) {
    widget->setObjectName(name);
    widget->setAccessibleName(spoken);
    return widget;
}

template <class Widget>
Widget* Captioned(QWidget* parent, const char* name, const QString& caption) {
    return Named(new Widget(caption, parent), QLatin1String(name), Spoken(caption));
}

QComboBox* DropDown(QWidget* parent, const char* name, const QString& spoken) {
    auto* combo = Named(new QComboBox(parent), QLatin1String(name), spoken);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

QListWidget* AnswerList(QWidget* parent, const QString& name, const QString& spoken) {
    auto* list = Named(new QListWidget(parent), name, spoken);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return list;
}

// Sets a list's height to show rows entries without scrolling.
void FitRows(QListWidget* list, int rows) {
    list->addItem(QStringLiteral("C#"));
    const int row = list->sizeHintForRow(0);
    list->clear();
    list->setFixedHeight(rows * row + 2 * list->frameWidth() + 2);
}

// A filled rectangle behind a button, one pixel larger at the left, right and
// top and two at the bottom, so that the button shows a coloured rim.
QFrame* Rim(QWidget* parent, const char* name, QPushButton* button) {
    auto* rim = Named(new QFrame(parent), QLatin1String(name),
                      Spoken(button->text()) + QStringLiteral(" rim"));
    rim->setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(rim);
    layout->setContentsMargins(1, 1, 1, 2);
    layout->setSpacing(0);
    button->setParent(rim);
    layout->addWidget(button);
    rim->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return rim;
}

QPushButton* ActionButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = Captioned<AccessKeyButton>(parent, name, caption);
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(Spoken(caption)) + 36);
    button->setMinimumHeight(30);
    button->setAutoDefault(false);
    return button;
}

QLabel* Value(QWidget* parent, const char* name, const QString& text, const QString& spoken) {
    auto* label = Named(new QLabel(text, parent), QLatin1String(name), spoken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("100.0%")) + 4);
    return label;
}

// The fixed option with its list on the first row, the random option below.
void LayFixedOrRandom(QGroupBox* frame, QRadioButton* fixed, QComboBox* list,
                      QRadioButton* random) {
    auto* grid = new QGridLayout(frame);
    grid->addWidget(fixed, 0, 0);
    grid->addWidget(list, 0, 1);
    grid->addWidget(random, 1, 0, 1, 2);
    grid->setColumnStretch(2, 1);
}

} // namespace

frmMainControls::frmMainControls(QMainWindow* window) {
    auto* central = new QWidget(window);
    central->setObjectName(QStringLiteral("centralWidget"));
    BuildSettingsPanels(central);
    BuildIntervalGrid(central);
    BuildAnswerPanels(central);
    BuildButtons(central);
    BuildMenus(window);
    Layout(window, central);
}

void frmMainControls::ColourRims(const QColor& window) {
    const std::pair<QFrame*, ThemeColour> rims[] = {
        {shpStart, StartColour}, {shpPlayAgain, PlayAgainColour}, {shpStop, StopColour}};
    for (const auto& [rim, colour] : rims) {
        QPalette palette = rim->palette();
        palette.setColor(QPalette::Window, QColor(colour.On(window)));
        rim->setPalette(palette);
    }
}

void frmMainControls::BuildSettingsPanels(QWidget* parent) {
    fraKey = Captioned<QGroupBox>(parent, "fraKey", tr("Select the key for each exercise"));
    optKey[0] =
        Named(new QRadioButton(tr("Fixed key:"), fraKey), Indexed("optKey", 0), tr("Fixed key"));
    optKey[1] =
        Named(new QRadioButton(tr("Random key"), fraKey), Indexed("optKey", 1), tr("Random key"));
    cboKey = DropDown(fraKey, "cboKey", tr("Key"));
    LayFixedOrRandom(fraKey, optKey[0], cboKey, optKey[1]);

    fraKeyType = Captioned<QGroupBox>(parent, "fraKeyType", tr("Select the key type"));
    optKeyType[0] = Named(new QRadioButton(tr("Fixed key type:"), fraKeyType),
                          Indexed("optKeyType", 0), tr("Fixed key type"));
    optKeyType[1] = Named(new QRadioButton(tr("Random major and minor"), fraKeyType),
                          Indexed("optKeyType", 1), tr("Random major and minor"));
    cboKeyType = DropDown(fraKeyType, "cboKeyType", tr("Key type"));
    LayFixedOrRandom(fraKeyType, optKeyType[0], cboKeyType, optKeyType[1]);

    fraCadence = Captioned<QGroupBox>(parent, "fraCadence", tr("Select how to establish the key"));
    const QString references[] = {tr("Fixed reference:"), tr("Random key reference"),
                                  tr("No key reference")};
    for (int i = 0; i < 3; ++i)
        optReference[i] = Named(new QRadioButton(references[i], fraCadence),
                                Indexed("optReference", i), Spoken(references[i]));
    optReference[0]->setAccessibleName(tr("Fixed reference"));
    cboKeyReference = DropDown(fraCadence, "cboKeyReference", tr("Key reference"));
    auto* cadence = new QGridLayout(fraCadence);
    cadence->addWidget(optReference[0], 0, 0);
    cadence->addWidget(cboKeyReference, 0, 1);
    cadence->addWidget(optReference[1], 1, 0, 1, 2);
    cadence->addWidget(optReference[2], 2, 0, 1, 2);
    cadence->setColumnStretch(2, 1);

    fraTempo = Captioned<QGroupBox>(parent, "fraTempo", tr("Tempo"));
    const QString tempoCaptions[] = {tr("General tempo:"), tr("Random note duration:"), tr("BPM")};
    for (int i = 0; i < 3; ++i)
        lblTempo[i] = Named(new QLabel(tempoCaptions[i], fraTempo), Indexed("lblTempo", i),
                            Spoken(tempoCaptions[i]));
    txtBPM = Named(new QLineEdit(QStringLiteral("100"), fraTempo), QStringLiteral("txtBPM"),
                   tr("Tempo in beats per minute"));
    txtBPM->setAlignment(Qt::AlignRight);
    txtBPM->setMaxLength(12);
    txtBPM->setFixedWidth(txtBPM->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    lblTempo[0]->setBuddy(txtBPM);

    updBMP = Named(new QWidget(fraTempo), QStringLiteral("updBMP"), tr("Tempo up-down"));
    updBMPUp = Named(new QToolButton(updBMP), QStringLiteral("updBMP_Up"), tr("Faster"));
    updBMPDown = Named(new QToolButton(updBMP), QStringLiteral("updBMP_Down"), tr("Slower"));
    auto* arrows = new QVBoxLayout(updBMP);
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    const int arrowHeight = txtBPM->sizeHint().height() / 2;
    for (QToolButton* arrow : {updBMPUp, updBMPDown}) {
        arrow->setArrowType(arrow == updBMPUp ? Qt::UpArrow : Qt::DownArrow);
        arrow->setAutoRepeat(true);
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setFixedSize(arrowHeight + 6, arrowHeight);
        arrows->addWidget(arrow);
    }

    cboNoteDuration = DropDown(fraTempo, "cboNoteDuration", tr("Random note duration"));
    lblTempo[1]->setBuddy(cboNoteDuration);
    auto* tempo = new QGridLayout(fraTempo);
    auto* bpm = new QHBoxLayout;
    bpm->setSpacing(2);
    bpm->addWidget(txtBPM);
    bpm->addWidget(updBMP);
    bpm->addSpacing(4);
    bpm->addWidget(lblTempo[2]);
    bpm->addStretch(1);
    tempo->addWidget(lblTempo[0], 0, 0);
    tempo->addLayout(bpm, 0, 1);
    tempo->addWidget(lblTempo[1], 1, 0);
    tempo->addWidget(cboNoteDuration, 1, 1, Qt::AlignLeft);
    tempo->setColumnStretch(1, 1);
}

void frmMainControls::BuildIntervalGrid(QWidget* parent) {
    fraIntervalChoices = Captioned<QGroupBox>(parent, "fraIntervalChoices",
                                              tr("Select the intervals to be tested on"));
    lblAsc = Captioned<QLabel>(fraIntervalChoices, "lblAsc", tr("Ascending"));
    lblDesc = Captioned<QLabel>(fraIntervalChoices, "lblDesc", tr("Descending"));
    Label1 = Captioned<QLabel>(fraIntervalChoices, "Label1", tr("Harmonic"));
    auto* grid = new QGridLayout(fraIntervalChoices);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(12);
    int column = 1;
    for (QLabel* head : {lblAsc, lblDesc, Label1}) {
        head->setAlignment(Qt::AlignCenter);
        QFont bold = head->font();
        bold.setBold(true);
        head->setFont(bold);
        grid->addWidget(head, 0, column++);
    }

    auto box = [&](const char* name, int i) {
        auto* check = Named(new QCheckBox(fraIntervalChoices), Indexed(name, i), QString());
        return check;
    };
    for (int i = 0; i < IntervalRows; ++i) {
        lblInterval[i] =
            Named(new QLabel(fraIntervalChoices), Indexed("lblInterval", i), QString());
        lblInterval[i]->setToolTip(tr("Click to tick or clear the whole row"));
        lblInterval[i]->setCursor(Qt::PointingHandCursor);
        chkAscInt[i] = box("chkAscInt", i);
        chkDescInt[i] = box("chkDescInt", i);
        chkHarmInt[i] = box("chkHarmInt", i);
        grid->addWidget(lblInterval[i], i + 1, 0);
        grid->addWidget(chkAscInt[i], i + 1, 1, Qt::AlignCenter);
        grid->addWidget(chkDescInt[i], i + 1, 2, Qt::AlignCenter);
        grid->addWidget(chkHarmInt[i], i + 1, 3, Qt::AlignCenter);
    }

    auto* rule = new QFrame(fraIntervalChoices);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    grid->addWidget(rule, IntervalRows + 1, 0, 1, 4);
    lblSelectAll = Captioned<QLabel>(fraIntervalChoices, "lblSelectAll", tr("(un)select all"));
    grid->addWidget(lblSelectAll, IntervalRows + 2, 0);
    const QString columns[] = {tr("ascending"), tr("descending"), tr("harmonic")};
    for (int k = 0; k < 3; ++k) {
        chkSelectAll[k] = Named(new QCheckBox(fraIntervalChoices), Indexed("chkSelectAll", k),
                                tr("(Un)select all %1 intervals").arg(columns[k]));
        grid->addWidget(chkSelectAll[k], IntervalRows + 2, k + 1, Qt::AlignCenter);
    }
    grid->setRowStretch(IntervalRows + 3, 1);
}

void frmMainControls::BuildAnswerPanels(QWidget* parent) {
    fraAnswers = Captioned<QGroupBox>(parent, "fraAnswers", tr("Questions"));
    Label2 = Captioned<QLabel>(
        fraAnswers, "Label2",
        tr("Select the correct answers from the lists and click on the button below"));
    Label2->setWordWrap(true);
    const QString notes[] = {tr("1. What was the first note?"), tr("2. What was the second note?")};
    for (int i = 0; i < 2; ++i) {
        lblNoteAnswer[i] =
            Named(new QLabel(notes[i], fraAnswers), Indexed("lblNoteAnswer", i), notes[i]);
        lstNoteAnswer[i] = AnswerList(fraAnswers, Indexed("lstNoteAnswer", i),
                                      i == 0 ? tr("First note") : tr("Second note"));
        FitRows(lstNoteAnswer[i], 7);
    }
    lblIntervalAnswer = Captioned<QLabel>(fraAnswers, "lblIntervalAnswer",
                                          tr("3. What interval do these two notes form?"));
    lstIntervalAnswer = AnswerList(fraAnswers, QStringLiteral("lstIntervalAnswer"), tr("Interval"));
    lstIntervalAnswer->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    lstIntervalAnswer->setMinimumHeight(lstNoteAnswer[0]->height());
    cmdValidate = ActionButton(fraAnswers, "cmdValidate", tr("Validate"));

    // The two note questions stacked on the left, the interval question, whose
    // list is twice as long, beside them.
    auto* answers = new QGridLayout(fraAnswers);
    answers->setHorizontalSpacing(12);
    answers->addWidget(Label2, 0, 0, 1, 2);
    QLabel* questions[] = {lblNoteAnswer[0], lblNoteAnswer[1], lblIntervalAnswer};
    QListWidget* lists[] = {lstNoteAnswer[0], lstNoteAnswer[1], lstIntervalAnswer};
    // Wrapped labels get their height from the layout, which does not ask
    // them for it; two lines are always kept free.
    const int twoLines = Label2->fontMetrics().lineSpacing() * 2 + 2;
    Label2->setMinimumHeight(twoLines);
    for (int i = 0; i < 3; ++i) {
        questions[i]->setWordWrap(true);
        questions[i]->setMinimumHeight(twoLines);
        questions[i]->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        questions[i]->setBuddy(lists[i]);
    }
    answers->addWidget(lblNoteAnswer[0], 1, 0);
    answers->addWidget(lstNoteAnswer[0], 2, 0);
    answers->addWidget(lblNoteAnswer[1], 3, 0);
    answers->addWidget(lstNoteAnswer[1], 4, 0);
    answers->addWidget(lblIntervalAnswer, 1, 1);
    answers->addWidget(lstIntervalAnswer, 2, 1, 3, 1);
    answers->addWidget(cmdValidate, 5, 0, 1, 2, Qt::AlignRight);
    answers->setColumnStretch(0, 1);
    answers->setColumnStretch(1, 1);
    answers->setRowStretch(6, 1);

    lblFeedback = Named(new QLabel(parent), QStringLiteral("lblFeedback"), tr("Verdict"));
    lblFeedback->setAlignment(Qt::AlignCenter);
    QFont verdict = lblFeedback->font();
    verdict.setBold(true);
    verdict.setPointSizeF(verdict.pointSizeF() * 1.5);
    lblFeedback->setFont(verdict);
    lblFeedback->setMinimumHeight(QFontMetrics(verdict).lineSpacing() * 2 + 4);

    fraScore = Captioned<QGroupBox>(parent, "fraScore", tr("Your Score"));
    lblQuestions = Captioned<QLabel>(fraScore, "lblQuestions", tr("Total number of questions:"));
    lblTotalQ = Value(fraScore, "lblTotalQ", QStringLiteral("0"), tr("Total number of questions"));
    lblCorrectAnswers = Captioned<QLabel>(fraScore, "lblCorrectAnswers", tr("Correct answers:"));
    lblTotalA = Value(fraScore, "lblTotalA", QStringLiteral("0"), tr("Correct answers"));
    lblYourScore = Captioned<QLabel>(fraScore, "lblYourScore", tr("Your score:"));
    lblScore = Value(fraScore, "lblScore", QString(), tr("Your score"));
    cmdReset = ActionButton(fraScore, "cmdReset", tr("&Reset"));
    auto* score = new QGridLayout(fraScore);
    score->addWidget(lblQuestions, 0, 0);
    score->addWidget(lblTotalQ, 0, 1);
    score->addWidget(lblCorrectAnswers, 1, 0);
    score->addWidget(lblTotalA, 1, 1);
    score->addWidget(lblYourScore, 2, 0);
    score->addWidget(lblScore, 2, 1);
    score->addWidget(cmdReset, 0, 3, 3, 1, Qt::AlignRight | Qt::AlignBottom);
    score->setColumnStretch(2, 1);
}

void frmMainControls::BuildButtons(QWidget* parent) {
    cmdStart = ActionButton(parent, "cmdStart", tr("&Start"));
    cmdPlayAgain = ActionButton(parent, "cmdPlayAgain", tr("Play &again"));
    cmdShowAnswer = ActionButton(parent, "cmdShowAnswer", tr("Show correct answer"));
    cmdStop = ActionButton(parent, "cmdStop", tr("&Stop"));
    shpStart = Rim(parent, "shpStart", cmdStart);
    shpPlayAgain = Rim(parent, "shpPlayAgain", cmdPlayAgain);
    shpStop = Rim(parent, "shpStop", cmdStop);
    ColourRims(parent->palette().color(QPalette::Window));

    imgHelp = Named(new QToolButton(parent), QStringLiteral("imgHelp"), tr("Help Topics"));
    imgHelp->setToolTip(tr("Help Topics"));
    imgHelp->setIcon(imgHelp->style()->standardIcon(QStyle::SP_DialogHelpButton));
    imgHelp->setIconSize(QSize(32, 32));
    imgHelp->setAutoRaise(true);
    // A picture, as Help has its menu and F1: focus passing by after Start or
    // Stop must not leave Space or Enter opening the help.
    imgHelp->setFocusPolicy(Qt::NoFocus);
    imgHelp->setCursor(Qt::PointingHandCursor);
}

void frmMainControls::BuildMenus(QMainWindow* window) {
    auto menu = [&](QMenu* parentMenu, const char* name, const QString& caption) {
        QMenu* result =
            parentMenu ? parentMenu->addMenu(caption) : window->menuBar()->addMenu(caption);
        result->setObjectName(QLatin1String(name));
        result->menuAction()->setObjectName(QLatin1String(name));
        return result;
    };
    auto item = [](QMenu* parentMenu, const QString& name, const QString& caption) {
        QAction* action = parentMenu->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    window->menuBar()->setObjectName(QStringLiteral("menuBar"));

    mnuFile = menu(nullptr, "mnuFile", tr("&File"));
    mnuFileOpen = item(mnuFile, QStringLiteral("mnuFileOpen"), tr("&Open Settings File..."));
    mnuFile->addSeparator();
    mnuFileExit = item(mnuFile, QStringLiteral("mnuFileExit"), tr("E&xit"));

    mnuView = menu(nullptr, "mnuView", tr("&View"));
    const QString notes[] = {tr("Note &Names"), tr("Scale &Degrees"),
                             tr("Solfeggio Syllables (&movable do)")};
    for (int i = 0; i < 3; ++i) {
        mnuViewNotes[i] = item(mnuView, Indexed("mnuViewNotes", i), notes[i]);
        mnuViewNotes[i]->setCheckable(true);
    }
    mnuView->addSeparator();
    mnuViewCheat = menu(mnuView, "mnuViewCheat", tr("&Question Preferences"));
    const QString cheats[] = {tr("&1. Skip question 1"),
                              tr("&2. Skip question 2"),
                              tr("&3. Skip questions 1 and 2"),
                              tr("&4. Skip question 3"),
                              QString(),
                              tr("(answer all questions - default)")};
    for (int i = 0; i < 6; ++i) {
        if (cheats[i].isEmpty()) {
            mnuViewCheatMode[i] = mnuViewCheat->addSeparator();
            mnuViewCheatMode[i]->setObjectName(Indexed("mnuViewCheatMode", i));
            continue;
        }
        mnuViewCheatMode[i] = item(mnuViewCheat, Indexed("mnuViewCheatMode", i), cheats[i]);
        mnuViewCheatMode[i]->setCheckable(true);
    }
    mnuView->addSeparator();
    mnuViewStatistics = item(mnuView, QStringLiteral("mnuViewStatistics"), tr("&Statistics..."));
    mnuViewStatistics->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));

    mnuTools = menu(nullptr, "mnuTools", tr("&Tools"));
    mnuToolsMidiSetup = item(mnuTools, QStringLiteral("mnuToolsMidiSetup"), tr("&Midi setup..."));
    mnuToolsMidiKeyboard =
        item(mnuTools, QStringLiteral("mnuToolsMidiKeyboard"), tr("MIDI &keyboard..."));

    mnuHelp = menu(nullptr, "mnuHelp", tr("&Help"));
    mnuHelpContents =
        item(mnuHelp, QStringLiteral("mnuHelpContents"), tr("&Contents and Index..."));
    mnuHelp->addSeparator();
    mnuHelpAbout = item(mnuHelp, QStringLiteral("mnuHelpAbout"), tr("&About Sonavel..."));
}

void frmMainControls::Layout(QMainWindow* window, QWidget* central) {
    auto* settings = new QVBoxLayout;
    for (QGroupBox* frame : {fraKey, fraKeyType, fraCadence, fraTempo})
        settings->addWidget(frame);
    settings->addStretch(1);

    auto* results = new QVBoxLayout;
    results->addWidget(fraAnswers, 1);
    results->addWidget(lblFeedback);
    results->addWidget(fraScore);

    auto* panels = new QHBoxLayout;
    panels->setSpacing(10);
    panels->addLayout(settings);
    panels->addWidget(fraIntervalChoices);
    panels->addLayout(results, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(shpStart);
    buttons->addWidget(shpPlayAgain);
    buttons->addWidget(cmdShowAnswer);
    buttons->addWidget(shpStop);
    buttons->addStretch(1);
    buttons->addWidget(imgHelp);

    auto* page = new QVBoxLayout(central);
    page->setContentsMargins(10, 10, 10, 6);
    page->setSpacing(10);
    page->addLayout(panels, 1);
    page->addLayout(buttons);
    window->setCentralWidget(central);

    stbStatus = window->statusBar();
    stbStatus->setObjectName(QStringLiteral("stbStatus"));
    stbStatus->setAccessibleName(tr("Status"));
    stbStatusText = Named(new QLabel(stbStatus), QStringLiteral("stbStatusText"), tr("Status"));
    stbStatus->addWidget(stbStatusText, 1);
}

} // namespace sonavel
