#pragma once

#include "engine/clsEngine.h"
#include "history/QuestionLog.h"
#include "settings/clsSettings.h"
#include "ui/DrillMode.h"
#include "ui/MidiKeyboardAnswers.h"
#include "ui/PlaybackThread.h"
#include "ui/frmMainControls.h"

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <exception>
#include <string>

class QCheckBox;
class QComboBox;
class QListWidget;

namespace sonavel {

class Clock;
class clsErrorHandler;
class clsSettings;
class Desktop;
class HistoryDb;
class MessageBoxes;
class MidiInput;
class MidiOutput;

// The trainer's main window: the settings panels, the question flow, the
// answer and score panels and the menus. Every choice is written to the
// settings object at once; the settings file is written when the window
// closes.
//
// Control names: a control's objectName is its name in the program (fraKey,
// cboKey, cmdStart, ...). A member of a control array carries its index after
// an underscore: chkAscInt_0 .. chkAscInt_12, optKey_0, lblNoteAnswer_1. Menus
// and menu items are QActions named the same way (mnuFileOpen,
// mnuViewCheatMode_5, the separator mnuViewCheatMode_4); a menu's QMenu has
// the name of its action. The up-down's arrows are updBMP_Up and updBMP_Down
// inside the widget updBMP; the status bar's text is the label stbStatusText.
// Every control also has an accessible name that reads well to a screen
// reader.
//
// A question plays on a thread of its own, so that the window answers at once
// while it sounds: the engine's feedback and the end of the question arrive as
// queued events, every control that could start playback or change a setting
// is disabled meanwhile, and the menus stay usable. The question plays from a
// copy of the settings taken when it starts; its random choices are written
// back to the settings when its feedback 0 arrives.
class frmMain : public QMainWindow {
    Q_OBJECT
    friend class MidiKeyboardAnswers; // answers in the lists, as the student's picks
public:
    static constexpr const char* ProductName = "Sonavel - Advanced";

    enum QuestionState : int32_t { Idle = 0, Playing = 1, Answering = 2 };

    // The collaborators are not owned and must outlive the window. settingsPath
    // is where closing the window writes the settings.
    frmMain(clsSettings& settings, clsErrorHandler& errors, MidiOutput& output, Clock& clock,
            MessageBoxes& boxes, Desktop& desktop, std::string settingsPath,
            QWidget* parent = nullptr);
    ~frmMain() override;

    // Where the help pages are looked for: the program's folder by default.
    void SetProgramFolder(const std::string& folder) { m_programFolder = folder; }
    // Where answered questions are kept; null (the default) keeps none. Not owned.
    void SetHistory(HistoryDb* history);
    // The MIDI input ports a keyboard may answer on; null (the default) for
    // none. Not owned.
    void SetMidiInput(MidiInput* input) { m_keyboard.SetInput(input); }

    // What closing the window does: writes the settings file, once. Start-up
    // calls it for a window that was never shown.
    void Unload();

    QuestionState State() const { return m_state; }
    // From Start or Play again until the window has taken the question's end.
    bool PlaybackRunning() const { return m_inEngine; }
    const clsEngine& Engine() const { return m_engine; }

    // The score as the window shows it: correct / questions x 100 rounded to
    // one decimal, halves to even, shortest text, then "%". questions > 0.
    static QString ScoreText(int32_t correct, int32_t questions);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectHandlers();

    // The failure path of an event handler: the report is shown and the
    // handler ends; of an internal procedure: recorded and passed on.
    template <class Body> void Handler(const char* src, Body&& body);
    template <class Body> void Procedure(const char* src, Body&& body);

    void Form_Load();
    void GetKeySettings();
    void GetKeyTypeSettings();
    void GetIntervalSettings();
    void GetKeyRefSettings();
    void GetTempo();
    void GetNoteNames();
    void GetCheatMode();
    void GetViewMode();

    void optKey_Click();
    void cboKey_Click();
    void optKeyType_Click();
    void cboKeyType_Click();
    void optReference_Click(int index);
    void cboKeyReference_Click();
    void cboNoteDuration_Click();
    void txtBPM_LostFocus();
    void updBMP_Change(int step);
    void chkAscInt_Click(int index);
    void chkDescInt_Click(int index);
    void chkHarmInt_Click(int index);
    void chkSelectAll_Click(int index);
    void lblInterval_MouseDown(int index);

    void SetQuestionState(QuestionState state);
    void ShowStatus(const QString& text);
    void cmdStart_Click();
    void cmdPlayAgain_Click();
    void cmdShowAnswer_Click();
    void cmdStop_Click();
    void objEngine_Feedback(int32_t& code);
    void UpdateAnswerLabels();

    void cmdValidate_Click();
    void cmdReset_Click();

    void mnuViewCheatMode_Click(int index);
    void mnuViewNotes_Click(int index);
    void mnuViewStatistics_Click();

    void mnuFileOpen_Click();
    void mnuFileExit_Click();
    void mnuToolsMidiSetup_Click();
    void mnuToolsMidiKeyboard_Click();
    void mnuHelpContents_Click();
    void imgHelp_Click();
    void mnuHelpAbout_Click();
    void ShowHelp();

    // Plays the question on the playback thread with the engine's play (its
    // NewQuestion or PlayAgain); src and back are the handler's name and the
    // state to return to should it fail.
    void StartPlayback(const char* src, QuestionState back, void (clsEngine::*play)());
    void PlaybackEnded(const char* src, QuestionState back, std::exception_ptr failure);
    // After a failed Start or Play again: back to the state before playback.
    void RecoverFromPlayback(QuestionState back);
    // Ends the modal dialogs still open when the window closes, so that the
    // program can end.
    void CloseDialogs();
    // Ends a close that had to wait for the question to finish playing.
    void CompletePendingClose();
    // Closes the device after a MIDI setup made while a question played.
    void CloseChangedDevice();
    // Selects an entry by program and runs the box's handler, as a user's
    // choice would.
    void ChooseEntry(QComboBox* combo, int index, void (frmMain::*handler)());
    std::array<QCheckBox*, frmMainControls::IntervalRows>& Column(int index);

    clsSettings& m_settings;
    clsErrorHandler& m_errors;
    MidiOutput& m_output;
    MessageBoxes& m_boxes;
    Desktop& m_desktop;
    std::string m_settingsPath;
    std::string m_programFolder;
    clsSettings m_playSettings; // what the question in play reads
    Clock& m_clock;
    clsEngine m_engine;
    frmMainControls m_c;
    DrillMode m_drill{m_c.mnuView, m_c.stbStatus};
    bool m_drillQuestion = false; // drawn from the drill and not yet answered
    HistoryDb* m_history = nullptr;
    QuestionLog m_log{nullptr};
    MidiKeyboardAnswers m_keyboard{*this};
    int64_t m_sessionStartMs = 0; // wall time the window opened: the Statistics' "this session"
    QPointer<QDialog> m_statistics;

    QuestionState m_state = Idle;
    bool m_missed = false;
    bool m_ignoreSelectAllClick = false;
    int32_t m_questions = 0;
    int32_t m_correct = 0;

    bool m_inEngine = false;      // a question plays on the playback thread
    bool m_closePending = false;  // closed while playing; closes when playback ends
    bool m_deviceChanged = false; // MIDI setup while playing; device closed when it ends
    bool m_unloaded = false;
    // Last, so that it is joined before anything the question uses goes.
    PlaybackThread m_playback;
};

} // namespace sonavel
