#include "MainWindowHarness.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <tuple>

namespace sonavel::uitest {
namespace {

QString At(const char* name, int index) {
    return MainWindowHarness::Indexed(name, index);
}
QStringList Names(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

// Loading restores the saved choices without running a handler; choosing an
// entry afterwards switches its panel to the fixed option.
TEST(MainWindowPanels, ShowTheSavedChoicesThenTakeTheUsers) {
    MainWindowHarness h([](clsSettings& s) {
        s.SetRandomKey(true);
        s.SetCurrentKey(5);
        s.SetRandomKeyType(true);
        s.SetCurrentKeyType(2);
        s.SetKeyReferenceSettings(2);
        s.SetCurrentKeyReference(1);
        s.SetPlaybackSpeed(77);
        s.SetCurrentNoteDuration(3);
        s.SetDesc(3, true);
        s.SetCheatMode(2);
        s.SetNoteDisplayMode(1);
    });
    clsSettings& s = h.Settings;
    const std::pair<const char*, int> combos[] = {
        {"cboKey", 5}, {"cboKeyType", 2}, {"cboKeyReference", 1}, {"cboNoteDuration", 3}};
    for (const auto& [name, index] : combos)
        EXPECT_EQ(h.Find<QComboBox>(name)->currentIndex(), index) << name;
    for (const char* name : {"optKey_1", "optKeyType_1", "optReference_2", "chkDescInt_3"})
        EXPECT_TRUE(h.Ticked(name)) << name;
    EXPECT_FALSE(h.Ticked("chkAscInt_3"));
    EXPECT_EQ(h.Find<QLineEdit>("txtBPM")->text(), QStringLiteral("77"));
    for (const char* name : {"mnuViewCheatMode_2", "mnuViewNotes_1"})
        EXPECT_TRUE(h.Find<QAction>(name)->isChecked()) << name;
    EXPECT_FALSE(h.Find<QAction>("mnuViewCheatMode_5")->isChecked());
    const QStringList intervals = Names(s.IntervalArray);
    EXPECT_EQ(h.Entries("lstIntervalAnswer"), intervals);
    for (int i = 0; i < intervals.size(); ++i)
        EXPECT_EQ(h.Text(At("lblInterval", i)), intervals[i]);
    EXPECT_EQ(std::tuple(s.RandomKey(), s.RandomKeyType(), s.KeyReferenceSettings()),
              std::tuple(true, true, 2));

    for (const auto& [name, index] : combos)
        h.Choose(name, index - 1);
    EXPECT_TRUE(h.Ticked("optKey_0") && h.Ticked("optKeyType_0") && h.Ticked("optReference_0"));
    EXPECT_EQ(std::tuple(s.RandomKey(), s.CurrentKey(), s.RandomKeyType(), s.CurrentKeyType(),
                         s.KeyReferenceSettings(), s.CurrentKeyReference(),
                         s.CurrentNoteDuration()),
              std::tuple(false, 4, false, 1, 0, 0, 2));
    h.Click("optKey_1");
    h.Click("optKeyType_1");
    h.Click("optReference_1");
    EXPECT_EQ(std::tuple(s.RandomKey(), s.RandomKeyType(), s.KeyReferenceSettings()),
              std::tuple(true, true, 1));
}

// Without a settings file nothing has named the notes before the window loads.
TEST(MainWindowPanels, FirstRunWithoutSettingsFileNamesTheNotes) {
    MainWindowHarness h([](clsSettings& s) { s.NotesArray.clear(); });
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), QString("C D E F G A B").split(' '));
    EXPECT_EQ(h.Entries("lstNoteAnswer_1"), h.Entries("lstNoteAnswer_0"));
}

TEST(MainWindowPanels, NoteListsFollowKeyKeyTypeAndDisplayMode) {
    MainWindowHarness h;
    const std::pair<const char*, int> steps[] = {{"cboKey", 1},         {"cboKeyType", 1},
                                                 {"mnuViewNotes_1", 1}, {"cboKeyType", 0},
                                                 {"mnuViewNotes_2", 2}, {"mnuViewNotes_0", 0}};
    for (const auto& [control, value] : steps) {
        SCOPED_TRACE(control);
        const QStringList before = h.Entries("lstNoteAnswer_0");
        if (QString(control).startsWith("mnu")) {
            h.Trigger(control);
            EXPECT_EQ(h.Settings.NoteDisplayMode(), value);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(h.Find<QAction>(At("mnuViewNotes", i))->isChecked(), i == value);
        } else {
            h.Choose(control, value);
        }
        EXPECT_NE(h.Entries("lstNoteAnswer_0"), before);
        EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Names(h.Settings.NotesArray));
        EXPECT_EQ(h.Entries("lstNoteAnswer_1"), Names(h.Settings.NotesArray));
    }
}

