#include "MainWindowHarness.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace sonavel::uitest {
namespace {

QStringList Split(const char* words) {
    return QString::fromLatin1(words).split(QLatin1Char(' '));
}

TEST(MainWindowPanels, LoadingRestoresTheSavedChoicesAndWritesNothing) {
    MainWindowHarness h([](clsSettings& settings) {
        settings.SetRandomKey(true);
        settings.SetCurrentKey(5);
        settings.SetRandomKeyType(true);
        settings.SetCurrentKeyType(2);
        settings.SetKeyReferenceSettings(2);
        settings.SetCurrentKeyReference(1);
        settings.SetPlaybackSpeed(77);
        settings.SetCurrentNoteDuration(3);
        settings.SetDesc(3, true);
        settings.SetHarm(12, true);
        settings.SetCheatMode(2);
        settings.SetNoteDisplayMode(1);
    });
    EXPECT_TRUE(h.Ticked("optKey_1"));
    EXPECT_TRUE(h.Ticked("optKeyType_1"));
    EXPECT_TRUE(h.Ticked("optReference_2"));
    EXPECT_EQ(h.Find<QComboBox>("cboKey")->currentIndex(), 5);
    EXPECT_EQ(h.Find<QComboBox>("cboKeyType")->currentIndex(), 2);
    EXPECT_EQ(h.Find<QComboBox>("cboKeyReference")->currentIndex(), 1);
    EXPECT_EQ(h.Find<QComboBox>("cboNoteDuration")->currentIndex(), 3);
    EXPECT_EQ(h.Find<QLineEdit>("txtBPM")->text(), QStringLiteral("77"));
    EXPECT_TRUE(h.Ticked("chkDescInt_3"));
    EXPECT_TRUE(h.Ticked("chkHarmInt_12"));
    EXPECT_TRUE(h.Ticked("chkAscInt_5"));
    EXPECT_FALSE(h.Ticked("chkAscInt_6"));
    EXPECT_TRUE(h.Find<QAction>("mnuViewNotes_1")->isChecked());
    EXPECT_TRUE(h.Find<QAction>("mnuViewCheatMode_2")->isChecked());
    EXPECT_FALSE(h.Find<QAction>("mnuViewCheatMode_5")->isChecked());
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("1 2 b3 4 5 b6 7"));
    EXPECT_EQ(h.Entries("lstNoteAnswer_1"), Split("1 2 b3 4 5 b6 7"));

    // Still the random and "no reference" choices of the last run.
    EXPECT_TRUE(h.Settings.RandomKey());
    EXPECT_TRUE(h.Settings.RandomKeyType());
    EXPECT_EQ(h.Settings.KeyReferenceSettings(), 2);
    EXPECT_EQ(h.Settings.CurrentKey(), 5);

    QStringList names;
    for (const std::string& name : h.Settings.IntervalArray)
        names << QString::fromStdString(name);
    ASSERT_EQ(names.size(), 13);
    EXPECT_EQ(h.Entries("lstIntervalAnswer"), names);
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(h.Text(MainWindowHarness::Indexed("lblInterval", i)), names[i]);
}

TEST(MainWindowPanels, ChoosingAnEntrySwitchesItsPanelToTheFixedOption) {
    MainWindowHarness h;
    h.Click("optKey_1");
    EXPECT_TRUE(h.Settings.RandomKey());
    h.Choose("cboKey", 3);
    EXPECT_TRUE(h.Ticked("optKey_0"));
    EXPECT_FALSE(h.Settings.RandomKey());
    EXPECT_EQ(h.Settings.CurrentKey(), 3);

    h.Click("optKeyType_1");
    EXPECT_TRUE(h.Settings.RandomKeyType());
    h.Choose("cboKeyType", 1);
    EXPECT_TRUE(h.Ticked("optKeyType_0"));
    EXPECT_FALSE(h.Settings.RandomKeyType());
    EXPECT_EQ(h.Settings.CurrentKeyType(), 1);

    h.Click("optReference_2");
    EXPECT_EQ(h.Settings.KeyReferenceSettings(), 2);
    h.Click("optReference_1");
    EXPECT_EQ(h.Settings.KeyReferenceSettings(), 1);
    h.Choose("cboKeyReference", 2);
    EXPECT_TRUE(h.Ticked("optReference_0"));
    EXPECT_EQ(h.Settings.KeyReferenceSettings(), 0);
    EXPECT_EQ(h.Settings.CurrentKeyReference(), 2);

    h.Choose("cboNoteDuration", 0);
    EXPECT_EQ(h.Settings.CurrentNoteDuration(), 0);
}

