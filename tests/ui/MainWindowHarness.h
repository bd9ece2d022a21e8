#pragma once

#include "RecordingDesktop.h"
#include "RecordingMessageBoxes.h"
#include "RecordingMidiOutput.h"
#include "RecordingPresenter.h"
#include "WatchingClock.h"
#include "engine/modGeneral.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace sonavel::uitest {

inline QString At(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

// The main window on fakes (a recording MIDI device on a virtual clock,
// recorded message boxes, reports and desktop requests), driven by the object
// names of its controls as a user would.
class MainWindowHarness {
public:
    // prepare runs on the settings before the window loads them; device, when
    // given, replaces the recording one and must outlive the harness.
    explicit MainWindowHarness(const std::function<void(clsSettings&)>& prepare = {},
                               MidiOutput* device = nullptr) {
        SeedRandomNumbers(20080127);
        Errors.SetPresenter(&Presenter);
        Settings.MyErr = &Errors;
        Settings.SetCurrentKey(Settings.CurrentKey()); // names the notes, as a read file does
        if (prepare)
            prepare(Settings);
        SettingsPath = Dir.filePath(QStringLiteral("snv2_settings.dat")).toStdString();
        Window = std::make_unique<frmMain>(Settings, Errors, device ? *device : Output, Clock,
                                           Boxes, Desk, SettingsPath);
        Window->SetProgramFolder(Dir.path().toStdString());
        Window->show();
        Window->activateWindow();
        QCoreApplication::processEvents();
    }

    QTemporaryDir Dir;
    fakes::RecordingPresenter Presenter;
    clsErrorHandler Errors;
    clsSettings Settings;
    fakes::WatchingClock Clock;
    fakes::RecordingMidiOutput Output{&Clock};
    fakes::RecordingMessageBoxes Boxes;
    fakes::RecordingDesktop Desk;
    std::string SettingsPath;
    std::unique_ptr<frmMain> Window;

    template <class T = QWidget> T* Find(const QString& name) const {
        T* found = Window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << "no control named " << name.toStdString();
        return found;
    }

    // The question plays on its own thread and reports through queued events:
    // waits in the event loop, never sleeping, until the window has taken its
    // end (or a hook of the clock holds it).
    void Settle() {
        while (Window->PlaybackRunning() && !Clock.InHook)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // Option buttons and check boxes take clicks on their mark, at the left.
    void Click(const QString& name) {
        auto* button = Find<QAbstractButton>(name);
        const bool marked = button->inherits("QRadioButton") || button->inherits("QCheckBox");
        QTest::mouseClick(button, Qt::LeftButton, {},
                          marked ? QPoint(8, button->height() / 2) : button->rect().center());
        Settle();
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : Window.get(), Qt::Key(key), modifiers);
        Settle();
    }
    void Trigger(const QString& name) {
        Find<QAction>(name)->trigger();
        Settle();
    }
    // The keyboard changes a closed drop-down list without its pop-up.
    void Choose(const QString& name, int index) {
        auto* combo = Find<QComboBox>(name);
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
    }
    void Pick(const QString& name, int row) {
        auto* list = Find<QListWidget>(name);
        ASSERT_TRUE(row >= 0 && row < list->count()) << name.toStdString() << " row " << row;
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    void AnswerCorrectly() {
        Pick(QStringLiteral("lstNoteAnswer_0"), Window->Engine().FirstNote());
        Pick(QStringLiteral("lstNoteAnswer_1"), Window->Engine().SecondNote());
        Pick(QStringLiteral("lstIntervalAnswer"), Window->Engine().CurrentInterval());
    }

    QStringList Entries(const QString& name) const {
        QStringList entries;
        for (auto* list = Find<QListWidget>(name); entries.size() < list->count();)
            entries << list->item(int(entries.size()))->text();
        return entries;
    }
    QString Text(const QString& name) const { return Find<QLabel>(name)->text(); }
    bool On(const QString& name) const { return Find<QWidget>(name)->isEnabled(); }
    bool Ticked(const QString& name) const { return Find<QAbstractButton>(name)->isChecked(); }
};

} // namespace sonavel::uitest