TEST(MainWindowPanels, TempoIsCheckedWhenTheBoxIsLeft) {
    // The nearest values on either side of each bound; a tempo is rounded half
    // to even before it is compared.
    const std::tuple<const char*, const char*, int> table[] = {
        {"abc", "100", 100},   {"1e999", "200", 200}, {"200.4", "200.4", 200},
        {"200.6", "200", 200}, {"39.5", "39.5", 40},  {"39.4", "40", 40}};
    MainWindowHarness h;
    auto* box = h.Find<QLineEdit>("txtBPM");
    for (const auto& [typed, shown, tempo] : table) {
        box->selectAll();
        QTest::keyClicks(box, QString::fromLatin1(typed));
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(box->text().toStdString(), shown) << "typed " << typed;
        EXPECT_EQ(h.Settings.PlaybackSpeed(), tempo) << "typed " << typed;
    }
    box->setFocus();
    box->setText(QStringLiteral("999"));
    h.Find<QWidget>("cboNoteDuration")->setFocus();
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 200);

    // The arrows step the tempo in force, inside the range, and write it at once.
    h.Click("updBMP_Up");
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 200);
    h.Click("updBMP_Down");
    EXPECT_EQ(box->text(), QStringLiteral("199"));
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 199);
    box->setText(QStringLiteral("junk"));
    h.Click("updBMP_Up");
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 101);
}

TEST(MainWindowPanels, SelectAllTicksAColumnOrClearsAFullOne) {
    MainWindowHarness h;
    const char* columns[] = {"chkAscInt", "chkDescInt", "chkHarmInt"};
    const std::vector<bool>* flags[] = {&h.Settings.SelIntervalsAsc, &h.Settings.SelIntervalsDesc,
                                        &h.Settings.SelIntervalsHarm};
    // Ticks by hand the rows from `first` on, then clicks select-all.
    auto selectAll = [&](int c, int first, bool expected) {
        for (int i = 0; i < 13; ++i)
            if (h.Ticked(At(columns[c], i)) != (i >= first))
                h.Click(At(columns[c], i));
        h.Click(At("chkSelectAll", c));
        for (int i = 0; i < 13; ++i)
            EXPECT_EQ(h.Ticked(At(columns[c], i)), expected) << c << i;
        EXPECT_EQ(*flags[c], std::vector<bool>(13, expected)) << c;
        EXPECT_EQ(h.Ticked(At("chkSelectAll", c)), expected) << c;
    };
    for (int c = 0; c < 3; ++c) {
        selectAll(c, 1, true);  // twelve of thirteen
        selectAll(c, 0, false); // full, as select-all left it
    }
    selectAll(1, 0, false); // full by hand, the box still clear
}