TEST(MainWindowPanels, NoteListsFollowKeyKeyTypeAndDisplayMode) {
    MainWindowHarness h;
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("C D E F G A B"));
    h.Choose("cboKey", 1);
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("G A B C D E F#"));
    h.Choose("cboKeyType", 1);
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("G A Bb C D Eb F"));
    EXPECT_EQ(h.Entries("lstNoteAnswer_1"), Split("G A Bb C D Eb F"));

    h.Trigger("mnuViewNotes_1");
    EXPECT_EQ(h.Settings.NoteDisplayMode(), 1);
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("1 2 b3 4 5 b6 b7"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(h.Find<QAction>(MainWindowHarness::Indexed("mnuViewNotes", i))->isChecked(),
                  i == 1);

    // Degrees do not depend on the key: the lists stay as they are.
    const QListWidgetItem* before = h.Find<QListWidget>("lstNoteAnswer_0")->item(0);
    h.Choose("cboKey", 2);
    EXPECT_EQ(h.Settings.CurrentKey(), 2);
    EXPECT_EQ(h.Find<QListWidget>("lstNoteAnswer_0")->item(0), before);
    // A key type always refills them.
    h.Choose("cboKeyType", 0);
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("1 2 3 4 5 6 7"));

    h.Trigger("mnuViewNotes_2");
    EXPECT_EQ(h.Entries("lstNoteAnswer_1"), Split("Do Re Mi Fa Sol La Ti"));
    h.Trigger("mnuViewNotes_0");
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("D E F# G A B C#"));
    EXPECT_TRUE(h.Find<QAction>("mnuViewNotes_0")->isChecked());
}

TEST(MainWindowPanels, TempoIsCheckedWhenTheBoxIsLeft) {
    struct Row {
        const char* Typed;
        const char* Shown;
        int16_t Tempo;
    };
    const Row table[] = {
        {"abc", "100", 100},     {"250", "200", 200},     {"10", "40", 40},
        {"40", "40", 40},        {"200", "200", 200},     {"", "100", 100},
        {"1e999", "200", 200},   {"-5", "40", 40},        {"100.5", "100.5", 100},
        {"200.4", "200.4", 200}, {" 120 ", " 120 ", 120}, {"39.5", "39.5", 40},
    };
    MainWindowHarness h;
    auto* box = h.Find<QLineEdit>("txtBPM");
    for (const Row& row : table) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, QString::fromLatin1(row.Typed));
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(box->text().toStdString(), row.Shown) << "typed \"" << row.Typed << "\"";
        EXPECT_EQ(h.Settings.PlaybackSpeed(), row.Tempo) << "typed \"" << row.Typed << "\"";
    }

    // Leaving the box checks it as well.
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("999"));
    h.Find<QWidget>("cboNoteDuration")->setFocus();
    EXPECT_EQ(box->text(), QStringLiteral("200"));
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 200);

    // The arrows step the tempo inside 40..200 and write it at once.
    h.Click("updBMP_Up");
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 200);
    h.Click("updBMP_Down");
    h.Click("updBMP_Down");
    EXPECT_EQ(box->text(), QStringLiteral("198"));
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 198);
    box->setText(QStringLiteral("junk"));
    h.Click("updBMP_Up");
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 101);
}

