#pragma once

#include <memory>
#include <string>

namespace sonavel {

class Clock;
class clsErrorHandler;
class clsSettings;
class Desktop;
class ErrorPresenter;
class frmMain;
class HistoryDb;
class MessageBoxes;
class MidiOutput;

// What the program's objects run on: the system in the program, fakes in
// tests. Not owned; they must outlive the ProgramObjects started on them.
struct StartUpServices {
    ErrorPresenter& Presenter;
    MessageBoxes& Boxes;
    Desktop& Desk;
    MidiOutput& Output;
    Clock& PlaybackClock;
};

// The objects that live for the whole run. Members are destroyed in reverse
// order, so the main window, and the engine in it, goes before the settings
// and the error handler that it uses.
struct ProgramObjects {
    ProgramObjects();
    ~ProgramObjects();
    ProgramObjects(const ProgramObjects&) = delete;
    ProgramObjects& operator=(const ProgramObjects&) = delete;

    std::unique_ptr<clsErrorHandler> MyErr;
    std::unique_ptr<clsSettings> objSettings;
    std::string strPath;                   // the settings file
    std::unique_ptr<HistoryDb> objHistory; // beside the settings file
    std::unique_ptr<frmMain> MainWindow;
};

// The folder of the settings file: USERPROFILE where it is set and not empty,
// else HOME, else the folder of the executable.
std::string ProfileFolder();
// folder, the native separator, "snv2_settings.dat"; a separator already at
// the end of folder is not looked for.
std::string SettingsFilePath(const std::string& folder);

// Creates the error handler and the settings object, reads the settings file
// of profileFolder, opens the practice history beside it and shows the main
// window; true when it is shown. When
// anything fails, the error dialog is shown, then the main window is unloaded,
// which rewrites the settings file with the values in memory (defaults in
// place of rejected lines), and destroyed; the result is false.
bool StartUp(ProgramObjects& program, const std::string& profileFolder,
             const StartUpServices& services);

// The entry procedure: start-up on the system's services, then the events of
// the main window until it closes or a termination signal ends the run (at
// once, a modal dialog closed, the settings saved once). Needs the
// QApplication; returns the exit code of the process.
int Main();

} // namespace sonavel
