#include "startup/modMain.h"

#include "engine/modGeneral.h"
#include "history/HistoryDb.h"
#include "platform/RtMidiInput.h"
#include "platform/SteadyClock.h"
#include "platform/SystemMidiOutput.h"
#include "platform/qt/Artwork.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtMessageBoxes.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"
#include "startup/modSignals.h"
#include "ui/frmError.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <thread>

namespace sonavel {

ProgramObjects::ProgramObjects() = default;
ProgramObjects::~ProgramObjects() = default;

std::string ProfileFolder() {
    // The variable's bytes as they are: a folder name need not be UTF-8, and
    // decoding it would name a folder that does not exist.
    for (const char* name : {"USERPROFILE", "HOME"}) {
        const char* folder = std::getenv(name);
        if (folder && *folder)
            return folder;
    }
    return QCoreApplication::applicationDirPath().toStdString();
}

std::string SettingsFilePath(const std::string& folder) {
    return folder + QString(QDir::separator()).toStdString() + "snv2_settings.dat";
}

bool StartUp(ProgramObjects& program, const std::string& profileFolder,
             const StartUpServices& services) {
    auto makeWindow = [&] {
        return std::make_unique<frmMain>(*program.objSettings, *program.MyErr, services.Output,
                                         services.PlaybackClock, services.Boxes, services.Desk,
                                         program.strPath);
    };
    // The error handler comes first: the failure path below reports through it.
    program.MyErr = std::make_unique<clsErrorHandler>();
    program.MyErr->SetPresenter(&services.Presenter);
    try {
        SeedRandomNumbersFromClock();
        program.strPath = SettingsFilePath(profileFolder);
        program.objSettings = std::make_unique<clsSettings>();
        program.objSettings->MyErr = program.MyErr.get();
        program.objSettings->LoadFromDisk(program.strPath);
        program.MainWindow = makeWindow();
        // The history never stops practice: a history that cannot open says
        // why at the first answer and keeps nothing.
        program.objHistory = std::make_unique<HistoryDb>();
        program.objHistory->Open(profileFolder + QString(QDir::separator()).toStdString() +
                                 HistoryDb::FileName);
        program.MainWindow->SetHistory(program.objHistory.get());
        program.MainWindow->show();
        return true;
    } catch (...) {
        program.MyErr->Show("modMain::Main()", std::current_exception());
        // The main window is loaded, though never shown, so that its unload
        // writes the file anew and the next start finds it readable.
        if (!program.MainWindow && program.objSettings) {
            try {
                program.MainWindow = makeWindow();
            } catch (...) {
                program.MyErr->Show("modMain::Main()", std::current_exception());
            }
        }
        if (program.MainWindow) {
            program.MainWindow->Unload();
            program.MainWindow.reset();
        }
        return false;
    }
}

namespace {

// The end of the run that SIGTERM, SIGINT and SIGHUP ask for, whatever the
// window shows.
void EndOnSignal(ProgramObjects& program) {
    // A logout waits for no click: a failure of the save below, or of one
    // already under way, is written to standard error instead of a dialog.
    if (program.MyErr)
        program.MyErr->SetPresenter(nullptr);
    // The close saves the settings unless the window has done so already.
    if (program.MainWindow)
        program.MainWindow->close();
    // Leaves every event loop running, the one of a modal dialog too (the
    // report of a failed save waits in one, where the close above cannot
    // reach), and makes any dialog opened on the way out return at once.
    QCoreApplication::exit(0);
}

} // namespace

int Main() {
    QApplication::setWindowIcon(ProgramIcon());
    // Names the desktop entry, so a Wayland desktop shows its icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.sonavel.Sonavel"));
    frmError errorDialog;
    QtMessageBoxes boxes;
    QtDesktop desktop;
    SystemMidiOutput output;
    RtMidiInput keyboard;
    SteadyClock clock;
    ProgramObjects program;
    // Installed before the start-up, whose failure report waits in a dialog
    // and is followed by the rewrite of the settings file.
    CloseOnTerminationSignals([&program] { EndOnSignal(program); });
    if (!StartUp(program, ProfileFolder(), {errorDialog, boxes, desktop, output, clock}))
        return 0;
    program.MainWindow->SetMidiInput(&keyboard);

    // The SoundFont takes a moment to load; doing it now, beside the visible
    // window, lets the first Start sound at once.
    // A SoundFont that fails to load here is reported by the first Start.
    std::thread preload([&output] {
        try {
            output.PreloadSynth();
        } catch (...) {
        }
    });
    const int exitCode = QApplication::exec();
    program.MainWindow.reset();
    preload.join();
    return exitCode;
}

} // namespace sonavel