TEST(MainWindowPanels, SelectAllTicksAColumnOrClearsAFullOne) {
    MainWindowHarness h;
    auto column = [&h](const char* name) {
        std::vector<bool> ticked;
        for (int i = 0; i < 13; ++i)
            ticked.push_back(h.Ticked(MainWindowHarness::Indexed(name, i)));
        return ticked;
    };
    const std::vector<bool> all(13, true), none(13, false);

    // Twelve of thirteen: the thirteenth is ticked.
    for (int i = 1; i < 13; ++i)
        if (!h.Ticked(MainWindowHarness::Indexed("chkAscInt", i)))
            h.Click(MainWindowHarness::Indexed("chkAscInt", i));
    h.Click("chkSelectAll_0");
    EXPECT_EQ(column("chkAscInt"), all);
    EXPECT_EQ(h.Settings.SelIntervalsAsc, all);
    EXPECT_TRUE(h.Ticked("chkSelectAll_0"));
    h.Click("chkSelectAll_0");
    EXPECT_EQ(column("chkAscInt"), none);
    EXPECT_EQ(h.Settings.SelIntervalsAsc, none);
    EXPECT_FALSE(h.Ticked("chkSelectAll_0"));

    // A column ticked by hand is cleared, and the box shows it is not full.
    for (int i = 0; i < 13; ++i)
        h.Click(MainWindowHarness::Indexed("chkDescInt", i));
    ASSERT_FALSE(h.Ticked("chkSelectAll_1"));
    h.Click("chkSelectAll_1");
    EXPECT_EQ(column("chkDescInt"), none);
    EXPECT_EQ(h.Settings.SelIntervalsDesc, none);
    EXPECT_FALSE(h.Ticked("chkSelectAll_1"));
    h.Click("chkSelectAll_1");
    EXPECT_EQ(column("chkDescInt"), all);
    EXPECT_TRUE(h.Ticked("chkSelectAll_1"));

    h.Click("chkSelectAll_2");
    EXPECT_EQ(h.Settings.SelIntervalsHarm, all);
    EXPECT_EQ(h.Settings.SelIntervalsAsc, none);
}

TEST(MainWindowPanels, PressOnAnIntervalNameTogglesItsRow) {
    struct Row {
        bool Asc, Desc, Harm;
        Qt::MouseButton Button;
        bool After;
    };
    const Row table[] = {
        {false, false, true, Qt::LeftButton, true},  {true, true, false, Qt::LeftButton, false},
        {true, false, false, Qt::RightButton, true}, {true, true, true, Qt::MiddleButton, false},
        {false, true, false, Qt::LeftButton, true},
    };
    MainWindowHarness h;
    for (int r = 0; r < int(std::size(table)); ++r) {
        const Row& row = table[r];
        const int i = r + 2;
        const bool start[] = {row.Asc, row.Desc, row.Harm};
        const char* boxes[] = {"chkAscInt", "chkDescInt", "chkHarmInt"};
        for (int c = 0; c < 3; ++c)
            if (h.Ticked(MainWindowHarness::Indexed(boxes[c], i)) != start[c])
                h.Click(MainWindowHarness::Indexed(boxes[c], i));
        QTest::mousePress(h.Find<QLabel>(MainWindowHarness::Indexed("lblInterval", i)), row.Button);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(h.Ticked(MainWindowHarness::Indexed(boxes[c], i)), row.After)
                << "row " << i << " column " << c;
        EXPECT_EQ(h.Settings.SelIntervalsAsc[i], row.After);
        EXPECT_EQ(h.Settings.SelIntervalsDesc[i], row.After);
        EXPECT_EQ(h.Settings.SelIntervalsHarm[i], row.After);
    }
    EXPECT_FALSE(h.Ticked("chkSelectAll_0"));

    // Not while the interval frame is disabled.
    h.Click("cmdStart");
    QTest::mousePress(h.Find<QLabel>("lblInterval_0"), Qt::LeftButton);
    EXPECT_FALSE(h.Ticked("chkAscInt_0"));
    EXPECT_FALSE(h.Settings.SelIntervalsAsc[0]);
}