TEST(MainWindowPanels, PressOnAnIntervalNameTogglesItsRow) {
    // Cleared when both its ascending and descending boxes are ticked, else
    // ticked whole, whatever the button.
    const std::tuple<bool, bool, bool, Qt::MouseButton, bool> table[] = {
        {false, false, true, Qt::LeftButton, true},
        {true, true, false, Qt::LeftButton, false},
        {true, false, false, Qt::RightButton, true},
        {true, true, true, Qt::MiddleButton, false},
        {false, true, false, Qt::LeftButton, true}};
    const char* columns[] = {"chkAscInt", "chkDescInt", "chkHarmInt"};
    MainWindowHarness h;
    int i = 2;
    for (const auto& [asc, desc, harm, button, after] : table) {
        const bool start[] = {asc, desc, harm};
        for (int c = 0; c < 3; ++c)
            if (h.Ticked(At(columns[c], i)) != start[c])
                h.Click(At(columns[c], i));
        QTest::mousePress(h.Find<QLabel>(At("lblInterval", i)), button);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(h.Ticked(At(columns[c], i)), after) << "row " << i << " column " << c;
        EXPECT_EQ(std::tuple(h.Settings.SelIntervalsAsc[i], h.Settings.SelIntervalsDesc[i],
                             h.Settings.SelIntervalsHarm[i]),
                  std::tuple(after, after, after));
        ++i;
    }
    // Not while the interval frame is disabled.
    h.Click("cmdStart");
    QTest::mousePress(h.Find<QLabel>("lblInterval_0"), Qt::LeftButton);
    EXPECT_FALSE(h.Settings.SelIntervalsAsc[0]);
}

TEST(MainWindowPanels, MenusReachTheDesktopAndOpenTheAboutBox) {
    MainWindowHarness h;
    auto boxes = [&h] { return h.Boxes.Boxes.size(); };
    h.Trigger("mnuFileOpen");
    EXPECT_EQ(boxes(), 1u) << "the file has not been created yet";
    h.Settings.SaveToDisk(h.SettingsPath);
    h.Trigger("mnuFileOpen");
    EXPECT_EQ(boxes(), 1u);
    h.Desk.EditorStarts = false; // a desktop without an editor for it says so
    h.Trigger("mnuFileOpen");
    ASSERT_EQ(boxes(), 2u);
    EXPECT_NE(h.Boxes.Boxes[1].Text.find(h.SettingsPath), std::string::npos);
    EXPECT_EQ(h.Desk.EditedFiles, std::vector<std::string>(2, h.SettingsPath));

    const std::string page = h.Dir.filePath(QStringLiteral("help/index.htm")).toStdString();
    h.Trigger("mnuHelpContents");
    ASSERT_EQ(boxes(), 3u);
    EXPECT_EQ(h.Boxes.Boxes[2].Text, "Cannot find the help file " + page);
    ASSERT_TRUE(QDir(h.Dir.path()).mkdir(QStringLiteral("help")));
    ASSERT_TRUE(QFile(QString::fromStdString(page)).open(QIODevice::WriteOnly));
    h.Trigger("mnuHelpContents");
    h.Click("imgHelp");
    EXPECT_EQ(h.Desk.HelpPages, std::vector<std::string>(2, page));
    EXPECT_EQ(boxes(), 3u);

    // About opens modal over the window, with its caption and icon, and its
    // OK closes it.
    QString title;
    bool iconFromWindow = false, pictureShown = false, closedByOK = false;
    QTimer::singleShot(0, h.Window.get(), [&] {
        auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!about || about->parentWidget() != h.Window.get())
            return;
        title = about->windowTitle();
        iconFromWindow = about->windowIcon().cacheKey() == h.Window->windowIcon().cacheKey();
        pictureShown = !about->findChild<QLabel*>("imgScream")->pixmap().isNull();
        about->findChild<QPushButton*>("cmdOK")->click();
        closedByOK = !about->isVisible();
        about->reject(); // a dialog left open would hold the test
    });
    h.Trigger("mnuHelpAbout");
    EXPECT_EQ(title, QStringLiteral("About ") + h.Window->windowTitle());
    EXPECT_TRUE(iconFromWindow && pictureShown && closedByOK);
    EXPECT_TRUE(h.Presenter.Reports.empty());
}

} // namespace
} // namespace sonavel::uitest
