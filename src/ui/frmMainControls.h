#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QRgb>
#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMainWindow;
class QMenu;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QToolButton;
class QWidget;

namespace sonavel {

// Every control and menu item of the main window, created and laid out inside
// the window given to the constructor, which owns them. The main window fills
// them and connects their handlers. Object names: see frmMain.h.
struct frmMainControls {
    Q_DECLARE_TR_FUNCTIONS(frmMainControls)

public:
    static constexpr int IntervalRows = 13;

    // The colours of the button rims; the first two also colour the verdict.
    // On a dark window (a dark theme) each takes a light counterpart, which
    // stays readable there as the first one does on a light window.
    struct ThemeColour {
        QRgb OnLight;
        QRgb OnDark;
        QRgb On(const QColor& window) const { return window.lightness() < 128 ? OnDark : OnLight; }
    };
    static constexpr ThemeColour StartColour{qRgb(0, 192, 0), qRgb(96, 224, 96)};
    static constexpr ThemeColour StopColour{qRgb(255, 0, 0), qRgb(255, 128, 128)};
    static constexpr ThemeColour PlayAgainColour{qRgb(0, 0, 0), qRgb(224, 224, 224)};

    explicit frmMainControls(QMainWindow* window);

    // Colours the rims for a window of this background colour.
    void ColourRims(const QColor& window);

    QGroupBox* fraKey;
    std::array<QRadioButton*, 2> optKey;
    QComboBox* cboKey;

    QGroupBox* fraKeyType;
    std::array<QRadioButton*, 2> optKeyType;
    QComboBox* cboKeyType;

    QGroupBox* fraCadence;
    std::array<QRadioButton*, 3> optReference;
    QComboBox* cboKeyReference;

    QGroupBox* fraTempo;
    std::array<QLabel*, 3> lblTempo;
    QLineEdit* txtBPM;
    QWidget* updBMP;
    QToolButton* updBMPUp;
    QToolButton* updBMPDown;
    QComboBox* cboNoteDuration;

    QGroupBox* fraIntervalChoices;
    QLabel* lblAsc;
    QLabel* lblDesc;
    QLabel* Label1;
    std::array<QLabel*, IntervalRows> lblInterval;
    std::array<QCheckBox*, IntervalRows> chkAscInt;
    std::array<QCheckBox*, IntervalRows> chkDescInt;
    std::array<QCheckBox*, IntervalRows> chkHarmInt;
    std::array<QCheckBox*, 3> chkSelectAll;
    QLabel* lblSelectAll;

    QGroupBox* fraAnswers;
    QLabel* Label2;
    std::array<QLabel*, 2> lblNoteAnswer;
    std::array<QListWidget*, 2> lstNoteAnswer;
    QLabel* lblIntervalAnswer;
    QListWidget* lstIntervalAnswer;
    QPushButton* cmdValidate;

    QGroupBox* fraScore;
    QLabel* lblQuestions;
    QLabel* lblTotalQ;
    QLabel* lblCorrectAnswers;
    QLabel* lblTotalA;
    QLabel* lblYourScore;
    QLabel* lblScore;
    QPushButton* cmdReset;

    QPushButton* cmdStart;
    QPushButton* cmdPlayAgain;
    QPushButton* cmdShowAnswer;
    QPushButton* cmdStop;
    QFrame* shpStart;
    QFrame* shpStop;
    QFrame* shpPlayAgain;

    QLabel* lblFeedback;
    QToolButton* imgHelp;
    QStatusBar* stbStatus;
    QLabel* stbStatusText;

    QMenu* mnuFile;
    QAction* mnuFileOpen;
    QAction* mnuFileExit;
    QMenu* mnuView;
    std::array<QAction*, 3> mnuViewNotes;
    QMenu* mnuViewCheat;
    std::array<QAction*, 6> mnuViewCheatMode; // entry 4 is a separator
    QAction* mnuViewStatistics;
    QMenu* mnuTools;
    QAction* mnuToolsMidiSetup;
    QAction* mnuToolsMidiKeyboard;
    QMenu* mnuHelp;
    QAction* mnuHelpContents;
    QAction* mnuHelpAbout;

private:
    void BuildSettingsPanels(QWidget* parent);
    void BuildIntervalGrid(QWidget* parent);
    void BuildAnswerPanels(QWidget* parent);
    void BuildButtons(QWidget* parent);
    void BuildMenus(QMainWindow* window);
    void Layout(QMainWindow* window, QWidget* central);
};

} // namespace sonavel