TEST(MainWindowPanels, FileAndHelpMenusUseTheDesktop) {
    MainWindowHarness h;
    h.Trigger("mnuFileOpen");
    ASSERT_EQ(h.Boxes.Boxes.size(), 1u);
    EXPECT_EQ(h.Boxes.Boxes[0].Title, "Sonavel - Advanced");
    EXPECT_EQ(h.Boxes.Boxes[0].Text, "The settings file has not been created yet.");
    EXPECT_EQ(h.Boxes.Boxes[0].Icon, MsgIcon::Exclamation);
    EXPECT_TRUE(h.Desk.EditedFiles.empty());

    h.Settings.SaveToDisk(h.SettingsPath);
    h.Trigger("mnuFileOpen");
    EXPECT_EQ(h.Desk.EditedFiles, std::vector<std::string>{h.SettingsPath});
    EXPECT_EQ(h.Boxes.Boxes.size(), 1u);

    // A desktop without an editor for the file says so rather than nothing.
    h.Desk.EditorStarts = false;
    h.Trigger("mnuFileOpen");
    ASSERT_EQ(h.Boxes.Boxes.size(), 2u);
    EXPECT_EQ(h.Boxes.Boxes[1].Text,
              "No text editor could be started for the settings file " + h.SettingsPath);
    h.Boxes.Boxes.pop_back();

    const std::string page = h.Dir.filePath(QStringLiteral("help/index.htm")).toStdString();
    h.Trigger("mnuHelpContents");
    ASSERT_EQ(h.Boxes.Boxes.size(), 2u);
    EXPECT_EQ(h.Boxes.Boxes[1].Text, "Cannot find the help file " + page);
    EXPECT_EQ(h.Boxes.Boxes[1].Icon, MsgIcon::Critical);
    EXPECT_TRUE(h.Desk.HelpPages.empty());

    ASSERT_TRUE(QDir(h.Dir.path()).mkdir(QStringLiteral("help")));
    QFile file(QString::fromStdString(page));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    h.Trigger("mnuHelpContents");
    h.Click("imgHelp");
    EXPECT_EQ(h.Desk.HelpPages, (std::vector<std::string>{page, page}));
    EXPECT_EQ(h.Find<QWidget>("imgHelp")->toolTip(), QStringLiteral("Help Topics"));
    EXPECT_EQ(h.Boxes.Boxes.size(), 2u);
}

TEST(MainWindowPanels, ToolsAndAboutOpenModalDialogs) {
    MainWindowHarness h;
    for (const char* item : {"mnuToolsMidiSetup", "mnuHelpAbout"}) {
        QString shown;
        QWidget* parent = nullptr;
        QTimer::singleShot(0, h.Window.get(), [&] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                shown = QString::fromLatin1(dialog->metaObject()->className());
                parent = dialog->parentWidget();
                dialog->close();
            }
        });
        h.Trigger(item);
        EXPECT_EQ(parent, h.Window.get()) << item;
        EXPECT_EQ(shown, QString::fromLatin1(std::string(item) == "mnuToolsMidiSetup"
                                                 ? "sonavel::frmMIDISetup"
                                                 : "sonavel::frmAbout"));
    }
    EXPECT_TRUE(h.Presenter.Reports.empty());
}

// As when no settings file exists: the labels were never built, yet the window lists the
// notes of the current key.
TEST(MainWindowPanels, FirstRunWithoutSettingsFileNamesTheNotes) {
    MainWindowHarness h([](clsSettings& s) { s.NotesArray.clear(); });
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), Split("C D E F G A B"));
    EXPECT_EQ(h.Entries("lstNoteAnswer_1"), Split("C D E F G A B"));
}

} // namespace
} // namespace sonavel::uitest
