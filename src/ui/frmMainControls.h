#pragma once

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
    static constexpr QRgb StartColour = qRgb(0, 192, 0);
    static constexpr QRgb StopColour = qRgb(255, 0, 0);
    static constexpr QRgb PlayAgainColour = qRgb(0, 0, 0);

    explicit frmMainControls(QMainWindow* window);

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
